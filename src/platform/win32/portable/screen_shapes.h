#pragma once

#include <vector>

#include "platform/platform.h"
#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// Monitors as screens, primary first, in the bottom-left coordinates of the
// seam: the desktop's pixels, the primary monitor's top-left at the origin,
// work areas as the visible frames, scale from the monitor's DPI (1 when
// the DPI cannot be read).
std::vector<Screen> screenList(const std::vector<Monitor>& monitors);
Rect mainDisplayBounds(const std::vector<Monitor>& monitors);

}  // namespace kestrove::platform::win32
