#pragma once

// Rectangle reads taken on the normalised rectangle, the way the platform's
// rectangle getters take them: a negative width or height counts as its
// absolute value and moves the minimum edge by it.

#include <cmath>

#include "windows/element_access.h"

namespace kestrove {

struct NormalRect {
  double minX = 0;
  double minY = 0;
  double width = 0;
  double height = 0;

  double midY() const { return minY + height / 2; }
};

inline NormalRect normalised(double x, double y, double width, double height) {
  NormalRect r{x, y, width, height};
  if (r.width < 0) {
    r.minX += r.width;
    r.width = -r.width;
  }
  if (r.height < 0) {
    r.minY += r.height;
    r.height = -r.height;
  }
  return r;
}

inline NormalRect normalised(const Frame& f) { return normalised(f.x, f.y, f.width, f.height); }

// JSON has no NaN or infinity: a frame that holds one cannot be reported.
inline bool isFinite(const Frame& f) {
  return std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.width) && std::isfinite(f.height);
}

// Nor can a finite frame whose normalised edge lies past the largest double
// (x -1e308, width -1e308): the content rectangle starts at that edge. A
// title bar (a few hundred points at most) added to a finite edge keeps it
// finite, so what passes here can be reported with all that is computed
// from it.
inline bool isReportable(const Frame& f) {
  const NormalRect r = normalised(f);
  return isFinite(f) && std::isfinite(r.minX) && std::isfinite(r.minY);
}

}  // namespace kestrove
