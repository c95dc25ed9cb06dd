#pragma once

// Plain data describing the simulated desktop's applications and windows.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::sim {

// Stable handle of a simulated window, never reused.
using WindowId = std::uint64_t;

// An Accessibility child of a window, placed relative to the window's
// top-left corner so it moves with the window.
struct SimChild {
  enum class Anchor {
    // At (x, y) from the window's corner with its own size.
    Fixed,
    // Below the title bar: x 0, y = the window's titlebar, the window's full
    // width, height = window height - titlebar (never negative).
    Content,
    // Vertically centred in the title bar at x: y = (titlebar - height) / 2.
    TitlebarButton,
  };
  std::string role = "AXGroup";
  std::string subrole;  // empty: the read answers kNoValue without a value
  Anchor anchor = Anchor::Fixed;
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  // Fixed children only: the width follows the window's width.
  bool fullWidth = false;
};

// How the owning application answers size and position writes.
struct SimClamp {
  double minWidth = 0;
  double minHeight = 0;
  double maxWidth = std::numeric_limits<double>::infinity();
  double maxHeight = std::numeric_limits<double>::infinity();
  // Sizes snap down to a multiple of these (0: no snapping), after min/max.
  double widthIncrement = 0;
  double heightIncrement = 0;
  // The app keeps the window this much smaller than asked, in both axes.
  double shrinkBy = 0;
  // The app refuses to let the window's top go above this y (a menu bar).
  std::optional<double> minY;
};

struct SimWindow {
  // Frame in global top-left points, title bar included.
  double x = 0;
  double y = 0;
  double width = 800;
  double height = 600;
  bool main = false;
  bool minimized = false;
  bool fullScreen = false;
  std::string role = "AXWindow";
  std::string subrole = "AXStandardWindow";
  // The window-number function's answer; none: the sim assigns a fresh one.
  std::optional<std::uint32_t> number;
  // Nonzero: the window-number function fails with this code for the window.
  std::int32_t numberCode = 0;
  bool positionSettable = true;
  bool sizeSettable = true;
  // Height used by Content and TitlebarButton children.
  double titlebar = 28;
  // After the next write that changes the frame, the title bar takes this
  // height (once), as an app that shows a toolbar only at some sizes does.
  std::optional<double> titlebarAfterMove;
  SimClamp clamp;
  std::vector<SimChild> children;
};

// How an app's quitting is reported: by the workspace's termination notice
// and by its own running-application record turning terminated, in either
// order, or by the record alone, as for background and agent (LSUIElement)
// apps, for which the workspace posts no notice.
enum class SimQuitReport { NoticeFirst, TerminatedFirst, TerminatedOnly };

struct SimApp {
  std::string bundleId;
  std::int32_t pid = 0;
  bool terminated = false;
  // AXEnhancedUserInterface on the app element; none: the app has no such
  // attribute. While true, frame writes land over a few ticks.
  std::optional<bool> enhancedUserInterface;
  SimQuitReport quitReport = SimQuitReport::NoticeFirst;
};

}  // namespace kestrove::sim
