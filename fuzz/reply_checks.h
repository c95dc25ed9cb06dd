#pragma once

// What every line the helper writes must be, judged without the helper's own
// code: the JSON is parsed by another library, and request ids are read
// with 128-bit arithmetic.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

namespace kestrove::fuzz {

// Aborts, so that libFuzzer reports the input.
void require(bool condition);

// One compact JSON object whose every object has its keys in strictly
// ascending order (so no key twice: a parser would merge them unseen).
nlohmann::json parseLine(std::string_view line);

// The request-id word at the start of an input line, as the protocol
// defines it: "#", an optional sign, digits, a value in 0 ... 2^63 - 1.
struct RequestIdWord {
  enum class Kind { None, Malformed, Valid } kind = Kind::None;
  std::int64_t value = 0;
};
RequestIdWord requestIdWord(std::string_view line);

// Whether the line has any word (anything but spaces, tabs and carriage
// returns).
bool hasWords(std::string_view line);

// The reply to `line`, which was not blank, as the protocol requires it:
// a failed id is exactly bad_id, a valid one is echoed, an over-long line is
// line_too_long.
void checkReply(std::string_view line, const nlohmann::json& reply);

// An event: a name, and no reply envelope.
void checkEvent(const nlohmann::json& event);

}  // namespace kestrove::fuzz
