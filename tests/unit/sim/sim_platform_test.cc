#include "platform/sim/sim_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestrove::sim {
namespace {

namespace ax = platform::ax;
using platform::AxValue;
using platform::Element;

struct Delivered {
  std::string element;
  std::string notification;
  const void* context;
};

// One app with one window and an observer on it that records deliveries.
class SimPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.addApp("com.example.viewer", 42);
    SimWindow w;
    w.x = 100;
    w.y = 50;
    w.children.push_back(SimChild{"AXGroup", "", SimChild::Anchor::Content});
    w.children.push_back(
        SimChild{"AXButton", "AXCloseButton", SimChild::Anchor::TitlebarButton, 8, 0, 14, 16});
    w.children.push_back(SimChild{"AXToolbar", "", SimChild::Anchor::Fixed, 0, 28, 0, 30, true});
    window = sim.addWindow(42, w);
    observer = sim.createObserver(42,
                                  [this](const Element& e, const std::string& n, const void* c) {
                                    delivered.push_back({SimPlatform::describe(e), n, c});
                                  })
                   .observer;
    sim.attachObserver(observer);
  }

  AxValue read(const Element& e, const std::string& attribute) {
    return std::get<AxValue>(*sim.copyAttributeValue(e, attribute).value);
  }

  SimPlatform sim;
  WindowId window = 0;
  platform::Observer observer;
  std::vector<Delivered> delivered;
  int context = 0;
};

TEST_F(SimPlatformTest, ElementsForTheSameThingAreEqualWhateverTheObject) {
  EXPECT_TRUE(platform::sameElement(sim.createApplicationElement(42), sim.applicationElement(42)));
  EXPECT_FALSE(platform::sameElement(sim.applicationElement(42), sim.applicationElement(43)));
  auto listed =
      std::get<std::vector<Element>>(*sim.copyAttributeValue(sim.applicationElement(42), "AXWindows").value);
  ASSERT_EQ(listed.size(), 1u);
  Element mine = sim.windowElement(window);
  EXPECT_NE(listed[0].get(), mine.get());
  EXPECT_TRUE(platform::sameElement(listed[0], mine));
  EXPECT_FALSE(platform::sameElement(mine, sim.childElement(window, 0)));
  EXPECT_FALSE(platform::sameElement(sim.childElement(window, 0), sim.childElement(window, 1)));
}

TEST_F(SimPlatformTest, PositionWriteMovesWindowAndChildrenThenNotifiesOnTheLoop) {
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowMoved", &context);
  EXPECT_EQ(sim.setAttributeValue(sim.windowElement(window), "AXPosition", AxValue{1, 300, 200}),
            ax::kSuccess);
  AxValue position = read(sim.windowElement(window), "AXPosition");
  EXPECT_EQ(position.first, 300);
  EXPECT_EQ(position.second, 200);
  AxValue content = read(sim.childElement(window, 0), "AXPosition");
  EXPECT_EQ(content.first, 300);
  EXPECT_EQ(content.second, 228);
  EXPECT_TRUE(delivered.empty());  // not before the loop runs
  sim.loop().runUntilIdle();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].element, "window 1");
  EXPECT_EQ(delivered[0].notification, "AXWindowMoved");
  EXPECT_EQ(delivered[0].context, &context);
  ASSERT_EQ(sim.writes().size(), 1u);
  EXPECT_EQ(sim.writes()[0].attribute, "AXPosition");
}

TEST_F(SimPlatformTest, SizeWriteIsClampedAndFullWidthChildrenFollow) {
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowResized", nullptr);
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowMoved", nullptr);
  sim.window(window).clamp.shrinkBy = 10;
  sim.window(window).clamp.minHeight = 300;
  EXPECT_EQ(sim.setAttributeValue(sim.windowElement(window), "AXSize", AxValue{2, 1000, 200}), ax::kSuccess);
  AxValue size = read(sim.windowElement(window), "AXSize");
  EXPECT_EQ(size.first, 990);
  EXPECT_EQ(size.second, 300);
  EXPECT_EQ(read(sim.childElement(window, 2), "AXSize").first, 990);
  EXPECT_EQ(read(sim.childElement(window, 0), "AXSize").second, 272);
  sim.loop().runUntilIdle();
  ASSERT_EQ(delivered.size(), 1u);  // resized only: the position did not change
  EXPECT_EQ(delivered[0].notification, "AXWindowResized");
}

TEST_F(SimPlatformTest, SizeIncrementsSnapDown) {
  sim.window(window).clamp.widthIncrement = 7;
  sim.window(window).clamp.heightIncrement = 10;
  sim.setAttributeValue(sim.windowElement(window), "AXSize", AxValue{2, 100, 95});
  AxValue size = read(sim.windowElement(window), "AXSize");
  EXPECT_EQ(size.first, 98);
  EXPECT_EQ(size.second, 90);
}

TEST_F(SimPlatformTest, TitlebarChangesOnceAfterAMoveAndChildrenFollow) {
  sim.window(window).titlebarAfterMove = 52;
  EXPECT_EQ(read(sim.childElement(window, 0), "AXPosition").second, 78);
  EXPECT_EQ(read(sim.childElement(window, 1), "AXPosition").second, 56);  // centred in 28
  sim.setAttributeValue(sim.windowElement(window), "AXPosition", AxValue{1, 100, 60});
  EXPECT_EQ(read(sim.childElement(window, 0), "AXPosition").second, 112);
  EXPECT_EQ(read(sim.childElement(window, 1), "AXPosition").second, 78);
  EXPECT_FALSE(sim.window(window).titlebarAfterMove.has_value());
}

TEST_F(SimPlatformTest, FailedWriteChangesNothingAndRaisesNothing) {
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowMoved", nullptr);
  sim.failWrite(sim.windowElement(window), "AXPosition", ax::kCannotComplete, 1);
  EXPECT_EQ(sim.setAttributeValue(sim.windowElement(window), "AXPosition", AxValue{1, 0, 0}),
            ax::kCannotComplete);
  EXPECT_EQ(read(sim.windowElement(window), "AXPosition").first, 100);
  // A point where a size belongs is refused too.
  EXPECT_EQ(sim.setAttributeValue(sim.windowElement(window), "AXSize", AxValue{1, 5, 5}),
            ax::kIllegalArgument);
  sim.loop().runUntilIdle();
  EXPECT_TRUE(delivered.empty());
  // The fault was for one write only.
  EXPECT_EQ(sim.setAttributeValue(sim.windowElement(window), "AXPosition", AxValue{1, 0, 0}), ax::kSuccess);
  ASSERT_EQ(sim.writes().size(), 3u);
  EXPECT_EQ(sim.writes()[0].code, ax::kCannotComplete);
}

TEST_F(SimPlatformTest, ReadFaultsAreReturnedAsGivenAndLogged) {
  Element w = sim.windowElement(window);
  sim.failRead(w, "AXMain", {ax::kSuccess, platform::Value{std::string("yes")}});
  sim.failRead(w, "AXPosition", {ax::kFailure, platform::Value{AxValue{1, 1, 2}}});
  sim.failRead(w, "AXSize", {ax::kSuccess, std::nullopt});
  EXPECT_TRUE(std::holds_alternative<std::string>(*sim.copyAttributeValue(w, "AXMain").value));
  auto position = sim.copyAttributeValue(w, "AXPosition");
  EXPECT_EQ(position.code, ax::kFailure);
  EXPECT_TRUE(position.value.has_value());
  auto size = sim.copyAttributeValue(w, "AXSize");
  EXPECT_EQ(size.code, ax::kSuccess);
  EXPECT_FALSE(size.value.has_value());
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXSize", "window 1"), 1u);
  EXPECT_EQ(sim.calls().back(), (SimCall{"copyAttributeValue", "AXSize", "window 1"}));
}

TEST_F(SimPlatformTest, DetachStopsDeliveryEvenOfQueuedNotifications) {
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowMoved", nullptr);
  sim.moveWindow(window, 1, 2);
  sim.detachObserver(observer);
  sim.loop().runUntilIdle();
  EXPECT_TRUE(delivered.empty());
  EXPECT_FALSE(sim.isAttached(observer));
}

TEST_F(SimPlatformTest, OnlyRegisteredPairsAreDeliveredAndRemovalWins) {
  sim.addNotification(observer, sim.applicationElement(42), "AXWindowCreated", nullptr);
  EXPECT_EQ(sim.addNotification(observer, sim.applicationElement(42), "AXWindowCreated", nullptr),
            ax::kNotificationAlreadyRegistered);
  sim.addNotification(observer, sim.windowElement(window), "AXUIElementDestroyed", nullptr);
  sim.moveWindow(window, 1, 2);  // not registered
  WindowId second = sim.createWindow(42, SimWindow{});
  sim.removeNotification(observer, sim.applicationElement(42), "AXWindowCreated");
  sim.loop().runUntilIdle();
  EXPECT_TRUE(delivered.empty());
  sim.closeWindow(window);
  sim.loop().runUntilIdle();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].element, "window 1");
  EXPECT_EQ(delivered[0].notification, "AXUIElementDestroyed");
  EXPECT_EQ(sim.windowsOf(42), std::vector<WindowId>{second});
  EXPECT_EQ(sim.copyAttributeValue(sim.windowElement(window), "AXPosition").code, ax::kInvalidUIElement);
}

TEST_F(SimPlatformTest, QuitSetsTerminatedAndNotifiesEachListenerOnce) {
  std::vector<std::optional<std::int32_t>> first;
  std::vector<std::optional<std::int32_t>> second;
  auto a =
      sim.addTerminationListener(7, [&](const platform::TerminationNotice& n) { first.push_back(n.pid); });
  auto b =
      sim.addTerminationListener(7, [&](const platform::TerminationNotice& n) { second.push_back(n.pid); });
  sim.quitApp(42);
  sim.removeTerminationListener(b);
  sim.postTerminationNotice({});
  sim.loop().runUntilIdle();
  EXPECT_TRUE(sim.runningApplications("com.example.viewer").at(0).terminated);
  EXPECT_EQ(first, (std::vector<std::optional<std::int32_t>>{42, std::nullopt}));
  EXPECT_TRUE(second.empty());
  EXPECT_EQ(sim.terminationListenerCount(), 1u);
}

TEST_F(SimPlatformTest, KeyEventsReachInstalledMonitorsUnlessRefused) {
  std::vector<platform::KeyEvent> keys;
  auto token = sim.addGlobalKeyMonitor([&](const platform::KeyEvent& e) { keys.push_back(e); });
  ASSERT_NE(token, nullptr);
  sim.pressKey({53, true, false, platform::modifier::kShift});
  sim.loop().runUntilIdle();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].modifierFlags, platform::modifier::kShift);
  sim.removeKeyMonitor(token);
  sim.pressKey({53, false, false, 0});
  sim.loop().runUntilIdle();
  EXPECT_EQ(keys.size(), 1u);
  sim.refuseKeyMonitor(true);
  EXPECT_EQ(sim.addGlobalKeyMonitor([](const platform::KeyEvent&) {}), nullptr);
}

TEST_F(SimPlatformTest, PromptGrantsTrustFromTheNextCall) {
  sim.setTrusted(false);
  sim.setPromptGrants(true);
  EXPECT_FALSE(sim.isProcessTrustedWithPrompt());
  EXPECT_TRUE(sim.isProcessTrusted());
  EXPECT_TRUE(sim.isProcessTrustedWithPrompt());
  EXPECT_EQ(sim.promptCount(), 1);
}

TEST_F(SimPlatformTest, WindowNumbersAndTheirFaults) {
  Element w = sim.windowElement(window);
  auto number = sim.windowNumber(w);
  EXPECT_EQ(number.code, ax::kSuccess);
  EXPECT_EQ(number.number, sim.numberOf(window));
  EXPECT_NE(number.number, 0u);
  sim.window(window).numberCode = ax::kFailure;
  EXPECT_EQ(sim.windowNumber(w).code, ax::kFailure);
  sim.setWindowNumberFunctionPresent(false);
  EXPECT_FALSE(sim.hasWindowNumberFunction());
}

TEST_F(SimPlatformTest, TrustShapes) {
  const Element w = sim.windowElement(window);
  // Granted while running: the flag lags, the calls work.
  sim.setTrustFlagLate(true);
  EXPECT_FALSE(sim.isProcessTrusted());
  EXPECT_FALSE(sim.isProcessTrustedWithPrompt());
  EXPECT_EQ(sim.readFocusedApplication(), ax::kSuccess);
  EXPECT_EQ(sim.copyAttributeValue(w, "AXPosition").code, ax::kSuccess);
  // Really missing: every element call is refused by the interface itself.
  sim.setTrustFlagLate(false);
  sim.setTrusted(false);
  EXPECT_EQ(sim.readFocusedApplication(), ax::kAPIDisabled);
  EXPECT_EQ(sim.copyAttributeValue(w, "AXPosition").code, ax::kAPIDisabled);
  EXPECT_EQ(sim.isAttributeSettable(w, "AXSize").code, ax::kAPIDisabled);
  EXPECT_EQ(sim.setAttributeValue(w, "AXSize", AxValue{2, 10, 10}), ax::kAPIDisabled);
  EXPECT_EQ(sim.windowNumber(w).code, ax::kAPIDisabled);
  EXPECT_EQ(sim.addNotification(observer, w, "AXUIElementDestroyed", nullptr), ax::kAPIDisabled);
  EXPECT_EQ(sim.window(window).width, 800);
  sim.failFocusedApplicationRead(ax::kCannotComplete);
  EXPECT_EQ(sim.readFocusedApplication(), ax::kCannotComplete);
}

TEST_F(SimPlatformTest, AMonitorInstalledUntrustedStaysDeaf) {
  std::vector<std::string> heard;
  sim.setTrusted(false);
  auto deaf = sim.addGlobalKeyMonitor([&](const platform::KeyEvent&) { heard.push_back("deaf"); });
  sim.setTrusted(true);
  auto renewed = sim.addGlobalKeyMonitor([&](const platform::KeyEvent&) { heard.push_back("renewed"); });
  EXPECT_EQ(sim.deafKeyMonitorCount(), 1u);
  sim.pressKey({53, true, false, 0});
  sim.loop().runUntilIdle();
  EXPECT_EQ(heard, std::vector<std::string>{"renewed"});
}

TEST_F(SimPlatformTest, QuitReportsReachListenersOfThePidOnce) {
  std::vector<std::string> heard;
  auto forApp = sim.addTerminationListener(42, [&](const platform::TerminationNotice& n) {
    heard.push_back("app " + std::to_string(n.pid.value_or(-1)));
  });
  auto forOther = sim.addTerminationListener(7, [&](const platform::TerminationNotice& n) {
    heard.push_back("other " + std::to_string(n.pid.value_or(-1)));
  });
  sim.setQuitReport(42, SimQuitReport::TerminatedFirst);
  sim.quitApp(42);
  sim.loop().runUntilIdle();
  EXPECT_EQ(heard, (std::vector<std::string>{"app 42", "app 42", "other 42"}));

  heard.clear();
  sim.addApp("com.example.agent", 43);
  sim.setQuitReport(43, SimQuitReport::TerminatedOnly);
  auto forAgent = sim.addTerminationListener(43, [&](const platform::TerminationNotice& n) {
    heard.push_back("agent " + std::to_string(n.pid.value_or(-1)));
  });
  sim.quitApp(43);
  sim.loop().runUntilIdle();
  EXPECT_EQ(heard, std::vector<std::string>{"agent 43"});
}

TEST_F(SimPlatformTest, AHangSpendsVirtualTimeFromItsCallOn) {
  using namespace std::chrono_literals;
  const Element w = sim.windowElement(window);
  bool timerRan = false;
  sim.loop().postAfter(500ms, [&] { timerRan = true; });
  sim.hangApp(42, 1s, 2);
  EXPECT_EQ(sim.copyAttributeValue(w, "AXPosition").code, ax::kSuccess);
  EXPECT_EQ(sim.isAttributeSettable(sim.applicationElement(42), "AXSize").code, ax::kSuccess);
  EXPECT_EQ(sim.loop().now(), 0ns);
  EXPECT_EQ(sim.setAttributeValue(w, "AXSize", AxValue{2, 10, 10}), ax::kCannotComplete);
  EXPECT_EQ(sim.windowNumber(w).code, ax::kCannotComplete);
  EXPECT_EQ(sim.loop().now(), 2s);
  EXPECT_EQ(sim.window(window).width, 800);
  // The main thread was blocked: the timer runs at the next turn, not during the calls.
  EXPECT_FALSE(timerRan);
  sim.loop().runUntilIdle();
  EXPECT_TRUE(timerRan);
  // A hung element hangs only itself, counted from its own calls.
  sim.clearFaults();
  sim.hangElement(sim.childElement(window, 0), 1s);
  EXPECT_EQ(sim.copyAttributeValue(w, "AXPosition").code, ax::kSuccess);
  EXPECT_EQ(sim.copyAttributeValue(sim.childElement(window, 0), "AXPosition").code, ax::kCannotComplete);
  EXPECT_EQ(sim.loop().now(), 3s);
}

}  // namespace
}  // namespace kestrove::sim
