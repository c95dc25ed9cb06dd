#include "windows/element_access.h"

#include <gtest/gtest.h>

#include <string>

#include "observation/observe_command.h"
#include "windows/place_command.h"
#include "windows/windows_command.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

TEST(BundleIdTest, AcceptsOnlyAsciiAlphanumericStartThenDotsHyphensUnderscoresAndBangs) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"com.example.app", true},
      {"a", true},
      {"0", true},
      {"A-1.b", true},
      {std::string(255, 'a'), true},
      {"", false},
      {"-com.example", false},
      {".com", false},
      {"com_example", true},
      {"Microsoft.WindowsCalculator_8wekyb3d8bbwe!App", true},
      {"_com", false},
      {"!App", false},
      {"com example", false},
      {"com\texample", false},
      {"com$example", false},
      {"com/example", false},
      {"com.exämple", false},
      {std::string(256, 'a'), false},
      {"com.example\n", false},
      {"com.example\r", false},
      {std::string("com\0x", 5), false},
  };
  for (const Case& c : cases) EXPECT_EQ(isValidBundleId(c.text), c.valid) << "'" << c.text << "'";
}

class ElementAccessTest : public WindowsFixture {};

TEST_F(ElementAccessTest, FindRunningAppSkipsTerminatedInstances) {
  sim.addApp("com.example.two", 10);
  sim.addApp("com.example.two", 11);
  sim.quitApp(10);
  ASSERT_TRUE(findRunningApp(sim, "com.example.two"));
  EXPECT_EQ(findRunningApp(sim, "com.example.two")->pid, 11);

  sim.quitApp(11);
  EXPECT_FALSE(findRunningApp(sim, "com.example.two"));
  EXPECT_FALSE(findRunningApp(sim, "com.example.absent"));
}

TEST_F(ElementAccessTest, AnInstanceWithoutAProcessCountsAsTerminated) {
  sim.addApp("com.example.ghost", -1);
  sim.addApp("com.example.ghost", 0);
  EXPECT_FALSE(findRunningApp(sim, "com.example.ghost"));
  sim.addApp("com.example.ghost", 12);
  ASSERT_TRUE(findRunningApp(sim, "com.example.ghost"));
  EXPECT_EQ(findRunningApp(sim, "com.example.ghost")->pid, 12);

  // The commands answer as for an app that is not running, and no element
  // is ever made for a pid that is not a process.
  sim.addApp("com.example.nopid", -1);
  sim.clearCalls();
  EXPECT_EQ(windowsCommand(core, {"com.example.nopid"}).at("running"), JsonValue(false));
  EXPECT_EQ(failureOf([&] {
              placeCommand(core, {"com.example.nopid", "0", "0", "10", "10"});
            }),
            "not_running");
  EXPECT_EQ(failureOf([&] { observeCommand(core, {"com.example.nopid"}); }), "not_running");
  EXPECT_EQ(sim.countCalls("createApplicationElement"), 0u);
  EXPECT_EQ(sim.countCalls("createObserver"), 0u);
}

TEST_F(ElementAccessTest, UnreadablePositionGivesNoFrameWithoutAskingForSize) {
  sim::WindowId id = addWindow({});
  platform::Element window = sim.windowElement(id);
  sim.failRead(window, "AXPosition", noValue());
  sim.clearCalls();

  EXPECT_FALSE(readFrame(sim, window));
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXSize"), 0u);
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXPosition"), 1u);
}

TEST_F(ElementAccessTest, FrameIsPositionAndSizeAsRead) {
  sim::SimWindow w;
  w.x = 10.5;
  w.y = -20;
  w.width = 640;
  w.height = 480.25;
  platform::Element window = sim.windowElement(addWindow(w));
  std::optional<Frame> frame = readFrame(sim, window);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->x, 10.5);
  EXPECT_EQ(frame->y, -20);
  EXPECT_EQ(frame->width, 640);
  EXPECT_EQ(frame->height, 480.25);

  // A value of the other AXValue type does not read as a size.
  sim.failRead(window, "AXSize", {platform::ax::kSuccess, platform::AxValue{1, 3, 4}});
  EXPECT_FALSE(readFrame(sim, window));
}

TEST_F(ElementAccessTest, ReadersTurnWrongKindsAndErrorsIntoNone) {
  platform::Element window = sim.windowElement(addWindow({}));
  sim.failRead(window, "AXMain", {platform::ax::kSuccess, platform::Value{std::string("1")}});
  EXPECT_FALSE(readBool(sim, window, "AXMain"));

  sim.failRead(window, "AXMinimized", {platform::ax::kSuccess, std::nullopt});
  EXPECT_FALSE(readBool(sim, window, "AXMinimized"));

  // A value that came back with an error code is not used.
  sim.failRead(window, "AXSubrole",
               {platform::ax::kCannotComplete, platform::Value{std::string("AXDialog")}});
  EXPECT_FALSE(readString(sim, window, "AXSubrole"));

  sim.failRead(window, "AXRole", {platform::ax::kSuccess, platform::Number{1}});
  EXPECT_FALSE(readString(sim, window, "AXRole"));

  sim.failRead(window, "AXFullScreen", {platform::ax::kSuccess, platform::Number{1}});
  EXPECT_EQ(readBool(sim, window, "AXFullScreen"), true);
}

TEST_F(ElementAccessTest, SettableNeedsSuccessAndTheFlag) {
  platform::Element window = sim.windowElement(addWindow({}));
  EXPECT_TRUE(isSettable(sim, window, "AXSize"));
  sim.failSettable(window, "AXSize", {platform::ax::kCannotComplete, true});
  EXPECT_FALSE(isSettable(sim, window, "AXSize"));
  sim.failSettable(window, "AXPosition", {platform::ax::kSuccess, false});
  EXPECT_FALSE(isSettable(sim, window, "AXPosition"));
}

TEST_F(ElementAccessTest, WindowListAndChildrenAreEmptyWhenUnreadable) {
  sim::SimWindow w;
  w.children = {child(0, 28, 800, 572)};
  sim::WindowId id = addWindow(w);
  platform::Element app = sim.applicationElement(kPid);
  ASSERT_EQ(appWindows(sim, kPid).size(), 1u);
  ASSERT_EQ(readChildren(sim, sim.windowElement(id)).size(), 1u);

  sim.failRead(app, "AXWindows", {platform::ax::kCannotComplete, std::nullopt});
  EXPECT_TRUE(appWindows(sim, kPid).empty());
  sim.failRead(app, "AXWindows", {platform::ax::kSuccess, platform::NonElementList{}});
  EXPECT_TRUE(appWindows(sim, kPid).empty());
  sim.failRead(sim.windowElement(id), "AXChildren", {platform::ax::kSuccess, platform::OtherValue{}});
  EXPECT_TRUE(readChildren(sim, sim.windowElement(id)).empty());
}

TEST_F(ElementAccessTest, WindowNumberNeedsTheFunctionSuccessAndANonZeroNumber) {
  sim::SimWindow numbered;
  numbered.number = 77;
  sim::SimWindow zero;
  zero.number = 0;
  sim::SimWindow failing;
  failing.number = 78;
  failing.numberCode = platform::ax::kFailure;
  platform::Element a = sim.windowElement(addWindow(numbered));
  platform::Element b = sim.windowElement(addWindow(zero));
  platform::Element c = sim.windowElement(addWindow(failing));

  EXPECT_EQ(windowNumber(sim, a), 77);
  EXPECT_FALSE(windowNumber(sim, b));
  EXPECT_FALSE(windowNumber(sim, c));
  sim.setWindowNumberFunctionPresent(false);
  EXPECT_FALSE(windowNumber(sim, a));
}

}  // namespace
}  // namespace kestrove::testing
