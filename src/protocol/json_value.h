#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace kestrove {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
// Keys sorted by byte, which is what the writer relies on for sorted output.
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

struct JsonValue {
  using Storage =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, JsonArray, JsonObject>;
  Storage value;

  JsonValue() : value(nullptr) {}
  JsonValue(std::nullptr_t) : value(nullptr) {}
  JsonValue(bool b) : value(b) {}
  JsonValue(int i) : value(static_cast<std::int64_t>(i)) {}
  JsonValue(std::int64_t i) : value(i) {}
  JsonValue(std::uint32_t i) : value(static_cast<std::int64_t>(i)) {}
  JsonValue(double d) : value(d) {}
  JsonValue(const char* s) : value(std::string(s)) {}
  JsonValue(std::string s) : value(std::move(s)) {}
  JsonValue(JsonArray a) : value(std::move(a)) {}
  JsonValue(JsonObject o) : value(std::move(o)) {}

  bool operator==(const JsonValue& other) const = default;
};

}  // namespace kestrove
