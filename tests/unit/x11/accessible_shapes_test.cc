#include "platform/x11/accessible_shapes.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::platform::x11 {
namespace {

using namespace atspiRole;

constexpr double kHidden = std::numeric_limits<std::int32_t>::min();

AccessibleNode node(std::uint32_t role, RootRect rect, std::string name = "") {
  return AccessibleNode{role, std::move(name), rect};
}

void expectRect(const RootRect& actual, const RootRect& expected, const std::string& what) {
  EXPECT_EQ(actual.x, expected.x) << what;
  EXPECT_EQ(actual.y, expected.y) << what;
  EXPECT_EQ(actual.width, expected.width) << what;
  EXPECT_EQ(actual.height, expected.height) << what;
}

// The frame's coordinates start where GTK's window widget is: the client
// window's corner (GTK 3), the visible window inside the shadow, or the
// middle of a solid border (GTK 4), as the frame's size tells.
TEST(X11AccessibleShapes, FrameOriginFollowsTheFramesSize) {
  struct Case {
    const char* what;
    RootRect frame;
    RootRect client;
    FrameExtents shadow;
    std::optional<std::pair<double, double>> origin;
  };
  const RootRect client{100, 200, 510, 456};
  const Case cases[] = {
      {"the client's size", {0, 0, 510, 456}, client, {}, std::make_pair(100.0, 200.0)},
      {"the visible window inside the shadow",
       {0, 0, 500, 400},
       {100, 200, 528, 429},
       {14, 14, 12, 17},
       std::make_pair(114.0, 212.0)},
      {"centred in a 5 px border", {0, 0, 500, 446}, client, {}, std::make_pair(105.0, 205.0)},
      {"a border wider than it is high", {0, 0, 500, 450}, client, {}, std::nullopt},
      {"half a pixel of border", {0, 0, 509, 455}, client, {}, std::nullopt},
      {"larger than the client (laid out for an older size)", {0, 0, 702, 482}, client, {}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(frameOrigin(c.frame, c.client, c.shadow), c.origin) << c.what;
}

// GTK 3 without a compositor, as published: a 5 px border around a header
// bar and a label, and three title-bar buttons inside the bar.
struct Gtk3Window {
  RootRect client{100, 200, 510, 456};
  AccessibleNode frame = node(kFrame, {0, 0, 510, 456}, "App");
  std::vector<AccessibleNode> children{node(kToolBar, {5, 5, 500, 46}), node(kLabel, {5, 51, 500, 400})};
  std::vector<AccessibleNode> buttons{node(kPushButton, {386, 12, 34, 30}, "Minimize"),
                                      node(kPushButton, {426, 12, 34, 30}, "Maximize"),
                                      node(kPushButton, {466, 12, 34, 30}, "Close")};
};

TEST(X11AccessibleShapes, ChildrenInRootPixelsWithTheBorderTheyLeave) {
  Gtk3Window w;
  auto shaped = shapeWindow(w.frame, w.children, w.buttons, w.client, {});
  ASSERT_TRUE(shaped);
  EXPECT_EQ(shaped->border.left, 5);
  EXPECT_EQ(shaped->border.right, 5);
  EXPECT_EQ(shaped->border.top, 5);
  EXPECT_EQ(shaped->border.bottom, 5);
  ASSERT_EQ(shaped->children.size(), 5u);
  EXPECT_EQ(shaped->children[0].role, "AXToolbar");
  expectRect(shaped->children[0].rect, {105, 205, 500, 46}, "header bar");
  EXPECT_EQ(shaped->children[1].role, "AXStaticText");
  expectRect(shaped->children[1].rect, {105, 251, 500, 400}, "content");
  const char* subroles[] = {"AXMinimizeButton", "AXZoomButton", "AXCloseButton"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(shaped->children[2 + i].role, "AXButton");
    EXPECT_EQ(shaped->children[2 + i].subrole, subroles[i]);
  }
  expectRect(shaped->children[4].rect, {566, 212, 34, 30}, "close button");
}

TEST(X11AccessibleShapes, ButtonsWhoseNameSaysNothingAreToolbarButtonsAndHiddenOnesAreLeftOut) {
  Gtk3Window w;
  w.buttons = {
      node(kPushButton, {386, 12, 34, 30}, "Minimieren"), node(kPushButton, {426, 12, 34, 30}, "Restore"),
      node(kPushButton, {kHidden, kHidden, 1, 1}, "Close"), node(kPushButton, {466, 12, 34, 30}, "")};
  auto shaped = shapeWindow(w.frame, w.children, w.buttons, w.client, {});
  ASSERT_TRUE(shaped);
  std::vector<std::string> subroles;
  for (const auto& child : shaped->children) subroles.push_back(child.subrole);
  EXPECT_EQ(subroles,
            (std::vector<std::string>{"", "", "AXToolbarButton", "AXZoomButton", "AXToolbarButton"}));
}

TEST(X11AccessibleShapes, HiddenChildrenDoNotCountTowardsTheBorder) {
  Gtk3Window w;
  w.children.push_back(node(kFiller, {kHidden, kHidden, 1, 1}));
  auto shaped = shapeWindow(w.frame, w.children, {}, w.client, {});
  ASSERT_TRUE(shaped);
  EXPECT_EQ(shaped->children.size(), 2u);
  EXPECT_EQ(shaped->border.left, 5);
}

// GTK 4 under a compositor counts from its visible window, inside the shadow.
TEST(X11AccessibleShapes, Gtk4CompositedCountsFromTheVisibleWindow) {
  const RootRect client{100, 200, 528, 429};
  const FrameExtents shadow{14, 14, 12, 17};
  auto shaped =
      shapeWindow(node(kWindow, {0, 0, 500, 400}),
                  {node(kLabel, {0, 46, 500, 354}), node(kPanel, {0, 0, 500, 46})}, {}, client, shadow);
  ASSERT_TRUE(shaped);
  expectRect(shaped->children[0].rect, {114, 258, 500, 354}, "content");
  expectRect(shaped->children[1].rect, {114, 212, 500, 46}, "header bar");
  EXPECT_EQ(shaped->border.left, 0);
  EXPECT_EQ(shaped->border.bottom, 0);
}

// Right after a resize the application still publishes its old layout: it
// does not fit the window with an even border, so nothing is answered yet.
TEST(X11AccessibleShapes, ALayoutForAnotherSizeIsNotAnswered) {
  struct Case {
    const char* what;
    RootRect client;
  };
  const Case cases[] = {
      {"window grown", {100, 200, 712, 487}},
      {"window shrunk", {100, 200, 410, 356}},
      {"only taller", {100, 200, 510, 556}},
  };
  for (const Case& c : cases) {
    Gtk3Window w;
    w.frame.rect = {0, 0, c.client.width, c.client.height};
    EXPECT_FALSE(shapeWindow(w.frame, w.children, w.buttons, c.client, {})) << c.what;
  }
}

TEST(X11AccessibleShapes, NothingLaidOutGivesNothing) {
  Gtk3Window w;
  EXPECT_FALSE(shapeWindow(w.frame, {node(kLabel, {kHidden, kHidden, 1, 1})}, w.buttons, w.client, {}));
  EXPECT_FALSE(shapeWindow(w.frame, {}, w.buttons, w.client, {}));
}

}  // namespace
}  // namespace kestrove::platform::x11
