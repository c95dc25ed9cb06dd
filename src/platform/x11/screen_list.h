#pragma once

#include <vector>

#include "platform/platform.h"
#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// RandR monitors, primary first, in bottom-left coordinates with the primary
// monitor's bottom-left corner at the origin, as the core expects; the
// visible frame is the work area within each monitor.
std::vector<Screen> screenList(const DesktopSnapshot& snapshot);
// The primary monitor in the same coordinates; empty without a display.
Rect mainDisplayBounds(const DesktopSnapshot& snapshot);

}  // namespace kestrove::platform::x11
