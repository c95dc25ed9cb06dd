#include "platform/macos/cf_string.h"

namespace kestrove::platform::macos {

CfRef<CFStringRef> makeCfString(const std::string& text) {
  return CfRef<CFStringRef>::adopt(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
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
