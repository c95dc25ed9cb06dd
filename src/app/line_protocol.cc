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
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    // A negative id is refused anyway, so the one value beyond kMax that
    // would fit (-2^63) needs no special case.
    if (value > kMax) return std::nullopt;
  }
  if (negative && value != 0) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

void handleLine(Core& core, std::string_view rawLine, bool loop) {
  std::string repaired;
  std::string_view line = rawLine;
  if (!isValidUtf8(rawLine)) {
    repaired = toValidUtf8(rawLine);
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
  if (line.size() > core.state.maxLineBytes) {
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
