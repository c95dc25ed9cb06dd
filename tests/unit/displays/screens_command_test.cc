#include "displays/screens_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "displays/rect_object.h"
#include "displays/top_left.h"
#include "platform/sim/sim_platform.h"
#include "protocol/json_encode.h"

namespace kestrove {
namespace {

using platform::Rect;
using platform::Screen;

class ScreensTest : public ::testing::Test {
 protected:
  JsonObject run() { return screensCommand(core); }

  sim::SimPlatform sim;
  Writer writer{[](const char*, std::size_t size, int&) { return static_cast<long>(size); }, [](int) {}};
  Core core{sim, writer, [](int) {}, {}};
};

JsonObject rect(double x, double y, double w, double h) { return rectObject(x, y, w, h); }

struct ScreenCase {
  std::string name;
  std::vector<Screen> screens;
  Rect mainDisplay;
  // Expected for the last screen of the list.
  JsonObject frame;
  JsonObject visibleFrame;
  double menuBarHeight;
};

TEST_F(ScreensTest, ConvertsEachScreenToTopLeftPoints) {
  Screen primary{{0, 0, 1440, 900}, {0, 70, 1440, 805}, 1, 2};
  std::vector<ScreenCase> cases = {
      {"dock at the bottom", {primary}, {}, rect(0, 0, 1440, 900), rect(0, 25, 1440, 805), 25},
      {"right, tops aligned",
       {primary, Screen{{1440, -180, 1920, 1080}, {1440, -180, 1920, 1080}, 2, 1}},
       {},
       rect(1440, 0, 1920, 1080),
       rect(1440, 0, 1920, 1080),
       0},
      {"above the primary",
       {primary, Screen{{0, 900, 1920, 1080}, {0, 900, 1920, 1055}, 3, 1}},
       {},
       rect(0, -1080, 1920, 1080),
       rect(0, -1055, 1920, 1055),
       25},
      {"fractional heights",
       {Screen{{0, 0, 1512, 982.5}, {0, 0, 1512, 944.25}, 1, 2}},
       {},
       rect(0, 0, 1512, 982.5),
       rect(0, 38.25, 1512, 944.25),
       38.25},
      {"visible area starts below the frame's top",  // a menu bar can't be negative
       {Screen{{0, 0, 1440, 900}, {0, 0, 1440, 910}, 1, 1}},
       {},
       rect(0, 0, 1440, 900),
       rect(0, -10, 1440, 910),
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.setScreens(c.screens);
    auto payload = run();
    EXPECT_EQ(payload.at("coords"), JsonValue("top-left-global-points"));
    const auto& list = std::get<JsonArray>(payload.at("screens").value);
    ASSERT_EQ(list.size(), c.screens.size());
    const auto& last = std::get<JsonObject>(list.back().value);
    EXPECT_EQ(last.at("frame"), JsonValue(c.frame));
    EXPECT_EQ(last.at("visibleFrame"), JsonValue(c.visibleFrame));
    EXPECT_EQ(last.at("menuBarHeight"), JsonValue(c.menuBarHeight));
    EXPECT_EQ(last.at("id"), JsonValue(*c.screens.back().number));
    EXPECT_EQ(last.at("scale"), JsonValue(c.screens.back().scale));
    EXPECT_EQ(last.at("primary"), JsonValue(c.screens.size() == 1));
  }
}

TEST_F(ScreensTest, OnlyTheFirstScreenIsPrimaryAndAMissingNumberIsZero) {
  sim.setScreens({Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 7, 2},
                  Screen{{1440, 0, 800, 600}, {1440, 0, 800, 600}, std::nullopt, 1}});
  auto payload = run();
  const auto& list = std::get<JsonArray>(payload.at("screens").value);
  ASSERT_EQ(list.size(), 2u);
  const auto& first = std::get<JsonObject>(list[0].value);
  const auto& second = std::get<JsonObject>(list[1].value);
  EXPECT_EQ(first.at("primary"), JsonValue(true));
  EXPECT_EQ(first.at("id"), JsonValue(std::int64_t{7}));
  EXPECT_EQ(second.at("primary"), JsonValue(false));
  EXPECT_EQ(second.at("id"), JsonValue(std::int64_t{0}));
  EXPECT_EQ(second.at("frame"), JsonValue(rect(1440, 300, 800, 600)));
}

// JSON cannot carry them, read or converted: such a screen is left out and
// the others keep their place; only the platform's first is primary.
TEST_F(ScreensTest, LeavesOutScreensWithValuesThatAreNotFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const Screen primary{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1, 2};
  const Screen right{{1440, 0, 800, 600}, {1440, 0, 800, 600}, 2, 1};
  struct Case {
    std::string name;
    std::vector<Screen> screens;
    std::vector<std::int64_t> listed;  // the ids left in the reply
  };
  const std::vector<Case> cases = {
      {"infinite width as read", {primary, Screen{{0, 0, inf, 10}, {0, 0, 10, 10}, 3, 1}, right}, {1, 2}},
      {"NaN scale", {primary, Screen{{0, 0, 10, 10}, {0, 0, 10, 10}, 3, NAN}, right}, {1, 2}},
      // Finite as read; the top edge's conversion is not.
      {"top edge past the largest double",
       {primary, Screen{{0, 1e308, 10, 1e308}, {0, 0, 10, 10}, 3, 1}, right},
       {1, 2}},
      // Both converted frames finite; the menu bar between them is not.
      {"menu bar past the largest double",
       {primary, Screen{{0, 1e308, 10, 10}, {0, -1e308, 10, 10}, 3, 1}, right},
       {1, 2}},
      {"primary visible frame", {Screen{{0, 0, 10, 10}, {0, -inf, 10, 10}, 1, 1}, right}, {2}},
      // Every conversion measures from the primary's top edge.
      {"primary at infinity", {Screen{{0, inf, 10, 10}, {0, 0, 10, 10}, 1, 1}, right}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.setScreens(c.screens);
    auto payload = run();
    std::string text;
    EXPECT_TRUE(encodeJson(payload, text));
    std::vector<std::int64_t> listed;
    for (const auto& item : std::get<JsonArray>(payload.at("screens").value)) {
      const auto& screen = std::get<JsonObject>(item.value);
      listed.push_back(std::get<std::int64_t>(screen.at("id").value));
      EXPECT_EQ(screen.at("primary"), JsonValue(listed.back() == c.screens.front().number));
    }
    EXPECT_EQ(listed, c.listed);
  }
}

TEST_F(ScreensTest, EmptyListGivesEmptyScreens) {
  EXPECT_EQ(run(), (JsonObject{{"coords", "top-left-global-points"}, {"screens", JsonArray{}}}));
}

TEST_F(ScreensTest, ConversionUsesMainDisplayHeightWhenNoScreens) {
  sim.setMainDisplayBounds({0, 0, 1920, 1200});
  Rect converted = toTopLeft(sim, {10, 100, 300, 200});
  EXPECT_EQ(converted.x, 10);
  EXPECT_EQ(converted.y, 900);
  EXPECT_EQ(converted.width, 300);
  EXPECT_EQ(converted.height, 200);
}

TEST_F(ScreensTest, ConversionNormalisesNegativeExtents) {
  sim.setScreens({Screen{{0, 0, 1440, 900}, {0, 0, 1440, 900}, 1, 1}});
  Rect converted = toTopLeft(sim, {10, 300, -100, -200});  // spans y 100..300
  EXPECT_EQ(converted.y, 600);
  EXPECT_EQ(converted.width, 100);
  EXPECT_EQ(converted.height, 200);
}

TEST_F(ScreensTest, ReadsTheScreenListAfreshForEveryConversion) {
  sim.setScreens({Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1, 1}});
  run();
  // One list for the command, and one per conversion (two per screen).
  EXPECT_EQ(sim.countCalls("screens"), 3u);
  sim.setScreens({Screen{{0, 0, 1440, 1000}, {0, 0, 1440, 1000}, 1, 1}});
  EXPECT_EQ(toTopLeft(sim, {0, 0, 10, 10}).y, 990);
}

}  // namespace
}  // namespace kestrove
