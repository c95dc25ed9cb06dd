#include "windows/titlebar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The window every case measures: (100, 50) 800 x 600, on a system whose
// default title bar is 32, so that a default is told apart from a measured 28.
class TitlebarTest : public WindowsFixture {
 protected:
  TitlebarTest() { sim.setOsVersion({26, 0, 0}); }

  sim::WindowId windowWith(std::vector<sim::SimChild> children) {
    sim::SimWindow w;
    w.x = 100;
    w.y = 50;
    w.width = 800;
    w.height = 600;
    w.children = std::move(children);
    return addWindow(std::move(w));
  }

  TitlebarMeasure measure(sim::WindowId id, Frame frame = {100, 50, 800, 600}) {
    return measureTitlebar(core, sim.windowElement(id), frame);
  }

  static sim::SimChild content(double offset, double width = 800, double height = 500) {
    return child(0, offset, width, height);
  }
  // A 14-high button whose middle lies `middle` below the window's top.
  static sim::SimChild button(double middle, std::string subrole = "AXCloseButton") {
    return child(20, middle - 7, 14, 14, std::move(subrole));
  }
};

TEST_F(TitlebarTest, ChoosesByPrecedenceAndBoundaries) {
  struct Case {
    const char* name;
    std::vector<sim::SimChild> children;
    double titlebar;
    std::string_view source;
  };
  sim::SimChild toolbar = content(52);
  toolbar.role = "AXToolbar";
  const Case cases[] = {
      {"smallest content offset", {content(52), content(28)}, 28, kTitlebarFromContent},
      {"content beats buttons", {button(14), content(28), button(14)}, 28, kTitlebarFromContent},
      {"content offset is not rounded", {content(27.5)}, 27.5, kTitlebarFromContent},
      {"twice the smallest button middle", {button(15), button(14)}, 28, kTitlebarFromButtons},
      {"button halves round away from zero", {button(13.25)}, 27, kTitlebarFromButtons},
      {"button middle 0 is outside the band", {button(0)}, 32, kTitlebarDefault},
      {"button middle 60 is outside the band", {button(60)}, 32, kTitlebarDefault},
      {"button middle 59.9 is inside", {button(59.9)}, 120, kTitlebarFromButtons},
      {"toolbar buttons count", {button(14, "AXToolbarButton")}, 28, kTitlebarFromButtons},
      {"other subroles are not buttons", {button(14, "AXButton")}, 32, kTitlebarDefault},
      {"content at the top edge", {content(0)}, 0, kTitlebarFromContent},
      {"buttons beat the top edge", {content(0), button(14)}, 28, kTitlebarFromButtons},
      {"offset 100 qualifies", {content(100)}, 100, kTitlebarFromContent},
      {"offset 100.5 does not", {content(100.5)}, 32, kTitlebarDefault},
      {"above the top does not", {content(-1)}, 32, kTitlebarDefault},
      {"1 point narrower qualifies", {content(28, 799)}, 28, kTitlebarFromContent},
      {"1.5 points narrower does not", {content(28, 798.5)}, 32, kTitlebarDefault},
      {"39.9 high does not", {content(28, 800, 39.9)}, 32, kTitlebarDefault},
      {"40 high qualifies", {content(28, 800, 40)}, 28, kTitlebarFromContent},
      {"a toolbar is not content", {toolbar}, 32, kTitlebarDefault},
      {"content below a toolbar", {toolbar, content(80)}, 80, kTitlebarFromContent},
      {"negative height counts from the lower edge", {child(0, 128, 800, -100)}, 28, kTitlebarFromContent},
      {"negative width counts as its size", {child(800, 28, -800, 100)}, 28, kTitlebarFromContent},
      {"NaN width is skipped", {content(28, kNaN), content(52)}, 52, kTitlebarFromContent},
      {"NaN height is skipped", {content(28, 800, kNaN)}, 32, kTitlebarDefault},
      {"NaN offset is skipped", {content(kNaN)}, 32, kTitlebarDefault},
      {"NaN button middle is skipped", {button(kNaN)}, 32, kTitlebarDefault},
  };
  for (const Case& c : cases) {
    TitlebarMeasure m = measure(windowWith(c.children));
    EXPECT_EQ(m.titlebar, c.titlebar) << c.name;
    EXPECT_EQ(m.titlebarSource, c.source) << c.name;
  }
}

TEST_F(TitlebarTest, DefaultFollowsTheSystemVersionAtEveryCall) {
  sim::WindowId bare = windowWith({});
  sim::WindowId unreadable = windowWith({content(28)});
  sim.failRead(sim.windowElement(unreadable), "AXChildren", {platform::ax::kCannotComplete, std::nullopt});

  for (sim::WindowId id : {bare, unreadable}) {
    sim.setOsVersion({25, 9, 0});
    EXPECT_EQ(measure(id).titlebar, 28);
    sim.setOsVersion({26, 0, 0});
    EXPECT_EQ(measure(id).titlebar, 32);
    EXPECT_EQ(measure(id).titlebarSource, kTitlebarDefault);
  }
}

TEST_F(TitlebarTest, MeasuresAgainstTheNormalisedFrameGiven) {
  sim::WindowId id = windowWith({content(28)});
  // The same rectangle given with a negative height from its lower edge.
  EXPECT_EQ(measure(id, {100, 650, 800, -600}).titlebar, 28);
  // A frame given 8 points lower than the window's own moves the offset.
  EXPECT_EQ(measure(id, {100, 58, 800, 600}).titlebar, 20);
}

TEST_F(TitlebarTest, LooksAtNoMoreThanSixtyFourChildren) {
  std::vector<sim::SimChild> children(64, child(0, 200, 10, 10));
  children.push_back(content(28));
  sim::WindowId id = windowWith(children);
  sim.clearCalls();

  EXPECT_EQ(measure(id).titlebarSource, kTitlebarDefault);
  const std::string last = sim::SimPlatform::describe(sim.childElement(id, 64));
  const std::string previous = sim::SimPlatform::describe(sim.childElement(id, 63));
  EXPECT_EQ(sim.countCalls("copyAttributeValue", {}, last), 0u);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXPosition", previous), 1u);
}

TEST_F(TitlebarTest, UnreadableChildGeometryDropsTheChildBeforeItsSubrole) {
  sim::WindowId id = windowWith({button(14), content(52)});
  platform::Element buttonElement = sim.childElement(id, 0);
  sim.failRead(buttonElement, "AXSize", noValue());
  sim.clearCalls();

  TitlebarMeasure m = measure(id);
  EXPECT_EQ(m.titlebar, 52);
  EXPECT_EQ(m.titlebarSource, kTitlebarFromContent);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXSubrole", sim::SimPlatform::describe(buttonElement)), 0u);
}

TEST_F(TitlebarTest, UnreadableSubroleAndRoleCountAsEmpty) {
  sim::WindowId id = windowWith({content(30)});
  platform::Element c = sim.childElement(id, 0);
  sim.failRead(c, "AXSubrole", {platform::ax::kSuccess, platform::Number{1}});
  sim.failRead(c, "AXRole", {platform::ax::kCannotComplete, std::nullopt});
  EXPECT_EQ(measure(id).titlebar, 30);
}

TEST_F(TitlebarTest, ButtonsCostThreeReadsAndOtherChildrenFour) {
  sim::WindowId id = windowWith({button(14), content(28)});
  sim.clearCalls();
  measure(id);
  const std::string b = sim::SimPlatform::describe(sim.childElement(id, 0));
  const std::string c = sim::SimPlatform::describe(sim.childElement(id, 1));
  EXPECT_EQ(sim.countCalls("copyAttributeValue", {}, b), 3u);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXRole", b), 0u);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", {}, c), 4u);
}

TEST(ContentRectTest, IsTheNormalisedFrameBelowTheTitlebar) {
  struct Case {
    Frame frame;
    double titlebar;
    Frame expected;
  };
  const Case cases[] = {
      {{100, 50, 800, 600}, 28, {100, 78, 800, 572}},
      {{100, 50, 800, 20}, 28, {100, 78, 800, 0}},
      {{0, 0, 0, 0}, 28, {0, 28, 0, 0}},
      {{900, 650, -800, -600}, 28, {100, 78, 800, 572}},
      {{100, 50, 800, kNaN}, 28, {100, 78, 800, 0}},
  };
  for (const Case& c : cases) {
    Frame r = contentRect(c.frame, c.titlebar);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
    EXPECT_FALSE(std::signbit(r.height));
  }
}

}  // namespace
}  // namespace kestrove::testing
