#include "platform/x11/accessible_shapes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrove::platform::x11 {
namespace {

using namespace atspiRole;

std::string axRole(std::uint32_t role) {
  switch (role) {
    case kPushButton:
      return "AXButton";
    case kPanel:
    case kFiller:
      return "AXGroup";
    case kLabel:
      return "AXStaticText";
    case kToolBar:
      return "AXToolbar";
    case kMenuBar:
      return "AXMenuBar";
    case kScrollPane:
      return "AXScrollArea";
    case kText:
      return "AXTextArea";
    case kEntry:
      return "AXTextField";
    default:
      return "AXUnknown";
  }
}

// GTK names its title-bar buttons after what they do, in the user's
// language, and publishes nothing else that tells them apart. A button of
// the header bar whose name says nothing (another language, or one of the
// application's own) is a toolbar button, which marks the title bar alike.
std::string titleButtonSubrole(const std::string& name) {
  if (name == "Close") return "AXCloseButton";
  if (name == "Minimize") return "AXMinimizeButton";
  if (name == "Maximize" || name == "Restore") return "AXZoomButton";
  return "AXToolbarButton";
}

bool sameSize(const RootRect& a, const RootRect& b) { return a.width == b.width && a.height == b.height; }

}  // namespace

std::optional<std::pair<double, double>> frameOrigin(const RootRect& frame, const RootRect& client,
                                                     const FrameExtents& shadow) {
  if (sameSize(frame, client)) return std::make_pair(client.x, client.y);
  const double sideX = (client.width - shadow.left - shadow.right - frame.width) / 2;
  const double sideY = (client.height - shadow.top - shadow.bottom - frame.height) / 2;
  if (sideX >= 0 && sideX == sideY && sideX == std::floor(sideX)) {
    return std::make_pair(client.x + shadow.left + sideX, client.y + shadow.top + sideY);
  }
  return std::nullopt;
}

// Hidden widgets report the lowest integer as their place.
bool laidOut(const RootRect& r) {
  constexpr double kHidden = std::numeric_limits<std::int32_t>::min();
  return r.width > 0 && r.height > 0 && r.x != kHidden && r.y != kHidden;
}

bool isWindowRole(std::uint32_t role) { return role == kFrame || role == kWindow || role == kDialog; }

bool isPushButton(std::uint32_t role) { return role == kPushButton; }

std::optional<AccessibleWindow> shapeWindow(const AccessibleNode& frame,
                                            const std::vector<AccessibleNode>& children,
                                            const std::vector<AccessibleNode>& titleButtons,
                                            const RootRect& client, const FrameExtents& shadow) {
  const RootRect visible{client.x + shadow.left, client.y + shadow.top,
                         client.width - shadow.left - shadow.right,
                         client.height - shadow.top - shadow.bottom};
  const auto origin = frameOrigin(frame.rect, client, shadow);
  if (!origin) return std::nullopt;
  const auto [originX, originY] = *origin;
  auto toRoot = [&](const RootRect& r) {
    return RootRect{originX + r.x - frame.rect.x, originY + r.y - frame.rect.y, r.width, r.height};
  };

  AccessibleWindow window;
  double left = visible.x + visible.width, top = visible.y + visible.height, right = visible.x,
         bottom = visible.y;
  for (const AccessibleNode& node : children) {
    if (!laidOut(node.rect)) continue;
    RootRect r = toRoot(node.rect);
    window.children.push_back(AccessibleChild{axRole(node.role), "", r});
    left = std::min(left, r.x);
    top = std::min(top, r.y);
    right = std::max(right, r.x + r.width);
    bottom = std::max(bottom, r.y + r.height);
  }
  if (window.children.empty()) return std::nullopt;
  window.border = FrameExtents{left - visible.x, visible.x + visible.width - right, top - visible.y,
                               visible.y + visible.height - bottom};
  const FrameExtents& b = window.border;
  // Laid out for the window's present size: inside it, with the border GTK
  // draws the same on the left, the right and the bottom.
  if (b.left < 0 || b.top < 0 || b.left != b.right || b.left != b.bottom) return std::nullopt;
  for (const AccessibleNode& node : titleButtons) {
    if (!laidOut(node.rect)) continue;
    window.children.push_back(
        AccessibleChild{axRole(node.role), titleButtonSubrole(node.name), toRoot(node.rect)});
  }
  return window;
}

}  // namespace kestrove::platform::x11
