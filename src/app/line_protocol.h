#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core.h"

namespace kestrove {

// Words between spaces, tabs and carriage returns; no quoting, no escaping.
std::vector<std::string> tokenize(std::string_view line);

// The value of a request-id word without its "#": an optional sign, then
// digits only, fitting a signed 64-bit integer and not below 0.
std::optional<std::int64_t> parseRequestId(std::string_view digits);

// Handles one stdin line on the main thread: at most one reply, and the end
// of the process after a successful quit. `overLimit`: the line was longer
// than the limit, and `line` holds only its first word.
void handleLine(Core& core, std::string_view line, bool loop, bool overLimit = false);

}  // namespace kestrove
