#include "platform/win32/portable/screen_shapes.h"

#include <algorithm>

namespace kestrove::platform::win32 {
namespace {

constexpr double kDefaultDpi = 96;

Rect bottomLeft(const PixelRect& r, const PixelRect& primary) {
  return Rect{double(r.left - primary.left), double(primary.bottom - r.bottom), double(r.width()),
              double(r.height())};
}

const Monitor* primaryOf(const std::vector<Monitor>& monitors) {
  auto it = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
  if (it != monitors.end()) return &*it;
  return monitors.empty() ? nullptr : &monitors.front();
}

}  // namespace

std::vector<Screen> screenList(const std::vector<Monitor>& monitors) {
  std::vector<Screen> screens;
  const Monitor* primary = primaryOf(monitors);
  if (!primary) return screens;
  std::vector<const Monitor*> ordered{primary};
  for (const Monitor& m : monitors)
    if (&m != primary) ordered.push_back(&m);
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    const Monitor& m = *ordered[i];
    Screen screen;
    screen.frame = bottomLeft(m.bounds, primary->bounds);
    screen.visibleFrame = bottomLeft(m.work, primary->bounds);
    screen.number = std::int64_t(i + 1);
    screen.scale = m.dpi && *m.dpi > 0 ? double(*m.dpi) / kDefaultDpi : 1.0;
    screens.push_back(screen);
  }
  return screens;
}

Rect mainDisplayBounds(const std::vector<Monitor>& monitors) {
  const Monitor* primary = primaryOf(monitors);
  if (!primary) return Rect{};
  return Rect{0, 0, double(primary->bounds.width()), double(primary->bounds.height())};
}

}  // namespace kestrove::platform::win32
