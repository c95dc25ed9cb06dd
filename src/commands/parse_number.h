#pragma once

#include <optional>
#include <string_view>

namespace kestrove {

// Strict C-library conversion in the "C" locale: the whole text must be a
// number (hexadecimal, infinity and NaN spellings included), with no leading
// or trailing white space. Callers reject what they cannot use.
std::optional<double> parseNumber(std::string_view text);

}  // namespace kestrove
