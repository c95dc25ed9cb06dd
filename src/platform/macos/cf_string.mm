#include "platform/macos/cf_string.h"

#include <optional>

#include "platform/macos/portable/utf8_runs.h"

namespace kestrove::platform::macos {

CfRef<CFStringRef> makeCfString(const std::string& text) {
  // Not CFStringCreateWithBytes(..., kCFStringEncodingUTF8, ...): it drops a
  // leading U+FEFF, so the string would be one character short and UTF-16
  // indices into it would not match the bytes.
  const std::optional<std::u16string> units = utf16OfUtf8(text);
  if (!units) return {};
  return CfRef<CFStringRef>::adopt(CFStringCreateWithCharacters(
      kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units->data()), static_cast<CFIndex>(units->size())));
}

std::string toStdString(CFStringRef text) {
  if (text == nullptr) return {};
  const CFRange all = CFRangeMake(0, CFStringGetLength(text));
  CFIndex bytes = 0;
  CFStringGetBytes(text, all, kCFStringEncodingUTF8, '?', false, nullptr, 0, &bytes);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  CFStringGetBytes(text, all, kCFStringEncodingUTF8, '?', false, reinterpret_cast<UInt8*>(out.data()), bytes,
                   &bytes);
  out.resize(static_cast<std::size_t>(bytes));
  return out;
}

}  // namespace kestrove::platform::macos
