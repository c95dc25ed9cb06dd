#pragma once

#include <string>
#include <string_view>

namespace kestrove {

// The text of `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD
// (one per maximal ill-formed subpart), so that everything downstream, the
// length check included, sees the same valid text.
std::string toValidUtf8(std::string_view bytes);

bool isValidUtf8(std::string_view bytes);

}  // namespace kestrove
