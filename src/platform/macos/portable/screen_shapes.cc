#include "platform/macos/portable/screen_shapes.h"

namespace kestrove::platform::macos {

Screen makeScreen(const Rect& frame, const Rect& visibleFrame, const ScreenNumberEntry& number,
                  double backingScaleFactor) {
  Screen screen;
  screen.frame = frame;
  screen.visibleFrame = visibleFrame;
  if (number.kind == ScreenNumberEntry::Kind::Number) screen.number = number.integerValue;
  screen.scale = backingScaleFactor;
  return screen;
}

}  // namespace kestrove::platform::macos
