#include "platform/x11/screen_list.h"

#include <algorithm>

namespace kestrove::platform::x11 {
namespace {

RootRect intersect(const RootRect& a, const RootRect& b) {
  double left = std::max(a.x, b.x), top = std::max(a.y, b.y);
  double right = std::min(a.x + a.width, b.x + b.width), bottom = std::min(a.y + a.height, b.y + b.height);
  if (right <= left || bottom <= top) return RootRect{left, top, 0, 0};
  return RootRect{left, top, right - left, bottom - top};
}

Rect bottomLeft(const RootRect& r, const RootRect& primary) {
  double primaryBottom = primary.y + primary.height;
  return Rect{r.x - primary.x, primaryBottom - (r.y + r.height), r.width, r.height};
}

}  // namespace

std::vector<Screen> screenList(const DesktopSnapshot& snapshot) {
  std::vector<Screen> screens;
  const auto& monitors = snapshot.monitors();
  if (monitors.empty()) return screens;
  const RootRect& primary = monitors.front().rect;
  auto workArea = snapshot.workArea();
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const Monitor& m = monitors[i];
    Screen screen;
    screen.frame = bottomLeft(m.rect, primary);
    screen.visibleFrame = bottomLeft(workArea ? intersect(*workArea, m.rect) : m.rect, primary);
    screen.number = m.output ? std::int64_t(*m.output) : std::int64_t(i + 1);
    screen.scale = 1;
    screens.push_back(screen);
  }
  return screens;
}

Rect mainDisplayBounds(const DesktopSnapshot& snapshot) {
  const auto& monitors = snapshot.monitors();
  if (monitors.empty()) return Rect{};
  return Rect{0, 0, monitors.front().rect.width, monitors.front().rect.height};
}

}  // namespace kestrove::platform::x11
