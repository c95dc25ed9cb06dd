#pragma once

#include "platform/platform.h"

namespace kestrove::platform::macos {

// A global monitor of key-downs and key-ups in other applications; null when
// AppKit installs none.
Token addGlobalKeyMonitor(KeyCallback callback);
void removeGlobalKeyMonitor(const Token& token);

}  // namespace kestrove::platform::macos
