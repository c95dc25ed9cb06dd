#include <utf8proc.h>

#include "commands/graphemes.h"

namespace kestrove {

std::string firstGraphemes(std::string_view utf8, std::size_t count) {
  if (count == 0) return {};
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
  auto size = static_cast<utf8proc_ssize_t>(utf8.size());
  utf8proc_ssize_t at = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t clusters = 0;
  while (at < size) {
    utf8proc_int32_t codepoint = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &codepoint);
    if (length <= 0) {  // not UTF-8 after all: count the byte on its own
      length = 1;
      codepoint = -1;
    }
    bool breaks =
        previous < 0 || codepoint < 0 || utf8proc_grapheme_break_stateful(previous, codepoint, &state);
    if (breaks) {
      if (clusters == count) return std::string(utf8.substr(0, static_cast<std::size_t>(at)));
      ++clusters;
    }
    previous = codepoint < 0 ? -1 : codepoint;
    at += length;
  }
  return std::string(utf8);
}

}  // namespace kestrove
