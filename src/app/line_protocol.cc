#include "app/line_protocol.h"

#include <limits>

#include "app/utf8_text.h"
#include "commands/dispatcher.h"
#include "protocol/fail.h"
#include "protocol/reply.h"

namespace kestrove {

std::vector<std::string> tokenize(std::string_view line) {
  std::vector<std::string> words;
  words.reserve(8);
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<std::int64_t> parseRequestId(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::int64_t>::max();
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // Tested before the step, which could otherwise wrap past 2^64. A
    // negative id is refused anyway, so the one value beyond kMax that would
    // fit (-2^63) needs no special case.
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (negative && value != 0) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The first word of a line, or nothing when it has none.
std::string_view firstWord(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size() && isSeparator(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !isSeparator(line[end])) ++end;
  return line.substr(start, end - start);
}

}  // namespace

void handleLine(Core& core, std::string_view rawLine, bool loop, bool overLimit) {
  // Repair never shortens a line, so one that is already too long stays so;
  // of it only the first word still matters (a request id to echo), and a
  // huge line is neither copied nor split whole.
  const bool tooLong = overLimit || rawLine.size() > core.state.maxLineBytes;
  std::string repaired;
  std::string_view line = tooLong ? firstWord(rawLine) : rawLine;
  if (!isValidUtf8(line)) {
    repaired = toValidUtf8(line);
    line = repaired;
  }
  std::vector<std::string> words = tokenize(line);
  if (words.empty()) return;

  std::optional<std::int64_t> requestId;
  if (words[0][0] == '#') {
    requestId = parseRequestId(std::string_view(words[0]).substr(1));
    if (!requestId) {
      core.writer.emit(JsonObject{{"ok", false}, {"error", "bad_id"}});
      return;
    }
    words.erase(words.begin());
  }

  CommandOutcome outcome;
  if (tooLong || line.size() > core.state.maxLineBytes) {
    outcome.failure = std::make_exception_ptr(Fail("line_too_long"));
  } else {
    try {
      outcome.payload = runCommand(core, words, loop);
    } catch (...) {
      outcome.failure = std::current_exception();
    }
  }
  // The envelope is written over the payload rather than merged into it:
  // this is the path every stdin line takes.
  const JsonObject envelope = replyEnvelope(outcome, requestId);
  const bool ok = replyIsOk(envelope);
  static const JsonObject kNoPayload;
  core.writer.emit(outcome.failure ? kNoPayload : outcome.payload, envelope);
  if (loop && ok && !words.empty() && words[0] == "quit") core.exit(0);
}

}  // namespace kestrove
