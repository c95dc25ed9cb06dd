#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/accessibility_bus.h"
#include "platform/x11/accessibility_bus_address.h"
#include "platform/x11/accessible_shapes.h"
#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// Reads, over AT-SPI, what a window that draws its own decorations publishes
// about them. Asked only for such windows and only when a command needs
// their frame or children; what it read lasts for the main-loop turn.
class AccessibilityReader {
 public:
  // None when no accessibility bus runs, the application publishes nothing
  // that matches the window, or it does not answer in time.
  const AccessibleWindow* window(const DesktopSnapshot& snapshot, xcb_window_t window,
                                 const ClientInfo& info);
  // The window moved or was resized: read it again when next asked, but keep
  // its border for writes until the turn ends.
  void invalidate(xcb_window_t window);
  // The border last read for the window this turn.
  std::optional<FrameExtents> lastBorder(xcb_window_t window) const;
  void endOfTurn();
  // A move's settling wait took part of the turn: what is read after it gets
  // the budget again, within what is left of the turn (`turnEnd`).
  void renewBudget(std::chrono::steady_clock::time_point turnEnd);

 private:
  struct Object {
    std::string name;
    std::string path;
  };
  std::chrono::steady_clock::time_point deadline();
  std::vector<std::string> namesOf(std::int32_t pid);
  std::vector<std::vector<Object>> childrenOf(const std::vector<Object>& parents);
  std::vector<Object> children(const std::vector<Object>& parents);
  std::vector<AccessibleNode> describe(const std::vector<Object>& objects);
  std::optional<AccessibleWindow> read(xcb_window_t window, const ClientInfo& info);
  // One reading of the tree; `behind` is set when the window's frame or its
  // children do not agree with the X window yet.
  std::optional<AccessibleWindow> readOnce(const std::vector<Object>& roots, const ClientInfo& info,
                                           bool& behind);

  AccessibilityBus bus_;
  AccessibilityBusAddress address_;
  bool stalled_ = false;
  std::optional<std::chrono::steady_clock::time_point> turnDeadline_;
  std::optional<std::vector<std::pair<std::string, std::int32_t>>> connections_;
  std::map<xcb_window_t, std::optional<AccessibleWindow>> read_;
  std::map<xcb_window_t, FrameExtents> borders_;
};

}  // namespace kestrove::platform::x11
