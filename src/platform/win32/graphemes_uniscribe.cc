// Grapheme clusters from Uniscribe (ScriptItemize + ScriptBreak): Windows
// has no utf8proc, and its own segmentation is what its text controls use.
#include <windows.h>
// After <windows.h>, which it needs.
#include <usp10.h>

#include <vector>

#include "commands/graphemes.h"
#include "platform/win32/wide_text.h"

namespace kestrove {
namespace {

// Whether wide[i] starts a cluster, for the whole text.
std::vector<bool> clusterStarts(const std::wstring& wide) {
  const int length = static_cast<int>(wide.size());
  std::vector<bool> starts(wide.size(), true);
  std::vector<SCRIPT_ITEM> items(wide.size() + 1);
  int count = 0;
  while (ScriptItemize(wide.data(), length, static_cast<int>(items.size()) - 1, nullptr, nullptr,
                       items.data(), &count) == E_OUTOFMEMORY) {
    items.resize(items.size() * 2);
  }
  std::vector<SCRIPT_LOGATTR> attributes;
  for (int i = 0; i < count; ++i) {
    const int start = items[static_cast<std::size_t>(i)].iCharPos;
    const int end = items[static_cast<std::size_t>(i) + 1].iCharPos;
    attributes.assign(static_cast<std::size_t>(end - start), SCRIPT_LOGATTR{});
    if (ScriptBreak(wide.data() + start, end - start, &items[static_cast<std::size_t>(i)].a,
                    attributes.data()) != S_OK)
      continue;
    for (int j = 0; j < end - start; ++j)
      starts[static_cast<std::size_t>(start + j)] = attributes[static_cast<std::size_t>(j)].fCharStop != 0;
  }
  return starts;
}

}  // namespace

std::string firstGraphemes(std::string_view utf8, std::size_t count) {
  if (count == 0) return {};
  const std::wstring wide = platform::win32::toWide(utf8);
  const std::vector<bool> starts = clusterStarts(wide);
  std::size_t clusters = 0;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    // A low surrogate never starts a cluster, whatever the break says.
    bool low = wide[i] >= 0xDC00 && wide[i] <= 0xDFFF;
    if (i > 0 && (low || !starts[i])) continue;
    if (clusters == count) return platform::win32::toUtf8(std::wstring_view(wide).substr(0, i));
    ++clusters;
  }
  return std::string(utf8);
}

}  // namespace kestrove
