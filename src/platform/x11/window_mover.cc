#include "platform/x11/window_mover.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <optional>

#include "platform/x11/frame_shape.h"

namespace kestrove::platform::x11 {
namespace {

// A manager that answers no question must not stall the command for long.
constexpr std::chrono::milliseconds kSettleLimit{150};

constexpr std::uint32_t kGravityNorthWest = 1;
constexpr std::uint32_t kSetPosition = (1u << 8) | (1u << 9);
constexpr std::uint32_t kSetSize = (1u << 10) | (1u << 11);
constexpr std::uint32_t kFromPager = 2u << 12;

double toPixels(double value) { return std::clamp(std::round(value), -1e9, 1e9); }

bool sameRect(const RootRect& a, const RootRect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

std::int32_t WindowMover::write(xcb_window_t window, const std::string& attribute, const AxValue& value) {
  bool isSize = attribute == "AXSize";
  if (!isSize && attribute != "AXPosition") return ax::kAttributeUnsupported;
  auto expected = isSize ? AxValueType::Size : AxValueType::Point;
  if (value.type != static_cast<int>(expected) || !std::isfinite(value.first) ||
      !std::isfinite(value.second)) {
    return ax::kIllegalArgument;
  }
  if (!snapshot_.ensureClients()) return ax::kCannotComplete;
  const ClientInfo* info = snapshot_.client(window);
  if (!info) return ax::kInvalidUIElement;
  if (!connection_.current()) return ax::kCannotComplete;

  // The frame's edges keep their place relative to the client window's, as
  // read for this command (a border the window draws only AT-SPI tells).
  std::optional<FrameExtents> border = accessibility_.lastBorder(window);
  if (!border && mayDrawOwnTitlebar(*info)) {
    if (const AccessibleWindow* drawn = accessibility_.window(snapshot_, window, *info))
      border = drawn->border;
  }
  const FrameInsets insets = frameInsets(*info, border);
  auto found = pending_.find(window);
  RootRect frame = frameOf(found != pending_.end() ? found->second.target : info->content, insets);
  if (isSize) {
    frame.width = value.first;
    frame.height = value.second;
  } else {
    frame.x = value.first + snapshot_.originX();
    frame.y = value.second + snapshot_.originY();
  }
  RootRect target = clientFor(frame, insets);
  target = RootRect{toPixels(target.x), toPixels(target.y), std::max(1.0, toPixels(target.width)),
                    std::max(1.0, toPixels(target.height))};
  if (found == pending_.end() && sameRect(target, info->content)) return ax::kSuccess;
  // NorthWest gravity: x, y name the corner of the manager's frame, or, for
  // a manager that reads them otherwise, the client window's outer corner.
  const bool byClient = snapshot_.movesByClientCorner();
  const double left = byClient ? info->border : info->extents.left;
  const double top = byClient ? info->border : info->extents.top;
  const std::uint32_t flags = kGravityNorthWest | kFromPager | (isSize ? kSetSize : kSetPosition);
  Pending& pending = pending_[window];
  pending.target = target;
  pending.messages.push_back({flags, static_cast<std::uint32_t>(std::int32_t(target.x - left)),
                              static_cast<std::uint32_t>(std::int32_t(target.y - top)),
                              static_cast<std::uint32_t>(target.width),
                              static_cast<std::uint32_t>(target.height)});
  return ax::kSuccess;
}

void WindowMover::connectionLost() {
  pending_.clear();
  requestor_ = XCB_WINDOW_NONE;
  requestorGeneration_ = 0;
}

void WindowMover::settle() {
  if (pending_.empty()) return;
  xcb_connection_t* c = connection_.current();
  if (!c || !snapshot_.ensureClients()) {
    pending_.clear();
    return;
  }
  const Atoms& atoms = connection_.atoms();
  // A manager that does not offer the frame-extents question may still
  // answer the selection one (kwin); one that offers it is not asked the
  // other (metacity exits on an answer it cannot deliver).
  const bool convertSelection = !snapshot_.offersFrameExtentsRequest();
  std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  std::optional<std::uint32_t> firstRequest;
  for (auto it = pending_.begin(); it != pending_.end();) {
    const ClientInfo* info = snapshot_.client(it->first);
    if (!info) {
      it = pending_.erase(it);
      continue;
    }
    xcb_change_window_attributes(c, it->first, XCB_CW_EVENT_MASK, &mask);
    for (const auto& data : it->second.messages) {
      xcb_client_message_event_t message{};
      message.response_type = XCB_CLIENT_MESSAGE;
      message.format = 32;
      message.window = it->first;
      message.type = atoms[Atom::NetMoveresizeWindow];
      for (std::size_t i = 0; i < data.size(); ++i) message.data.data32[i] = data[i];
      auto sent = xcb_send_event(c, 0, connection_.root(),
                                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                                 reinterpret_cast<const char*>(&message));
      if (!firstRequest) firstRequest = sent.sequence;
    }
    accessibility_.invalidate(it->first);
    ++it;
  }
  snapshot_.clear();
  if (!pending_.empty()) {
    ask(c, convertSelection);
    wait(*firstRequest);
  }
  pending_.clear();
  snapshot_.clear();
  connection_.checkAlive();
}

// Questions the manager answers only after it has handled the requests
// before them, asked about a window of our own made for them, so that any
// answer on it is to them: its frame extents (openbox, jwm, xfwm4, i3,
// mutter and metacity answer), and a conversion of the manager's selection,
// named by the time it carries back (kwin answers). Managers also answer an
// empty ConfigureWindow, but with a ConfigureNotify that cannot be told from
// one for an earlier request.
void WindowMover::ask(xcb_connection_t* c, bool convertSelection) {
  const Atoms& atoms = connection_.atoms();
  // A late answer about the last window, once it is gone, is an error the
  // manager ignores.
  if (requestor_ != XCB_WINDOW_NONE && requestorGeneration_ == connection_.generation())
    xcb_destroy_window(c, requestor_);
  requestor_ = xcb_generate_id(c);
  requestorGeneration_ = connection_.generation();
  std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, 0, requestor_, connection_.root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = requestor_;
  message.type = atoms[Atom::NetRequestFrameExtents];
  xcb_send_event(c, 0, connection_.root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  if (convertSelection) {
    xcb_convert_selection(c, requestor_, atoms[Atom::WmS0], atoms[Atom::Timestamp],
                          atoms[Atom::KestroveBarrier], ++selectionTime_);
  }
}

void WindowMover::wait(std::uint32_t firstRequest) {
  struct Seen {
    RootRect now;
    bool sized = false, placed = false, destroyed = false;
  };
  std::map<xcb_window_t, Seen> seen;
  bool answered = false;
  const std::uint32_t time = selectionTime_;
  const xcb_atom_t extents = connection_.atoms()[Atom::NetFrameExtents];
  auto matches = [&](const xcb_generic_event_t& event) {
    auto type = event.response_type & 0x7f;
    // An event carries the sequence number of the last request of ours the
    // server had handled: one from before the request tells nothing of it.
    if (static_cast<std::uint16_t>(event.sequence - firstRequest) >= 0x8000) return false;
    if (type == XCB_SELECTION_NOTIFY) {
      const auto& answer = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
      if (answer.requestor != requestor_ || answer.time != time) return false;
      answered = true;
      return true;
    }
    if (type == XCB_PROPERTY_NOTIFY) {
      const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (change.window != requestor_ || change.atom != extents) return false;
      if (change.state != XCB_PROPERTY_NEW_VALUE) return false;
      answered = true;
      return true;
    }
    if (type == XCB_DESTROY_NOTIFY) {
      const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (!pending_.count(destroyed.window)) return false;
      seen[destroyed.window].destroyed = true;
      return true;
    }
    if (type != XCB_CONFIGURE_NOTIFY) return false;
    const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
    if (configure.window != configure.event || !pending_.count(configure.window)) return false;
    Seen& s = seen[configure.window];
    s.now.width = configure.width;
    s.now.height = configure.height;
    s.sized = true;
    // Only a synthetic event is in root coordinates.
    if (event.response_type & 0x80) {
      s.now.x = configure.x + configure.border_width;
      s.now.y = configure.y + configure.border_width;
      s.placed = true;
    }
    return true;
  };
  // Done once every window is where it was asked to be (or gone), or once
  // the manager answered and has configured each window since the request
  // (metacity can answer before it configures a GTK window, the configure
  // coming later from an idle). A request the manager refuses outright, so
  // that nothing is configured, is read at the bound.
  auto done = [&] {
    bool arrived = true, configured = true;
    for (const auto& [window, pending] : pending_) {
      auto s = seen.find(window);
      if (s == seen.end()) {
        arrived = configured = false;
        continue;
      }
      if (s->second.destroyed) continue;
      configured = configured && (s->second.sized || s->second.placed);
      arrived = arrived && s->second.sized && s->second.placed && sameRect(s->second.now, pending.target);
    }
    return arrived || (answered && configured);
  };
  auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
  while (!done()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !connection_.waitForEvent(matches, left)) break;
  }
}

}  // namespace kestrove::platform::x11
