#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrove::platform::macos {

// A stretch of bytes: a maximal run of well-formed UTF-8, or one byte that
// does not begin a well-formed sequence.
struct Utf8Piece {
  std::size_t offset = 0;
  std::size_t length = 0;
  bool valid = false;
};

// Splits text into runs CoreFoundation can take (it refuses a whole string
// for one bad byte) and stray bytes, which count as a character each, as
// they do in the core's segmentation on other hosts.
std::vector<Utf8Piece> splitUtf8(std::string_view text);

// The byte offset in well-formed UTF-8 `run` at which the UTF-16 code unit
// `utf16Index` begins; run.size() at or past the end.
std::size_t utf8OffsetOfUtf16Index(std::string_view run, std::size_t utf16Index);

// The UTF-16 code units of well-formed UTF-8 `text`, every character kept
// (a leading U+FEFF too); none when `text` is not well-formed. CoreFoundation
// is handed these rather than the UTF-8 bytes because its UTF-8 decoding
// silently drops a byte-order mark at the start of a string.
std::optional<std::u16string> utf16OfUtf8(std::string_view text);

}  // namespace kestrove::platform::macos
