#include "windows/stream_window.h"

#include <vector>

#include "windows/element_access.h"

namespace kestrove {

namespace {

bool isCandidate(platform::Platform& p, const platform::Element& window) {
  return isSettable(p, window, "AXSize") && isSettable(p, window, "AXPosition") &&
         !readBool(p, window, "AXMinimized").value_or(false);
}

// Read afresh each time: the window may have changed since the last look.
double area(platform::Platform& p, const platform::Element& window) {
  std::optional<Size> size = readSize(p, window);
  return size ? size->width * size->height : 0;
}

}  // namespace

platform::Element findStreamWindow(platform::Platform& p, std::int32_t pid) {
  std::vector<platform::Element> candidates;
  for (const platform::Element& window : appWindows(p, pid)) {
    if (isCandidate(p, window)) candidates.push_back(window);
  }
  if (candidates.empty()) return nullptr;

  for (const platform::Element& window : candidates) {
    if (readBool(p, window, "AXMain").value_or(false)) return window;
  }
  if (candidates.size() == 1) return candidates.front();

  platform::Element best = candidates.front();
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    const double bestArea = area(p, best);
    if (bestArea < area(p, candidates[i])) best = candidates[i];
  }
  return best;
}

}  // namespace kestrove
