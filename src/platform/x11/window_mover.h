#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/x11/accessibility_reader.h"
#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// Writes AXPosition and AXSize of managed windows through the window manager
// (_NET_MOVERESIZE_WINDOW). Writes are gathered and sent when the frame is
// next read, and the read waits until the manager has acted on all of them
// (settle), because the caller reads back at once. The wait ends on what the
// manager does, bounded only by the command's own limit; a window the manager
// was not seen to act on in that time is unconfirmed.
class WindowMover {
 public:
  WindowMover(Connection& connection, DesktopSnapshot& snapshot, AccessibilityReader& accessibility)
      : connection_(connection), snapshot_(snapshot), accessibility_(accessibility) {}

  std::int32_t write(xcb_window_t window, const std::string& attribute, const AxValue& value);
  // Sends what was written and returns once the manager has acted on it.
  void settle();
  // Whether the manager was not seen to act on the writes to `window` settled
  // since the last call (the command's time ran out first); clears it.
  bool takeUnconfirmed(xcb_window_t window);
  void connectionLost();

 private:
  struct Pending {
    RootRect target;  // the client window, in root pixels
    RootRect before;  // where it was when the request went out
    // The monitor it is asked onto: a client larger than it may shrink
    // itself after the manager configured it.
    RootRect monitor;
    // Maximized when the request went out: the manager holds such a window
    // where it laid it out, and decides on a request as it handles it.
    bool maximized = false;
    // One _NET_MOVERESIZE_WINDOW per write, in order: managers constrain a
    // move and a resize together differently from one after the other.
    std::vector<std::array<std::uint32_t, 5>> messages;
  };
  void ask(xcb_connection_t* c, bool convertSelection);
  void wait(std::uint32_t firstRequest);

  Connection& connection_;
  DesktopSnapshot& snapshot_;
  AccessibilityReader& accessibility_;
  std::map<xcb_window_t, Pending> pending_;
  std::set<xcb_window_t> unconfirmed_;
  // The window of our own the last questions were asked about.
  xcb_window_t requestor_ = XCB_WINDOW_NONE;
  std::uint64_t requestorGeneration_ = 0;
  std::uint32_t selectionTime_ = 0;
};

}  // namespace kestrove::platform::x11
