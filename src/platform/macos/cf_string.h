#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

#include "platform/macos/cf_ref.h"

namespace kestrove::platform::macos {

// Null when `text` is not well-formed UTF-8. Every character is kept,
// a leading byte-order mark included.
CfRef<CFStringRef> makeCfString(const std::string& text);
// UTF-8; a character with no UTF-8 form (a lone surrogate) becomes '?'.
std::string toStdString(CFStringRef text);

}  // namespace kestrove::platform::macos
