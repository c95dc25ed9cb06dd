#pragma once

#include <xcb/xcb.h>

#include <string>

#include "platform/platform.h"
#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// Writes AXPosition or AXSize of a managed window through the window
// manager (_NET_MOVERESIZE_WINDOW) and returns once it has acted, because
// the caller reads the frame back at once.
std::int32_t moveResizeWindow(Connection& connection, DesktopSnapshot& snapshot, xcb_window_t window,
                              const std::string& attribute, const AxValue& value);

}  // namespace kestrove::platform::x11
