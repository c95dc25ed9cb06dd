#include "displays/screens_command.h"

#include <cmath>

#include "displays/rect_object.h"
#include "displays/top_left.h"

namespace kestrove {

namespace {
JsonObject rectOf(const platform::Rect& r) { return rectObject(r.x, r.y, r.width, r.height); }

// Measured from the top edges only, so a Dock at the bottom or side does not count.
double menuBarHeight(const platform::Rect& frame, const platform::Rect& visibleFrame) {
  double height = visibleFrame.y - frame.y;
  return height >= 0 ? height : 0.0;  // also 0 when not a number
}

bool isFinite(const platform::Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height);
}
}  // namespace

JsonObject screensCommand(Core& core) {
  JsonArray list;
  auto screens = core.platform.screens();
  for (std::size_t i = 0; i < screens.size(); ++i) {
    const auto& screen = screens[i];
    auto frame = toTopLeft(core.platform, screen.frame);
    auto visibleFrame = toTopLeft(core.platform, screen.visibleFrame);
    const double menuBar = menuBarHeight(frame, visibleFrame);
    // A value JSON cannot carry, read or converted, would cost the whole
    // list: such a screen is left out, the others keep their place.
    if (!isFinite(frame) || !isFinite(visibleFrame) || !std::isfinite(menuBar) ||
        !std::isfinite(screen.scale)) {
      continue;
    }
    list.push_back(JsonObject{
        {"id", screen.number.value_or(0)},
        {"primary", i == 0},
        {"frame", rectOf(frame)},
        {"visibleFrame", rectOf(visibleFrame)},
        {"menuBarHeight", menuBar},
        {"scale", screen.scale},
    });
  }
  return JsonObject{{"coords", "top-left-global-points"}, {"screens", std::move(list)}};
}

}  // namespace kestrove
