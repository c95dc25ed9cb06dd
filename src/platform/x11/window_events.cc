#include "platform/x11/window_events.h"

#include <algorithm>
#include <chrono>

namespace kestrove::platform::x11 {
namespace {

const std::string kCreated = "AXWindowCreated";
const std::string kMoved = "AXWindowMoved";
const std::string kResized = "AXWindowResized";
const std::string kDestroyed = "AXUIElementDestroyed";

// How long a new window's creation waits for the manager to show it.
constexpr std::chrono::milliseconds kShowWait{200};

bool isAppNotification(const std::string& name) {
  return name == kCreated || name == kMoved || name == kResized;
}

}  // namespace

void WindowEvents::track(const std::shared_ptr<X11Observer>& observer) {
  std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
  observers_.push_back(observer);
}

std::vector<std::shared_ptr<X11Observer>> WindowEvents::liveObservers() {
  std::vector<std::shared_ptr<X11Observer>> live;
  for (auto& weak : observers_) {
    if (auto observer = weak.lock()) live.push_back(std::move(observer));
  }
  return live;
}

std::int32_t WindowEvents::add(X11Observer& observer, const Element& element, const std::string& notification,
                               const void* context) {
  const X11Element* x = asX11(element);
  if (!x) return ax::kIllegalArgument;
  bool onApp = x->kind() == X11Element::Kind::Application && isAppNotification(notification);
  bool onWindow = x->kind() == X11Element::Kind::Window && notification == kDestroyed;
  if (!onApp && !onWindow) return ax::kNotificationUnsupported;
  for (const auto& r : observer.registrations) {
    if (r.notification == notification && sameElement(r.element, element))
      return ax::kNotificationAlreadyRegistered;
  }
  xcb_connection_t* c = connection_.get();
  if (!c || !snapshot_.ensureClients()) return ax::kCannotComplete;
  if (onApp) {
    if (x->pid() != observer.pid) return ax::kIllegalArgument;
    selectRoot(c);
    for (xcb_window_t w : snapshot_.clients()) {
      const ClientInfo* info = snapshot_.client(w);
      if (info && info->pid == x->pid()) watchWindow(c, w, *info);
    }
  } else {
    const ClientInfo* info = snapshot_.client(x->window());
    if (!info) return ax::kInvalidUIElement;
    watchWindow(c, x->window(), *info);
  }
  xcb_flush(c);
  observer.registrations.push_back({element, notification, context});
  return ax::kSuccess;
}

void WindowEvents::remove(X11Observer& observer, const Element& element, const std::string& notification) {
  std::erase_if(observer.registrations, [&](const X11Observer::Registration& r) {
    return r.notification == notification && sameElement(r.element, element);
  });
}

void WindowEvents::selectRoot(xcb_connection_t* c) {
  if (rootGeneration_ == connection_.generation()) return;
  std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, connection_.root(), XCB_CW_EVENT_MASK, &mask);
  rootGeneration_ = connection_.generation();
  knownClients_ = snapshot_.clients();
}

void WindowEvents::watchWindow(xcb_connection_t* c, xcb_window_t window, const ClientInfo& info) {
  std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
  if (info.pid) owner_[window] = *info.pid;
  geometry_[window] = info.content;
}

void WindowEvents::forget(xcb_window_t window) {
  owner_.erase(window);
  geometry_.erase(window);
  unshown_.erase(window);
}

bool WindowEvents::handle(const xcb_generic_event_t& event) {
  switch (event.response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY:
      configured(reinterpret_cast<const xcb_configure_notify_event_t&>(event));
      return true;
    case XCB_MAP_NOTIFY: {
      const auto& mapped = reinterpret_cast<const xcb_map_notify_event_t&>(event);
      if (mapped.event == mapped.window) shown(mapped.window);
      return true;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (destroyed.event != destroyed.window) return true;
      // Created, then closed: both are told.
      shown(destroyed.window);
      forget(destroyed.window);
      deliverDestroyed(destroyed.window);
      return true;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& property = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (property.window == connection_.root() &&
          property.atom == connection_.atoms()[Atom::NetClientList] &&
          rootGeneration_ == connection_.generation()) {
        clientListChanged();
      }
      return true;
    }
    default:
      return false;
  }
}

void WindowEvents::clientListChanged() {
  snapshot_.clear();
  if (!snapshot_.ensureClients()) return;
  xcb_connection_t* c = connection_.current();
  std::vector<xcb_window_t> now = snapshot_.clients();
  std::vector<xcb_window_t> before = std::move(knownClients_);
  knownClients_ = now;
  auto contains = [](const std::vector<xcb_window_t>& list, xcb_window_t w) {
    return std::find(list.begin(), list.end(), w) != list.end();
  };
  for (xcb_window_t w : before) {
    if (contains(now, w)) continue;
    shown(w);
    forget(w);
    deliverDestroyed(w);
  }
  std::vector<std::pair<xcb_window_t, std::int32_t>> created;
  for (xcb_window_t w : now) {
    if (contains(before, w)) continue;
    const ClientInfo* info = snapshot_.client(w);
    if (!info || !info->pid) continue;
    bool observed = false;
    for (auto& observer : liveObservers()) observed = observed || observer->pid == *info->pid;
    if (!observed) continue;
    if (c) watchWindow(c, w, *info);
    if (info->viewable || !schedule_) {
      created.emplace_back(w, *info->pid);
      continue;
    }
    const std::uint64_t serial = ++unshownSerial_;
    unshown_[w] = Unshown{*info->pid, serial};
    schedule_(kShowWait, [this, w, serial] {
      auto found = unshown_.find(w);
      if (found != unshown_.end() && found->second.serial == serial) shown(w);
    });
  }
  if (c) xcb_flush(c);
  for (auto& [w, pid] : created) deliverToApp(pid, kCreated, w);
}

void WindowEvents::shown(xcb_window_t window) {
  auto found = unshown_.find(window);
  if (found == unshown_.end()) return;
  const std::int32_t pid = found->second.pid;
  unshown_.erase(found);
  // Moves before the map were not reported: the created frame tells them.
  snapshot_.clear();
  if (snapshot_.ensureClients()) {
    if (const ClientInfo* info = snapshot_.client(window)) geometry_[window] = info->content;
  }
  deliverToApp(pid, kCreated, window);
}

void WindowEvents::configured(const xcb_configure_notify_event_t& event) {
  if (event.event != event.window) return;
  auto owner = owner_.find(event.window);
  if (owner == owner_.end() || unshown_.count(event.window)) return;
  std::int32_t pid = owner->second;
  auto known = geometry_.find(event.window);
  bool synthetic = (event.response_type & 0x80) != 0;
  bool moved = false, resized = false;
  RootRect now = known != geometry_.end() ? known->second : RootRect{};
  // A synthetic event is in root coordinates; a real one is relative to the
  // frame, so only its size says anything.
  if (synthetic) {
    double x = event.x + event.border_width, y = event.y + event.border_width;
    moved = known == geometry_.end() || x != now.x || y != now.y;
    now.x = x;
    now.y = y;
  } else if (known != geometry_.end() && snapshot_.ensureClients()) {
    // mutter and openbox move a window they also resize without a
    // synthetic event: where it is now the server says.
    if (const ClientInfo* info = snapshot_.client(event.window)) {
      moved = info->content.x != now.x || info->content.y != now.y;
      now.x = info->content.x;
      now.y = info->content.y;
    }
  }
  resized = known != geometry_.end() ? (event.width != now.width || event.height != now.height) : !synthetic;
  now.width = event.width;
  now.height = event.height;
  geometry_[event.window] = now;
  if (moved) deliverToApp(pid, kMoved, event.window);
  if (resized) deliverToApp(pid, kResized, event.window);
}

void WindowEvents::deliverToApp(std::int32_t pid, const std::string& notification, xcb_window_t window) {
  Element app = makeElement(X11Element::Kind::Application, static_cast<std::uint32_t>(pid));
  Element target = makeElement(X11Element::Kind::Window, window);
  for (auto& observer : liveObservers()) {
    if (observer->pid != pid) continue;
    auto registrations = observer->registrations;
    for (const auto& r : registrations) {
      if (!observer->attached) break;
      if (r.notification == notification && sameElement(r.element, app))
        observer->callback(target, notification, r.context);
    }
  }
}

void WindowEvents::deliverDestroyed(xcb_window_t window) {
  Element target = makeElement(X11Element::Kind::Window, window);
  for (auto& observer : liveObservers()) {
    auto registrations = observer->registrations;
    for (const auto& r : registrations) {
      if (!observer->attached) break;
      if (r.notification == kDestroyed && sameElement(r.element, target)) {
        observer->callback(r.element, kDestroyed, r.context);
      }
    }
  }
}

void WindowEvents::awaitWindowsOf(std::int32_t pid) {
  // The server destroys a client's windows once it reads the end of its
  // connection, usually well within a millisecond of the exit.
  constexpr std::chrono::milliseconds kDestroyWait{100};
  xcb_connection_t* c = connection_.current();
  if (!c) return;
  std::vector<std::pair<xcb_window_t, xcb_get_geometry_cookie_t>> asked;
  for (const auto& [window, owner] : owner_) {
    if (owner == pid) asked.emplace_back(window, xcb_get_geometry(c, window));
  }
  std::vector<xcb_window_t> alive;
  for (auto& [window, cookie] : asked) {
    XcbReply<xcb_get_geometry_reply_t> reply(xcb_get_geometry_reply(c, cookie, nullptr));
    if (reply) alive.push_back(window);
  }
  auto destroyedOne = [&](const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != XCB_DESTROY_NOTIFY) return false;
    std::erase(alive, reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
    return alive.empty();
  };
  if (!alive.empty()) connection_.waitForEvent(destroyedOne, kDestroyWait);
  // Windows already gone before the wait have their DestroyNotify queued.
}

void WindowEvents::connectionLost() {
  unshown_.clear();
  rootGeneration_ = 0;
  knownClients_.clear();
  owner_.clear();
  geometry_.clear();
}

}  // namespace kestrove::platform::x11
