#include "displays/top_left.h"

#include <cmath>

namespace kestrove {

namespace {
// Edges of the normalised rectangle: a negative extent counts as its size.
double maxY(const platform::Rect& r) { return r.height < 0 ? r.y : r.y + r.height; }
}  // namespace

platform::Rect toTopLeft(platform::Platform& platform, const platform::Rect& rect) {
  auto screens = platform.screens();
  double reference =
      screens.empty() ? std::fabs(platform.mainDisplayBounds().height) : maxY(screens[0].frame);
  return platform::Rect{rect.x, reference - maxY(rect), std::fabs(rect.width), std::fabs(rect.height)};
}

}  // namespace kestrove
