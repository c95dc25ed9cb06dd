#pragma once

// Estimates a window's title-bar height from the geometry of its
// Accessibility children, and the content area below it.

#include <string_view>

#include "app/core.h"
#include "windows/element_access.h"

namespace kestrove {

inline constexpr std::string_view kTitlebarFromContent = "ax_content";
inline constexpr std::string_view kTitlebarFromButtons = "ax_buttons";
inline constexpr std::string_view kTitlebarDefault = "default";

struct TitlebarMeasure {
  double titlebar = 0;
  std::string_view titlebarSource = kTitlebarDefault;
};

// Measures against `frame` as given; the window's own frame is not read.
// Never fails: unreadable children drop out and the default applies.
TitlebarMeasure measureTitlebar(Core& core, const platform::Element& window, const Frame& frame);

// The area of `frame` below a title bar `titlebar` high; its height is 0
// when the title bar is taller than the frame.
Frame contentRect(const Frame& frame, double titlebar);

}  // namespace kestrove
