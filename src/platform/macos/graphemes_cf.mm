// User-perceived characters from CoreFoundation's composed character
// sequences, standing in for utf8proc, which macOS does not ship.
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>

#include "commands/graphemes.h"
#include "platform/macos/cf_string.h"
#include "platform/macos/portable/utf8_runs.h"

namespace kestrove {
namespace {

// Counts up to `wanted` characters of well-formed `run`; returns how many it
// found and sets `end` to the byte offset after the last one counted.
std::size_t countCharacters(std::string_view run, std::size_t wanted, std::size_t& end) {
  auto text = platform::macos::makeCfString(std::string(run));
  if (!text) {  // cannot happen for a well-formed run; treat bytes as characters
    end = std::min(run.size(), wanted);
    return end;
  }
  const CFIndex length = CFStringGetLength(text.get());
  CFIndex at = 0;
  std::size_t found = 0;
  while (at < length && found < wanted) {
    CFRange range = CFStringGetRangeOfComposedCharactersAtIndex(text.get(), at);
    at = std::max(range.location + range.length, at + 1);
    ++found;
  }
  end = platform::macos::utf8OffsetOfUtf16Index(run, static_cast<std::size_t>(at));
  return found;
}

}  // namespace

std::string firstGraphemes(std::string_view utf8, std::size_t count) {
  std::size_t left = count;
  for (const auto& piece : platform::macos::splitUtf8(utf8)) {
    if (left == 0) return std::string(utf8.substr(0, piece.offset));
    if (!piece.valid) {
      --left;
      continue;
    }
    std::size_t end = 0;
    std::size_t found = countCharacters(utf8.substr(piece.offset, piece.length), left, end);
    if (found == left && end < piece.length) return std::string(utf8.substr(0, piece.offset + end));
    left -= found;
  }
  return std::string(utf8);
}

}  // namespace kestrove
