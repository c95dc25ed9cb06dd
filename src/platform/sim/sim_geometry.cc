#include "platform/sim/sim_geometry.h"

#include <algorithm>
#include <cmath>

namespace kestrove::sim {

SimRect childRect(const SimWindow& window, const SimChild& child) {
  switch (child.anchor) {
    case SimChild::Anchor::Content:
      return {window.x, window.y + window.titlebar, window.width,
              std::max(0.0, window.height - window.titlebar)};
    case SimChild::Anchor::TitlebarButton:
      return {window.x + child.x, window.y + (window.titlebar - child.height) / 2, child.width, child.height};
    case SimChild::Anchor::Fixed:
      break;
  }
  return {window.x + child.x, window.y + child.y, child.fullWidth ? window.width : child.width, child.height};
}

namespace {
double snapDown(double value, double increment) {
  if (!(increment > 0)) return value;
  return std::floor(value / increment) * increment;
}
}  // namespace

std::pair<double, double> clampSize(const SimClamp& clamp, double width, double height) {
  width = std::clamp(width - clamp.shrinkBy, clamp.minWidth, std::max(clamp.minWidth, clamp.maxWidth));
  height = std::clamp(height - clamp.shrinkBy, clamp.minHeight, std::max(clamp.minHeight, clamp.maxHeight));
  return {std::max(clamp.minWidth, snapDown(width, clamp.widthIncrement)),
          std::max(clamp.minHeight, snapDown(height, clamp.heightIncrement))};
}

double clampTop(const SimClamp& clamp, double y) { return clamp.minY ? std::max(*clamp.minY, y) : y; }

}  // namespace kestrove::sim
