#include "windows/frame_write.h"

#include <cmath>
#include <optional>

#include "windows/frame_geometry.h"

namespace kestrove {

std::array<std::int32_t, 3> setWindowFrame(platform::Platform& p, const platform::Element& window,
                                           const Frame& frame) {
  std::optional<platform::AxValue> position = p.createValue(platform::AxValueType::Point, frame.x, frame.y);
  std::optional<platform::AxValue> size =
      p.createValue(platform::AxValueType::Size, frame.width, frame.height);
  if (!position || !size) return {kWriteNotAttempted, kWriteNotAttempted, kWriteNotAttempted};
  // Resizing first lets a window grow into place before it moves, and the
  // second resize catches a size the window refused while still at the old
  // position (near a screen edge).
  const std::int32_t firstSize = p.setAttributeValue(window, "AXSize", *size);
  const std::int32_t positionCode = p.setAttributeValue(window, "AXPosition", *position);
  const std::int32_t secondSize = p.setAttributeValue(window, "AXSize", *size);
  return {firstSize, positionCode, secondSize};
}

bool framesMatch(const Frame& a, const Frame& b, double tolerance) {
  const NormalRect ra = normalised(a);
  const NormalRect rb = normalised(b);
  // Written so that a NaN difference fails.
  auto close = [tolerance](double u, double v) { return std::abs(u - v) <= tolerance; };
  return close(ra.minX, rb.minX) && close(ra.minY, rb.minY) && close(ra.width, rb.width) &&
         close(ra.height, rb.height);
}

}  // namespace kestrove
