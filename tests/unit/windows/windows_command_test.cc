#include "windows/windows_command.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/json_encode.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

class WindowsCommandTest : public WindowsFixture {
 protected:
  JsonObject run() { return windowsCommand(core, {kBundle}); }

  static const JsonArray& windowsOf(const JsonObject& reply) {
    return std::get<JsonArray>(reply.at("windows").value);
  }
  static const JsonObject& windowAt(const JsonObject& reply, std::size_t i) {
    return std::get<JsonObject>(windowsOf(reply).at(i).value);
  }

  std::size_t accessibilityCalls() const {
    std::size_t n = 0;
    for (const char* op :
         {"createApplicationElement", "copyAttributeValue", "isAttributeSettable", "windowNumber"}) {
      n += sim.countCalls(op);
    }
    return n;
  }
};

TEST_F(WindowsCommandTest, WrongArgumentsAreRefusedBeforeAnyPlatformCall) {
  const Args cases[] = {{}, {kBundle, kBundle}, {"com/example"}, {"com.example.viewer\n"}};
  for (const Args& args : cases) {
    sim.clearCalls();
    EXPECT_EQ(failureOf([&] { windowsCommand(core, args); }), "bad_args: windows <bundleId>");
    EXPECT_TRUE(sim.calls().empty());
  }
}

TEST_F(WindowsCommandTest, NotRunningReportsTrustAndNoWindows) {
  for (bool trusted : {true, false}) {
    sim.setTrusted(trusted);
    JsonObject reply = windowsCommand(core, {"com.example.absent"});
    EXPECT_EQ(reply, (JsonObject{{"running", false}, {"trusted", trusted}, {"windows", JsonArray{}}}));
  }
}

TEST_F(WindowsCommandTest, UntrustedReportsThePidWithoutReadingAnyElement) {
  addWindow({});
  sim.setTrusted(false);
  sim.clearCalls();
  JsonObject reply = run();
  EXPECT_EQ(reply,
            (JsonObject{{"running", true}, {"pid", kPid}, {"trusted", false}, {"windows", JsonArray{}}}));
  EXPECT_EQ(accessibilityCalls(), 0u);
  EXPECT_EQ(sim.countCalls("isProcessTrusted"), 1u);
}

TEST_F(WindowsCommandTest, DescribesAWindowCompletely) {
  sim::SimWindow w;
  w.x = 100;
  w.y = 50;
  w.width = 800;
  w.height = 600;
  w.main = true;
  w.fullScreen = true;
  w.subrole = "AXDialog";
  w.number = 321;
  w.sizeSettable = false;
  sim::SimChild content;
  content.anchor = sim::SimChild::Anchor::Content;
  w.children = {content};
  addWindow(w);

  JsonObject window = windowAt(run(), 0);
  EXPECT_EQ(window,
            (JsonObject{
                {"frame", JsonObject{{"x", 100.0}, {"y", 50.0}, {"width", 800.0}, {"height", 600.0}}},
                {"content", JsonObject{{"x", 100.0}, {"y", 78.0}, {"width", 800.0}, {"height", 572.0}}},
                {"titlebar", 28.0},
                {"titlebarSource", "ax_content"},
                {"settable", JsonObject{{"position", true}, {"size", false}}},
                {"main", true},
                {"minimized", false},
                {"fullscreen", true},
                {"subrole", "AXDialog"},
                {"id", 321},
            }));
}

TEST_F(WindowsCommandTest, ShortWindowHasEmptyContentBelowTheTitlebar) {
  sim::SimWindow w;
  w.x = 100;
  w.y = 50;
  w.height = 20;
  addWindow(w);  // no children: the default 28 on this system
  JsonObject window = windowAt(run(), 0);
  EXPECT_EQ(rectAt(window, "content"), (RectValues{100, 78, 800, 0}));
}

TEST_F(WindowsCommandTest, LeavesOutUnreadableFramesAndKeepsTheOrder) {
  sim::SimWindow a, b, c;
  a.number = 1;
  b.number = 2;
  c.number = 3;
  addWindow(a);
  sim::WindowId middle = addWindow(b);
  addWindow(c);
  sim.failRead(sim.windowElement(middle), "AXSize", noValue());

  JsonObject reply = run();
  ASSERT_EQ(windowsOf(reply).size(), 2u);
  EXPECT_EQ(windowAt(reply, 0).at("id"), JsonValue(1));
  EXPECT_EQ(windowAt(reply, 1).at("id"), JsonValue(3));
}

// JSON cannot carry them, read or computed: one such window must not cost the
// whole listing.
TEST_F(WindowsCommandTest, LeavesOutFramesThatAreNotFiniteOrWhoseContentIsNot) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    platform::AxValue position;
    platform::AxValue size;
  };
  const Case cases[] = {
      {"NaN x", {1, nan, 0}, {2, 800, 600}},
      {"infinite height", {1, 0, 0}, {2, 800, inf}},
      // Finite as read; the content's left and top edges are not.
      {"left edge past the largest double", {1, -1e308, 0}, {2, -1e308, 600}},
      {"top edge past the largest double", {1, 0, -1.5e308}, {2, 800, -1e308}},
  };
  sim::SimWindow w;
  w.number = 1;
  addWindow(w);
  w.number = 2;
  platform::Element bad = sim.windowElement(addWindow(w));
  w.number = 3;
  addWindow(w);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim.clearFaults();
    sim.failRead(bad, "AXPosition", {platform::ax::kSuccess, c.position});
    sim.failRead(bad, "AXSize", {platform::ax::kSuccess, c.size});

    JsonObject reply = run();
    ASSERT_EQ(windowsOf(reply).size(), 2u);
    EXPECT_EQ(windowAt(reply, 0).at("id"), JsonValue(1));
    EXPECT_EQ(windowAt(reply, 1).at("id"), JsonValue(3));
    std::string text;
    EXPECT_TRUE(encodeJson(reply, text));
  }
}

// The edge itself may be far out: only what JSON cannot carry is left out.
TEST_F(WindowsCommandTest, KeepsAFarButFiniteWindow) {
  platform::Element far = sim.windowElement(addWindow({}));
  sim.failRead(far, "AXPosition", {platform::ax::kSuccess, platform::AxValue{1, -1e308, 1e308}});
  sim.failRead(far, "AXSize", {platform::ax::kSuccess, platform::AxValue{2, -7e307, 600}});
  JsonObject reply = run();
  ASSERT_EQ(windowsOf(reply).size(), 1u);
  EXPECT_EQ(objectAt(windowAt(reply, 0), "content").at("x"), JsonValue(-1e308 - 7e307));
  std::string text;
  EXPECT_TRUE(encodeJson(reply, text));
}

TEST_F(WindowsCommandTest, UnreadableAttributesGiveFalseEmptyOrNull) {
  sim::SimWindow w;
  w.main = true;
  w.minimized = true;
  w.fullScreen = true;
  w.numberCode = platform::ax::kFailure;
  platform::Element window = sim.windowElement(addWindow(w));
  sim.failRead(window, "AXMain", {platform::ax::kSuccess, platform::Value{std::string("true")}});
  sim.failRead(window, "AXMinimized", {platform::ax::kSuccess, std::nullopt});
  sim.failRead(window, "AXFullScreen", {platform::ax::kCannotComplete, std::nullopt});
  sim.failRead(window, "AXSubrole", noValue());
  sim.failSettable(window, "AXPosition", {platform::ax::kCannotComplete, true});

  JsonObject described = windowAt(run(), 0);
  EXPECT_EQ(described.at("main"), JsonValue(false));
  EXPECT_EQ(described.at("minimized"), JsonValue(false));
  EXPECT_EQ(described.at("fullscreen"), JsonValue(false));
  EXPECT_EQ(described.at("subrole"), JsonValue(""));
  EXPECT_EQ(described.at("id"), JsonValue(nullptr));
  EXPECT_EQ(objectAt(described, "settable").at("position"), JsonValue(false));
}

TEST_F(WindowsCommandTest, NoWindowNumbersWithoutTheFunction) {
  sim::SimWindow w;
  w.number = 9;
  addWindow(w);
  addWindow(w);
  sim.setWindowNumberFunctionPresent(false);
  JsonObject reply = run();
  ASSERT_EQ(windowsOf(reply).size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(windowAt(reply, i).at("id"), JsonValue(nullptr));
}

TEST_F(WindowsCommandTest, UnreadableWindowListGivesNoWindows) {
  addWindow({});
  sim.failRead(sim.applicationElement(kPid), "AXWindows", {platform::ax::kAPIDisabled, std::nullopt});
  JsonObject reply = run();
  EXPECT_EQ(reply.at("running"), JsonValue(true));
  EXPECT_TRUE(windowsOf(reply).empty());
}

// Each window costs its frame, one title-bar measurement over at most 64
// children, two settable tests, four reads and one window number; nothing is
// asked twice.
TEST_F(WindowsCommandTest, ReadsEachAttributeOnceAndAtMostSixtyFourChildren) {
  sim::SimWindow w;
  for (int i = 0; i < 70; ++i) w.children.push_back(child(0, 200, 10, 10, i % 2 ? "AXCloseButton" : ""));
  addWindow(w);
  addWindow(w);
  sim.clearCalls();
  run();

  std::map<std::tuple<std::string, std::string, std::string>, int> seen;
  for (const sim::SimCall& call : sim.calls()) {
    if (call.element.empty()) continue;
    const int times = ++seen[std::tuple{call.operation, call.name, call.element}];
    EXPECT_EQ(times, 1) << call.operation << " " << call.name << " " << call.element;
  }
  // 32 buttons at 3 reads and 32 other children at 4, per window.
  const std::size_t perWindow = 2 + 1 + (32 * 3 + 32 * 4) + 4;
  EXPECT_EQ(sim.countCalls("copyAttributeValue"), 1 + 2 * perWindow);
  EXPECT_EQ(sim.countCalls("isAttributeSettable"), 2u * 2);
  EXPECT_EQ(sim.countCalls("windowNumber"), 2u);
  EXPECT_EQ(sim.countCalls("createApplicationElement"), 1u);
}

TEST_F(WindowsCommandTest, WindowWithoutPositionCostsOneRead) {
  platform::Element window = sim.windowElement(addWindow({}));
  sim.failRead(window, "AXPosition", noValue());
  sim.clearCalls();
  run();
  const std::string name = sim::SimPlatform::describe(window);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", {}, name), 1u);
  EXPECT_EQ(sim.countCalls("isAttributeSettable", {}, name), 0u);
}

}  // namespace
}  // namespace kestrove::testing
