#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// What a screen's device description held under "NSScreenNumber".
struct ScreenNumberEntry {
  enum class Kind { Missing, Number, Other };
  Kind kind = Kind::Missing;
  std::int64_t integerValue = 0;  // the number's integerValue, for Kind::Number
};

// One NSScreen as the core wants it. Rectangles stay in the platform's
// bottom-left coordinates and are not normalised: the core converts.
Screen makeScreen(const Rect& frame, const Rect& visibleFrame, const ScreenNumberEntry& number,
                  double backingScaleFactor);

}  // namespace kestrove::platform::macos
