#include "platform/x11/frame_shape.h"

namespace kestrove::platform::x11 {

FrameInsets frameInsets(const ClientInfo& info, const std::optional<FrameExtents>& drawnBorder) {
  const FrameExtents border = drawnBorder.value_or(FrameExtents{});
  return FrameInsets{info.shadow.left + border.left, info.shadow.top - info.extents.top,
                     info.shadow.right + border.right, info.shadow.bottom + border.bottom};
}

RootRect frameOf(const RootRect& client, const FrameInsets& i) {
  return RootRect{client.x + i.left, client.y + i.top, client.width - i.left - i.right,
                  client.height - i.top - i.bottom};
}

RootRect clientFor(const RootRect& frame, const FrameInsets& i) {
  return RootRect{frame.x - i.left, frame.y - i.top, frame.width + i.left + i.right,
                  frame.height + i.top + i.bottom};
}

bool mayDrawOwnTitlebar(const ClientInfo& info) { return info.extents.top == 0 && !info.fullscreen; }

}  // namespace kestrove::platform::x11
