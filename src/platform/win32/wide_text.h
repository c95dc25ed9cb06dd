#pragma once

#include <string>
#include <string_view>

namespace kestrove::platform::win32 {

// UTF-16 from and to UTF-8; an unpaired surrogate or invalid byte becomes
// U+FFFD.
std::string toUtf8(std::wstring_view wide);
std::wstring toWide(std::string_view utf8);

}  // namespace kestrove::platform::win32
