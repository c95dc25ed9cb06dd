#pragma once

#include <utility>

#include "platform/sim/sim_world.h"

namespace kestrove::sim {

struct SimRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// The child's rectangle in global top-left points for the window as it is now.
SimRect childRect(const SimWindow& window, const SimChild& child);
// The size the app lets the window take when asked for (width, height).
std::pair<double, double> clampSize(const SimClamp& clamp, double width, double height);
// The top edge the app lets the window take when asked for `y`.
double clampTop(const SimClamp& clamp, double y);

}  // namespace kestrove::sim
