#include "reply_checks.h"

#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::fuzz {
namespace {

using json = nlohmann::json;

constexpr std::size_t kMaxLineBytes = 4096;

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view firstWord(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size() && isSeparator(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !isSeparator(line[end])) ++end;
  return line.substr(start, end - start);
}

// No white space outside strings.
void requireCompact(std::string_view line) {
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') inString = true;
    require(c != ' ' && c != '\t' && c != '\n' && c != '\r');
  }
}

void requireRect(const json& rect) {
  require(rect.is_object() && rect.size() == 4);
  for (const char* key : {"x", "y", "width", "height"}) require(rect.contains(key) && rect[key].is_number());
}

}  // namespace

void require(bool condition) {
  if (!condition) std::abort();
}

json parseLine(std::string_view line) {
  requireCompact(line);
  // The last key seen in each object being parsed, innermost last.
  std::vector<std::optional<std::string>> lastKeys;
  json::parser_callback_t strictKeys = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) {
      lastKeys.emplace_back();
    } else if (event == json::parse_event_t::object_end) {
      lastKeys.pop_back();
    } else if (event == json::parse_event_t::key) {
      const auto& key = parsed.get_ref<const std::string&>();
      require(!lastKeys.back() || *lastKeys.back() < key);
      lastKeys.back() = key;
    }
    return true;
  };
  json value = json::parse(line, strictKeys, /*allow_exceptions=*/false);
  require(!value.is_discarded() && value.is_object());
  return value;
}

RequestIdWord requestIdWord(std::string_view line) {
  std::string_view word = firstWord(line);
  if (word.empty() || word[0] != '#') return {};
  word.remove_prefix(1);
  bool negative = false;
  if (!word.empty() && (word[0] == '+' || word[0] == '-')) {
    negative = word[0] == '-';
    word.remove_prefix(1);
  }
  if (word.empty()) return {RequestIdWord::Kind::Malformed};
  // Saturates past 2^64, far beyond every value that can be valid.
  const __int128 ceiling = static_cast<__int128>(1) << 64;
  __int128 value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return {RequestIdWord::Kind::Malformed};
    value = value * 10 + (c - '0');
    if (value > ceiling) value = ceiling;
  }
  if (negative) value = -value;
  if (value < 0 || value > std::numeric_limits<std::int64_t>::max()) return {RequestIdWord::Kind::Malformed};
  return {RequestIdWord::Kind::Valid, static_cast<std::int64_t>(value)};
}

bool hasWords(std::string_view line) { return !firstWord(line).empty(); }

void checkReply(std::string_view line, const json& reply) {
  require(reply.contains("ok") && reply["ok"].is_boolean());
  require(!reply.contains("event"));
  const bool ok = reply["ok"].get<bool>();
  require(ok != reply.contains("error"));
  const RequestIdWord id = requestIdWord(line);
  if (id.kind == RequestIdWord::Kind::Malformed) {
    require(reply == json{{"error", "bad_id"}, {"ok", false}});
    return;
  }
  if (id.kind == RequestIdWord::Kind::Valid) {
    require(reply.contains("id") && reply["id"].is_number_integer());
    require(reply["id"].get<std::int64_t>() == id.value);
  } else if (reply.contains("id")) {
    // Only place reports a number of its own: its window's, or null.
    require(ok && firstWord(line) == "place");
    require(reply["id"].is_number_integer() || reply["id"].is_null());
  }
  // UTF-8 repair never shortens a line.
  if (line.size() > kMaxLineBytes) {
    require(!ok && reply["error"] == "line_too_long" && !reply.contains("detail"));
  }
}

void checkEvent(const json& event) {
  require(event.contains("event") && event["event"].is_string());
  require(!event.contains("ok") && !event.contains("error") && !event.contains("detail"));
  const auto name = event["event"].get<std::string>();
  if (name == "esc_long") {
    require(event.size() == 2 && event["heldMs"].is_number_integer());
    return;
  }
  require(event.contains("bundleId") && event["bundleId"].is_string());
  if (name == "app_quit") {
    require(event.size() == 2);
  } else if (name == "window_closed") {
    require(event.size() == 3 && (event["id"].is_number_integer() || event["id"].is_null()));
  } else {
    require(name == "window_created" || name == "moved" || name == "resized");
    // A frame and an id, or neither.
    require(event.size() == 2 || event.size() == 4);
    if (event.size() == 4) {
      requireRect(event["frame"]);
      require(event["id"].is_number_integer() || event["id"].is_null());
    }
  }
}

}  // namespace kestrove::fuzz
