#pragma once

#include "platform/platform.h"

namespace kestrove {

// A rectangle in the platform's bottom-left screen coordinates, in global
// top-left points. Reads the screen list afresh on every call, so a display
// change shows at once.
platform::Rect toTopLeft(platform::Platform& platform, const platform::Rect& rect);

}  // namespace kestrove
