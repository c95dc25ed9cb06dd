#include "platform/x11/window_mover.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <optional>

#include "platform/x11/frame_shape.h"

namespace kestrove::platform::x11 {
namespace {

// The settling wait ends on what the manager does and is bounded only by the
// command's own limit, less this much left for reading the window back.
constexpr std::chrono::milliseconds kReadBackReserve{400};
// A manager that answered and changed nothing has refused the request, once
// nothing more came for this long (metacity configures a GTK window from an
// idle after it answered).
constexpr std::chrono::milliseconds kRefusalQuiet{30};
// The selection answer (kwin's) is given at once, while the manager may act
// on a window it has just mapped much later, so after it alone a refusal
// is taken only once nothing came for longer; not for a maximized window,
// which kwin refuses while it handles the request, before it answers.
constexpr std::chrono::milliseconds kRefusalQuietAfterSelection{250};
// Without an answer, a window that changed is taken as settled once nothing
// more came for this long (kwin can apply a move after the resize).
constexpr std::chrono::milliseconds kFollowUpQuiet{30};
// A client asked to be, or left, larger than its monitor may shrink itself:
// GTK 4 does so 200-470 ms after the manager configured it when idle, and
// 930 ms was seen on a loaded machine.
constexpr std::chrono::milliseconds kOwnResizeQuiet{1000};
// A window the manager resized but did not move yet (or moved but did not
// resize) when it answered is waited for until nothing more came for this
// long: mutter moves a window some time after it resized it, and then tells
// with a synthetic configure; a manager that grants one half only is taken
// at its word after that.
constexpr std::chrono::milliseconds kPartQuiet{300};

constexpr std::uint32_t kGravityNorthWest = 1;
constexpr std::uint32_t kSetPosition = (1u << 8) | (1u << 9);
constexpr std::uint32_t kSetSize = (1u << 10) | (1u << 11);
constexpr std::uint32_t kFromPager = 2u << 12;

double toPixels(double value) { return std::clamp(std::round(value), -1e9, 1e9); }

bool sameRect(const RootRect& a, const RootRect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// The monitor whose area holds the rectangle's centre; the first (primary)
// one, or the root, when none does.
RootRect monitorFor(const DesktopSnapshot& snapshot, const RootRect& r) {
  const double cx = r.x + r.width / 2, cy = r.y + r.height / 2;
  for (const Monitor& m : snapshot.monitors()) {
    if (cx >= m.rect.x && cx < m.rect.x + m.rect.width && cy >= m.rect.y && cy < m.rect.y + m.rect.height)
      return m.rect;
  }
  return snapshot.monitors().empty() ? snapshot.rootBounds() : snapshot.monitors().front().rect;
}

// The client window in root pixels, inside its X border; none when it is gone.
std::optional<RootRect> clientRect(xcb_connection_t* c, xcb_window_t window, xcb_window_t root) {
  auto geometryCookie = xcb_get_geometry(c, window);
  auto placeCookie = xcb_translate_coordinates(c, window, root, 0, 0);
  XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
  XcbReply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(c, placeCookie, nullptr));
  if (!geometry || !place) return std::nullopt;
  return RootRect{double(place->dst_x), double(place->dst_y), double(geometry->width),
                  double(geometry->height)};
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
  if (found == pending_.end()) {
    pending.before = info->content;
    pending.maximized = info->maximized;
  }
  pending.target = target;
  pending.monitor = monitorFor(snapshot_, target);
  pending.messages.push_back({flags, static_cast<std::uint32_t>(std::int32_t(target.x - left)),
                              static_cast<std::uint32_t>(std::int32_t(target.y - top)),
                              static_cast<std::uint32_t>(target.width),
                              static_cast<std::uint32_t>(target.height)});
  return ax::kSuccess;
}

bool WindowMover::takeUnconfirmed(xcb_window_t window) { return unconfirmed_.erase(window) > 0; }

void WindowMover::connectionLost() {
  pending_.clear();
  unconfirmed_.clear();
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
    unconfirmed_.erase(it->first);
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
    accessibility_.renewBudget(std::chrono::steady_clock::now() + connection_.timeLeft());
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
  using Clock = std::chrono::steady_clock;
  struct Seen {
    RootRect now;
    bool sized = false, placed = false, destroyed = false;
    // A configure told a geometry other than the one before the request.
    bool changed = false;
    bool configured = false;
    Clock::time_point last;
    // Where the window was read to be, once the manager seemed done with a
    // window it changed but did not bring to the target; when that was, and
    // since when half of the request has seemed to be still coming.
    std::optional<RootRect> read;
    Clock::time_point readAt;
    std::optional<Clock::time_point> partSince;
  };
  std::map<xcb_window_t, Seen> seen;
  bool answered = false;
  bool answeredInOrder = false;  // the frame-extents answer, not only the selection's
  Clock::time_point answeredAt;
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
    } else if (type == XCB_PROPERTY_NOTIFY) {
      const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (change.window != requestor_ || change.atom != extents) return false;
      if (change.state != XCB_PROPERTY_NEW_VALUE) return false;
      answeredInOrder = true;
    } else if (type == XCB_DESTROY_NOTIFY) {
      const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (!pending_.count(destroyed.window)) return false;
      seen[destroyed.window].destroyed = true;
      return true;
    } else if (type == XCB_CONFIGURE_NOTIFY) {
      const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
      auto pending = pending_.find(configure.window);
      if (configure.window != configure.event || pending == pending_.end()) return false;
      const RootRect& before = pending->second.before;
      Seen& s = seen[configure.window];
      s.configured = true;
      s.last = Clock::now();
      s.now.width = configure.width;
      s.now.height = configure.height;
      s.sized = true;
      s.changed = s.changed || s.now.width != before.width || s.now.height != before.height;
      // Only a synthetic event is in root coordinates.
      if (event.response_type & 0x80) {
        s.now.x = configure.x + configure.border_width;
        s.now.y = configure.y + configure.border_width;
        s.placed = true;
        s.changed = s.changed || s.now.x != before.x || s.now.y != before.y;
      }
      return true;
    } else {
      return false;
    }
    if (!answered) answeredAt = Clock::now();
    answered = true;
    return true;
  };
  // Whether the window changed in one half of what was asked (size or
  // place) and not at all in the other: read from the server, since mutter
  // and openbox tell no place for a move with a resize.
  auto partStillComing = [&](xcb_window_t window, const Pending& pending, Seen& s, Clock::time_point now,
                             const auto& quietFor) {
    xcb_connection_t* c = connection_.current();
    if (!c) return false;
    if (!s.read || s.readAt < s.last) {
      s.read = clientRect(c, window, connection_.root());
      s.readAt = now;
    }
    if (!s.read) return false;
    const RootRect& r = *s.read;
    const RootRect& b = pending.before;
    const RootRect& t = pending.target;
    const bool moveComing = (t.x != b.x || t.y != b.y) && r.x == b.x && r.y == b.y;
    const bool sizeComing =
        (t.width != b.width || t.height != b.height) && r.width == b.width && r.height == b.height;
    if (sameRect(r, t) || (!moveComing && !sizeComing)) return false;
    if (!s.partSince) s.partSince = now;
    return !quietFor(std::max(*s.partSince, s.last), kPartQuiet);
  };
  // Each window is settled once it is where it was asked to be, or gone; or
  // once the manager answered after changing it (the answer comes after it
  // handled the request), or changed it and then sent nothing for a while,
  // unless half of the request is visibly still to come; or, answered with
  // nothing changed (a refusal), once nothing more came for a while:
  // metacity answers before it configures a GTK window, and openbox and
  // kwin answer a refusal with a configure that changes nothing. A window
  // asked to be, or left, larger than its monitor is settled only once it
  // has stayed as it is for longer, since its client may then shrink it.
  // `wake` is when a quiet period ends.
  auto settled = [&](xcb_window_t window, const Pending& pending, Clock::time_point now,
                     Clock::time_point& wake) {
    auto found = seen.find(window);
    const bool refusal = answered && (found == seen.end() || !found->second.changed);
    const auto refusalQuiet =
        answeredInOrder || pending.maximized ? kRefusalQuiet : kRefusalQuietAfterSelection;
    auto quietFor = [&](Clock::time_point since, std::chrono::milliseconds quiet) {
      if (now - since >= quiet) return true;
      wake = std::min(wake, since + quiet);
      return false;
    };
    if (found == seen.end()) return refusal && quietFor(answeredAt, refusalQuiet);
    const Seen& s = found->second;
    if (s.destroyed) return true;
    if (refusal) return quietFor(std::max(answeredAt, s.configured ? s.last : answeredAt), refusalQuiet);
    const bool arrived = s.sized && s.placed && sameRect(s.now, pending.target);
    if (!arrived && !s.changed) return false;
    const RootRect& m = pending.monitor;
    const bool oversize = pending.target.width > m.width || pending.target.height > m.height ||
                          (s.sized && (s.now.width > m.width || s.now.height > m.height));
    if (oversize) return quietFor(s.last, kOwnResizeQuiet);
    if (arrived) return true;
    if (!answered && !quietFor(s.last, kFollowUpQuiet)) return false;
    return !partStillComing(window, pending, found->second, now, quietFor);
  };
  const auto left = connection_.timeLeft() - kReadBackReserve;
  const auto deadline = Clock::now() + std::max(left, std::chrono::milliseconds{0});
  for (;;) {
    const auto now = Clock::now();
    Clock::time_point wake = deadline;
    bool all = true;
    for (const auto& [window, pending] : pending_) all = settled(window, pending, now, wake) && all;
    if (all) return;
    auto limit = std::chrono::ceil<std::chrono::milliseconds>(std::min(wake, deadline) - now);
    if (now >= deadline) break;
    if (!connection_.waitForEvent(matches, std::max(limit, std::chrono::milliseconds{1})) &&
        !connection_.current()) {
      break;
    }
    if (xcb_connection_t* c = connection_.current(); c && xcb_connection_has_error(c)) break;
  }
  // The time ran out: a window the manager was not seen to change has not
  // been moved as far as anyone can tell, and its read-back must not pass
  // for the outcome of the write.
  for (const auto& [window, pending] : pending_) {
    auto found = seen.find(window);
    const bool acted =
        found != seen.end() && (found->second.destroyed || found->second.changed ||
                                (found->second.placed && sameRect(found->second.now, pending.target)));
    if (!acted) unconfirmed_.insert(window);
  }
}

}  // namespace kestrove::platform::x11
