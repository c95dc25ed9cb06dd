#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/connection.h"

namespace kestrove::platform::x11 {

// A rectangle in root-window pixels, top-left origin.
struct RootRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct Monitor {
  RootRect rect;
  bool primary = false;
  std::optional<std::uint32_t> output;
};

struct FrameExtents {
  double left = 0;
  double right = 0;
  double top = 0;
  double bottom = 0;
};

// One managed client window as read in one batch.
struct ClientInfo {
  bool exists = false;  // its geometry came back
  std::optional<std::int32_t> pid;
  std::string appId;
  std::string title;
  // The client window, in root pixels, inside its own X border.
  RootRect content;
  // That border's width (xterm keeps 1 px under i3; other managers zero it).
  double border = 0;
  // The manager's frame around it: _NET_FRAME_EXTENTS, else measured from
  // the frame window it was reparented into (i3 publishes no extents).
  FrameExtents extents;
  // The invisible margin a client that draws its own decorations keeps
  // around its visible window for the shadow (_GTK_FRAME_EXTENTS).
  FrameExtents shadow;
  // Placed by a tiling manager (i3 without its floating mark): not movable.
  bool tiled = false;
  bool hidden = false;
  bool fullscreen = false;
  // Maximized both ways: laid out by the manager, which holds it there.
  bool maximized = false;
  // Mapped by the manager (mutter lists a window before it places and maps it).
  bool viewable = false;
  xcb_atom_t windowType = XCB_ATOM_NONE;
  // None when the window manager does not publish the allowed actions.
  std::optional<std::vector<xcb_atom_t>> allowedActions;
};

// What the desktop looked like at one moment: read with pipelined requests
// (a few round trips in all) and dropped at the end of the main-loop turn or
// on any write, so nothing outlives the command that read it.
class DesktopSnapshot {
 public:
  explicit DesktopSnapshot(Connection& connection) : connection_(connection) {}

  void clear();

  // Root level: client lists, active window, monitors, work area.
  bool ensureRoot();
  // Every client's properties, after the root level.
  bool ensureClients();

  bool rootReadable() const { return rootReadable_; }
  const std::vector<xcb_window_t>& clients() const { return clients_; }
  const std::vector<xcb_window_t>& stacking() const { return stacking_; }
  xcb_window_t activeWindow() const { return active_; }
  // Primary first.
  const std::vector<Monitor>& monitors() const { return monitors_; }
  std::optional<RootRect> workArea() const { return workArea_; }
  RootRect rootBounds() const { return rootBounds_; }
  // The accessibility bus address the root publishes (AT_SPI_BUS); empty when none runs.
  const std::string& accessibilityBus() const { return accessibilityBus_; }
  // Whether the manager lists _NET_REQUEST_FRAME_EXTENTS as supported.
  bool offersFrameExtentsRequest() const { return offersFrameExtentsRequest_; }
  // i3 takes the x, y of a move as the client window's corner, not its
  // frame's, whatever the gravity.
  bool movesByClientCorner() const { return tilingManager_; }
  // Root pixel of the global origin (the primary monitor's top-left corner).
  double originX() const { return monitors_.empty() ? 0 : monitors_.front().rect.x; }
  double originY() const { return monitors_.empty() ? 0 : monitors_.front().rect.y; }

  // A client of the list, or null when it is not managed or is gone.
  const ClientInfo* client(xcb_window_t window) const;

 private:
  void readClients(xcb_connection_t* connection);
  void readResourcePids(xcb_connection_t* connection);
  struct FramedClient {
    xcb_window_t client;
    xcb_window_t frame;
    double border;
  };
  void readFrameWindows(xcb_connection_t* connection, const std::vector<FramedClient>& framed);

  Connection& connection_;
  bool rootLoaded_ = false;
  bool clientsLoaded_ = false;
  bool rootReadable_ = false;
  std::vector<xcb_window_t> clients_;
  std::vector<xcb_window_t> stacking_;
  xcb_window_t active_ = XCB_WINDOW_NONE;
  std::vector<Monitor> monitors_;
  std::optional<RootRect> workArea_;
  RootRect rootBounds_;
  std::string accessibilityBus_;
  bool tilingManager_ = false;
  bool offersFrameExtentsRequest_ = false;
  std::map<xcb_window_t, ClientInfo> info_;
};

}  // namespace kestrove::platform::x11
