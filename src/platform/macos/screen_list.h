#pragma once

#include <vector>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// NSScreen's list, primary first, in bottom-left screen coordinates.
std::vector<Screen> screenList();
Rect mainDisplayBounds();

}  // namespace kestrove::platform::macos
