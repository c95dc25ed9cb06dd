#include "platform/x11/window_mover.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace kestrove::platform::x11 {
namespace {

// The window manager answers in about a millisecond; a request it ignores
// (a maximized window in openbox) must not stall the command for long.
constexpr std::chrono::milliseconds kSettleLimit{150};
// After an answer that is not the requested geometry (a snapped or refused
// request, or an event already under way before ours), the quiet time after
// which the manager counts as done.
constexpr std::chrono::milliseconds kQuietAfterAnswer{15};

constexpr std::uint32_t kGravityNorthWest = 1;
constexpr std::uint32_t kSetX = 1u << 8, kSetY = 1u << 9, kSetWidth = 1u << 10, kSetHeight = 1u << 11;
constexpr std::uint32_t kFromPager = 2u << 12;

std::int32_t toPixels(double value) {
  double rounded = std::round(value);
  if (rounded > 1e9) return 1000000000;
  if (rounded < -1e9) return -1000000000;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

std::int32_t moveResizeWindow(Connection& connection, DesktopSnapshot& snapshot, xcb_window_t window,
                              const std::string& attribute, const AxValue& value) {
  bool isSize = attribute == "AXSize";
  if (!isSize && attribute != "AXPosition") return ax::kAttributeUnsupported;
  auto expected = isSize ? AxValueType::Size : AxValueType::Point;
  if (value.type != static_cast<int>(expected) || !std::isfinite(value.first) ||
      !std::isfinite(value.second)) {
    return ax::kIllegalArgument;
  }
  if (!snapshot.ensureClients()) return ax::kCannotComplete;
  const ClientInfo* info = snapshot.client(window);
  if (!info) return ax::kInvalidUIElement;
  xcb_connection_t* c = connection.current();
  if (!c) return ax::kCannotComplete;

  const FrameExtents extents = info->extents;
  std::uint32_t flags = kGravityNorthWest | kFromPager;
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  bool unchanged = false;
  std::int32_t contentX = 0, contentY = 0;
  if (isSize) {
    width = std::max(1, toPixels(value.first));
    height = std::max(1, toPixels(value.second - extents.top));
    flags |= kSetWidth | kSetHeight;
    unchanged = width == info->content.width && height == info->content.height;
  } else {
    // The frame corner the window manager places: content corner minus the
    // left and top extents, where the frame's y is already the title bar's.
    contentX = toPixels(value.first + snapshot.originX());
    contentY = toPixels(value.second + snapshot.originY() + extents.top);
    x = contentX - toPixels(extents.left);
    y = contentY - toPixels(extents.top);
    flags |= kSetX | kSetY;
    unchanged = contentX == info->content.x && contentY == info->content.y;
  }
  snapshot.clear();
  // Nothing to wait for: the window manager would not configure anything.
  if (unchanged) return ax::kSuccess;

  std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
  auto sendToManager = [&](xcb_atom_t type, std::array<std::uint32_t, 5> data) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    for (std::size_t i = 0; i < data.size(); ++i) message.data.data32[i] = data[i];
    xcb_send_event(c, 0, connection.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
  };
  const Atoms& atoms = connection.atoms();
  sendToManager(atoms[Atom::NetMoveresizeWindow],
                {flags, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                 static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)});
  // A barrier: an empty ConfigureWindow reaches the manager as a request it
  // must answer with a ConfigureNotify even when nothing changes, and it is
  // handled after the message above. So a move the manager refused or snapped
  // back to the current geometry ends the wait as soon as one it granted.
  xcb_configure_window(c, window, 0, nullptr);
  bool destroyed = false, granted = false;
  auto answers = [&](const xcb_generic_event_t& event) {
    auto type = event.response_type & 0x7f;
    if (type == XCB_DESTROY_NOTIFY) {
      destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window;
      return destroyed;
    }
    if (type != XCB_CONFIGURE_NOTIFY) return false;
    const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
    if (configure.window != window || configure.event != window) return false;
    bool synthetic = (configure.response_type & 0x80) != 0;
    if (isSize) {
      granted = configure.width == width && configure.height == height;
    } else {
      // Only a synthetic event is in root coordinates.
      granted = synthetic && configure.x + configure.border_width == contentX &&
                configure.y + configure.border_width == contentY;
    }
    return true;
  };
  auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
  bool answered = false;
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (!connection.waitForEvent(answers, answered ? std::min(left, kQuietAfterAnswer) : left)) break;
    if (granted || destroyed) break;
    answered = true;
  }
  if (!connection.checkAlive()) return ax::kCannotComplete;
  return destroyed ? ax::kInvalidUIElement : ax::kSuccess;
}

}  // namespace kestrove::platform::x11
