#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/x11/desktop_snapshot.h"

namespace kestrove::platform::x11 {

// AT-SPI role numbers (AtspiRole).
namespace atspiRole {
inline constexpr std::uint32_t kDialog = 16;
inline constexpr std::uint32_t kFiller = 20;
inline constexpr std::uint32_t kFrame = 23;
inline constexpr std::uint32_t kLabel = 29;
inline constexpr std::uint32_t kMenuBar = 34;
inline constexpr std::uint32_t kPanel = 39;
inline constexpr std::uint32_t kPushButton = 43;
inline constexpr std::uint32_t kScrollPane = 49;
inline constexpr std::uint32_t kText = 61;
inline constexpr std::uint32_t kToolBar = 63;
inline constexpr std::uint32_t kWindow = 69;
inline constexpr std::uint32_t kEntry = 79;
}  // namespace atspiRole

// An accessible object as an application published it: its AT-SPI role, its
// name, and its extents in the application's window coordinates.
struct AccessibleNode {
  std::uint32_t role = 0;
  std::string name;
  RootRect rect;
};

// A child of a window element in Accessibility shapes, in root pixels.
struct AccessibleChild {
  std::string role;
  std::string subrole;
  RootRect rect;
};

// What a window that draws its own decorations publishes about them: its
// children (the header bar, the content, the title-bar buttons) and the
// border it draws around them inside its visible window (GTK 3 draws a
// solid one when no compositor runs; the top one belongs to the title bar).
struct AccessibleWindow {
  FrameExtents border;
  std::vector<AccessibleChild> children;
};

// Whether an object has a place and a size (hidden ones have neither).
bool laidOut(const RootRect& rect);

// AT-SPI roles that are top-level windows.
bool isWindowRole(std::uint32_t role);
bool isPushButton(std::uint32_t role);

// Where the accessible frame's window coordinates start, in root pixels; none
// when the frame fits neither way (see shapeWindow).
std::optional<std::pair<double, double>> frameOrigin(const RootRect& frame, const RootRect& client,
                                                     const FrameExtents& shadow);

// Translates a window's accessible frame and its children to root pixels.
// GTK 3 counts window coordinates from the client window's corner, GTK 4
// from its window widget's, which fills the visible window (the client less
// the shadow) or sits centred in it inside a solid border, so the frame's
// size says where its coordinates start. None when the frame fits none of
// these, or when the children are not laid out inside the visible
// window with an even border: the application has not caught up with a
// resize yet.
std::optional<AccessibleWindow> shapeWindow(const AccessibleNode& frame,
                                            const std::vector<AccessibleNode>& children,
                                            const std::vector<AccessibleNode>& titleButtons,
                                            const RootRect& client, const FrameExtents& shadow);

}  // namespace kestrove::platform::x11
