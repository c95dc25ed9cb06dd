#include "windows/titlebar.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "windows/frame_geometry.h"

namespace kestrove {

namespace {

constexpr std::size_t kChildrenExamined = 64;
constexpr double kButtonBand = 60;
constexpr double kMinContentHeight = 40;
constexpr double kContentBand = 100;
constexpr double kWidthSlack = 1;
constexpr std::int64_t kLastOsWithShortTitlebar = 25;
constexpr double kDefaultTitlebar = 28;
constexpr double kDefaultTitlebarNewerOs = 32;

struct Accumulators {
  std::optional<double> contentOffset;
  std::optional<double> buttonOffset;
  bool topEdge = false;
};

void keepSmaller(std::optional<double>& slot, double offset) {
  slot = slot ? std::min(*slot, offset) : offset;
}

// Every test is written so that it holds only for real numbers: a NaN
// anywhere fails it and the child drops out at that step.
void examineChild(Core& core, const platform::Element& child, const NormalRect& frame, Accumulators& acc) {
  platform::Platform& p = core.platform;
  std::optional<Point> position = readPosition(p, child);
  if (!position) return;
  std::optional<Size> size = readSize(p, child);
  if (!size) return;
  const NormalRect rect = normalised(position->x, position->y, size->width, size->height);

  const std::string subrole = readString(p, child, "AXSubrole").value_or("");
  if (core.state.titlebarButtonSubroles.contains(subrole)) {
    const double offset = rect.midY() - frame.minY;
    if (offset > 0 && offset < kButtonBand) keepSmaller(acc.buttonOffset, offset);
    return;
  }

  // A toolbar spans the window just below the title bar and would pass for
  // the content.
  if (readString(p, child, "AXRole").value_or("") == "AXToolbar") return;
  if (!(rect.width >= frame.width - kWidthSlack)) return;
  if (!(rect.height >= kMinContentHeight)) return;
  const double offset = rect.minY - frame.minY;
  if (!(offset >= 0 && offset <= kContentBand)) return;
  if (offset == 0) {
    acc.topEdge = true;
  } else {
    keepSmaller(acc.contentOffset, offset);
  }
}

}  // namespace

TitlebarMeasure measureTitlebar(Core& core, const platform::Element& window, const Frame& frame) {
  const NormalRect normalFrame = normalised(frame);
  std::vector<platform::Element> children = readChildren(core.platform, window);
  if (children.size() > kChildrenExamined) children.resize(kChildrenExamined);

  Accumulators acc;
  for (const platform::Element& child : children) examineChild(core, child, normalFrame, acc);

  if (acc.contentOffset) return {*acc.contentOffset, kTitlebarFromContent};
  // The buttons sit centred in the title bar.
  if (acc.buttonOffset) return {std::round(2 * *acc.buttonOffset), kTitlebarFromButtons};
  if (acc.topEdge) return {0, kTitlebarFromContent};
  const bool newerOs = core.platform.osVersion().major > kLastOsWithShortTitlebar;
  return {newerOs ? kDefaultTitlebarNewerOs : kDefaultTitlebar, kTitlebarDefault};
}

Frame contentRect(const Frame& frame, double titlebar) {
  const NormalRect r = normalised(frame);
  const double height = r.height - titlebar;
  return Frame{r.minX, r.minY + titlebar, r.width, height > 0 ? height : 0.0};
}

}  // namespace kestrove
