#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrove {

// The first `count` user-perceived characters (extended grapheme clusters)
// of valid UTF-8 text; the whole text when it has fewer.
std::string firstGraphemes(std::string_view utf8, std::size_t count);

}  // namespace kestrove
