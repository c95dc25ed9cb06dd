#include "platform/x11/frame_shape.h"

#include <gtest/gtest.h>

namespace kestrove::platform::x11 {
namespace {

void expectRect(const RootRect& actual, const RootRect& expected, const char* what) {
  EXPECT_EQ(actual.x, expected.x) << what;
  EXPECT_EQ(actual.y, expected.y) << what;
  EXPECT_EQ(actual.width, expected.width) << what;
  EXPECT_EQ(actual.height, expected.height) << what;
}

// The frame is the title bar plus the content, as wide as the content; a
// write gives back the client window that has that frame.
TEST(X11FrameShape, FrameOfEachKindOfWindowAndBack) {
  struct Case {
    const char* what;
    FrameExtents extents;
    FrameExtents shadow;
    std::optional<FrameExtents> border;
    RootRect client;
    RootRect frame;
  };
  const Case cases[] = {
      {"decorated by the manager: its title bar above",
       {1, 1, 20, 5},
       {},
       std::nullopt,
       {100, 200, 640, 480},
       {100, 180, 640, 500}},
      {"header bar, composited: the visible window",
       {},
       {26, 26, 23, 29},
       FrameExtents{},
       {100, 200, 692, 579},
       {126, 223, 640, 527}},
      {"header bar, solid border: inside it but for the top",
       {},
       {},
       FrameExtents{5, 5, 5, 5},
       {195, 99, 650, 536},
       {200, 99, 640, 531}},
      {"undecorated, nothing published", {}, {}, std::nullopt, {10, 20, 300, 200}, {10, 20, 300, 200}},
  };
  for (const Case& c : cases) {
    ClientInfo info;
    info.extents = c.extents;
    info.shadow = c.shadow;
    const FrameInsets insets = frameInsets(info, c.border);
    expectRect(frameOf(c.client, insets), c.frame, c.what);
    expectRect(clientFor(c.frame, insets), c.client, c.what);
  }
}

TEST(X11FrameShape, OnlyWindowsWithoutTheManagersTitleBarMayDrawTheirOwn) {
  ClientInfo info;
  EXPECT_TRUE(mayDrawOwnTitlebar(info));
  info.fullscreen = true;
  EXPECT_FALSE(mayDrawOwnTitlebar(info));
  info.fullscreen = false;
  info.extents.top = 37;
  EXPECT_FALSE(mayDrawOwnTitlebar(info));
}

}  // namespace
}  // namespace kestrove::platform::x11
