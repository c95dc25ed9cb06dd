#include "windows/stream_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

struct WindowSetup {
  double width = 800;
  double height = 600;
  bool main = false;
  bool minimized = false;
  bool sizeSettable = true;
  bool positionSettable = true;
};

class StreamWindowTest : public WindowsFixture {
 protected:
  std::vector<sim::WindowId> addAll(const std::vector<WindowSetup>& setups, std::int32_t pid = kPid) {
    std::vector<sim::WindowId> ids;
    for (const WindowSetup& s : setups) {
      sim::SimWindow w;
      w.width = s.width;
      w.height = s.height;
      w.main = s.main;
      w.minimized = s.minimized;
      w.sizeSettable = s.sizeSettable;
      w.positionSettable = s.positionSettable;
      ids.push_back(sim.addWindow(pid, w));
    }
    return ids;
  }

  // Index of the chosen window, -1 for none.
  int chosen(const std::vector<sim::WindowId>& ids, std::int32_t pid = kPid) {
    platform::Element found = findStreamWindow(sim, pid);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (platform::sameElement(found, sim.windowElement(ids[i]))) return static_cast<int>(i);
    }
    return found ? -2 : -1;
  }
};

TEST_F(StreamWindowTest, PrefersMainThenLargestAmongMovableVisibleWindows) {
  struct Case {
    const char* name;
    std::vector<WindowSetup> windows;
    int expected;
  };
  const Case cases[] = {
      {"no windows", {}, -1},
      {"all minimized", {{.minimized = true}, {.minimized = true}}, -1},
      {"none resizable", {{.sizeSettable = false}, {.sizeSettable = false}}, -1},
      {"none movable", {{.positionSettable = false}}, -1},
      {"minimized main is passed over",
       {{.width = 100, .height = 100, .main = true, .minimized = true}, {.width = 50, .height = 50}, {}},
       2},
      {"smaller main wins", {{.width = 1000, .height = 1000}, {.width = 10, .height = 10, .main = true}}, 1},
      {"larger area wins", {{.width = 800, .height = 600}, {.width = 1000, .height = 500}}, 1},
      {"earliest of equal areas", {{.width = 800, .height = 600}, {.width = 600, .height = 800}}, 0},
      {"single candidate whatever its size",
       {{.width = 0, .height = 0}, {.width = 900, .minimized = true}},
       0},
      {"unmovable largest is skipped",
       {{.width = 100, .height = 100}, {.width = 2000, .height = 2000, .positionSettable = false}},
       0},
  };
  std::int32_t pid = 5000;
  for (const Case& c : cases) {
    sim.addApp("com.example.case", ++pid);
    EXPECT_EQ(chosen(addAll(c.windows, pid), pid), c.expected) << c.name;
  }
}

TEST_F(StreamWindowTest, UnreadableStateCountsAsFalseAndUnreadableSizeAsZero) {
  std::vector<sim::WindowId> ids = addAll({{.width = 10, .height = 10}, {.width = 20, .height = 20}});
  sim.failRead(sim.windowElement(ids[0]), "AXMinimized", {platform::ax::kCannotComplete, std::nullopt});
  sim.failRead(sim.windowElement(ids[1]), "AXMain",
               {platform::ax::kSuccess, platform::Value{std::string("yes")}});
  EXPECT_EQ(chosen(ids), 1);

  sim.failRead(sim.windowElement(ids[1]), "AXSize", noValue());
  EXPECT_EQ(chosen(ids), 0);
}

TEST_F(StreamWindowTest, FailingSettableTestDropsTheWindowBeforeLaterTests) {
  std::vector<sim::WindowId> ids = addAll({{.main = true}, {}});
  platform::Element first = sim.windowElement(ids[0]);
  sim.failSettable(first, "AXSize", {platform::ax::kCannotComplete, true});
  sim.clearCalls();

  EXPECT_EQ(chosen(ids), 1);
  const std::string name = sim::SimPlatform::describe(first);
  EXPECT_EQ(sim.countCalls("isAttributeSettable", "AXPosition", name), 0u);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", {}, name), 0u);
}

}  // namespace
}  // namespace kestrove::testing
