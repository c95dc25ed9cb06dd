#pragma once

#include <optional>

#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// How far each edge of the frame the helper reports lies inside the client
// window's (negative: outside it). The frame is, as on macOS, the title bar
// plus the content, as wide as the content: a manager's title bar above the
// client window, or, for a window that draws its own decorations, its
// visible part (the client less the shadow margin) less the border it draws
// beside and below the content.
struct FrameInsets {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

FrameInsets frameInsets(const ClientInfo& info, const std::optional<FrameExtents>& drawnBorder);
RootRect frameOf(const RootRect& client, const FrameInsets& insets);
RootRect clientFor(const RootRect& frame, const FrameInsets& insets);

// A window whose manager draws no title bar for it may draw its own (a
// header bar), which only its accessibility tree describes.
bool mayDrawOwnTitlebar(const ClientInfo& info);

}  // namespace kestrove::platform::x11
