#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kestrove {

// The window `place` acts on: of the application's windows that can be moved
// and resized and are not minimized, the main one, else the largest (the
// earliest of equals). Null when there is no such window.
platform::Element findStreamWindow(platform::Platform& p, std::int32_t pid);

}  // namespace kestrove
