#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/x11/desktop_snapshot.h"
#include "platform/x11/x11_element.h"

namespace kestrove::platform::x11 {

// One observer per pid: its registrations, delivered only while attached.
class X11Observer : public ObserverRef {
 public:
  struct Registration {
    Element element;
    std::string notification;
    const void* context;
  };
  X11Observer(std::int32_t observedPid, NotificationCallback onNotification, std::function<void()> onDestroy)
      : pid(observedPid), callback(std::move(onNotification)), onDestroy_(std::move(onDestroy)) {}
  ~X11Observer() override {
    if (onDestroy_) onDestroy_();
  }

  std::int32_t pid;
  NotificationCallback callback;
  bool attached = false;
  std::vector<Registration> registrations;

 private:
  std::function<void()> onDestroy_;
};

// Turns X events into Accessibility notifications: _NET_CLIENT_LIST changes
// on the root (created, and destroyed for windows that left the list),
// ConfigureNotify on clients (a synthetic one moves, a size change resizes)
// and DestroyNotify. UnmapNotify alone is a minimize, not a close.
class WindowEvents {
 public:
  // Runs work once, after a delay, as a main-loop turn of its own.
  using Scheduler = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

  WindowEvents(Connection& connection, DesktopSnapshot& snapshot, Scheduler schedule)
      : connection_(connection), snapshot_(snapshot), schedule_(std::move(schedule)) {}

  void track(const std::shared_ptr<X11Observer>& observer);
  std::int32_t add(X11Observer& observer, const Element& element, const std::string& notification,
                   const void* context);
  void remove(X11Observer& observer, const Element& element, const std::string& notification);
  // True when the event was one this class looks at.
  bool handle(const xcb_generic_event_t& event);
  // The process `pid` ended: waits, briefly, until the server has destroyed
  // the windows of it that are watched, so their closes are read (and
  // reported) before the process's end is.
  void awaitWindowsOf(std::int32_t pid);
  void connectionLost();

 private:
  void selectRoot(xcb_connection_t* c);
  void watchWindow(xcb_connection_t* c, xcb_window_t window, const ClientInfo& info);
  void forget(xcb_window_t window);
  void clientListChanged();
  void configured(const xcb_configure_notify_event_t& event);
  void deliverToApp(std::int32_t pid, const std::string& notification, xcb_window_t window);
  void deliverDestroyed(xcb_window_t window);
  // Reports a window held back until the manager showed it (see unshown_).
  void shown(xcb_window_t window);
  std::vector<std::shared_ptr<X11Observer>> liveObservers();

  Connection& connection_;
  DesktopSnapshot& snapshot_;
  std::vector<std::weak_ptr<X11Observer>> observers_;
  std::uint64_t rootGeneration_ = 0;
  std::vector<xcb_window_t> knownClients_;
  // Windows whose StructureNotify we follow: owner pid and last content rect.
  std::map<xcb_window_t, std::int32_t> owner_;
  std::map<xcb_window_t, RootRect> geometry_;
  // New windows listed before the manager showed them: mutter places a
  // window as it maps it, so their creation is reported at the map (within
  // a bound), with the placed frame; the moves until then are not reported.
  struct Unshown {
    std::int32_t pid;
    std::uint64_t serial;
  };
  std::map<xcb_window_t, Unshown> unshown_;
  std::uint64_t unshownSerial_ = 0;
  Scheduler schedule_;
};

}  // namespace kestrove::platform::x11
