#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"
#include "windows/element_access.h"

namespace kestrove {

// The code a write gets when it was never made because its value could not
// be created.
inline constexpr std::int32_t kWriteNotAttempted = -1;

// Writes size, position, then size again, and gives the three codes in that
// order; all kWriteNotAttempted, with nothing written, when either value
// cannot be created.
std::array<std::int32_t, 3> setWindowFrame(platform::Platform& p, const platform::Element& window,
                                           const Frame& frame);

// Whether the two frames' minimum x, minimum y, width and height (normalised)
// each differ by at most `tolerance`.
bool framesMatch(const Frame& a, const Frame& b, double tolerance = 1);

}  // namespace kestrove
