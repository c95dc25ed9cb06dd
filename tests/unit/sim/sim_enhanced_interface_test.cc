#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace kestrove::sim {
namespace {

namespace ax = platform::ax;
using std::chrono::milliseconds;

class SimEnhancedInterface : public ::testing::Test {
 protected:
  SimEnhancedInterface() {
    sim.addApp("com.example.viewer", 7);
    SimWindow w;
    w.x = 0;
    w.y = 0;
    w.width = 500;
    w.height = 500;
    id = sim.addWindow(7, w);
    window = sim.windowElement(id);
    app = sim.applicationElement(7);
    auto created = sim.createObserver(7, [this](const platform::Element&, const std::string& name,
                                                const void*) { notifications.push_back(name); });
    observer = created.observer;
    sim.addNotification(observer, app, "AXWindowMoved", nullptr);
    sim.attachObserver(observer);
  }

  platform::AttributeRead read() { return sim.copyAttributeValue(app, "AXEnhancedUserInterface"); }
  std::vector<double> frame() {
    const SimWindow& w = sim.window(id);
    return {w.x, w.y, w.width, w.height};
  }

  SimPlatform sim;
  WindowId id = 0;
  platform::Element window;
  platform::Element app;
  platform::Observer observer;
  std::vector<std::string> notifications;
};

TEST_F(SimEnhancedInterface, AttributeIsReadAndWrittenOnlyWhereTheAppHasIt) {
  EXPECT_EQ(read().code, ax::kAttributeUnsupported);
  EXPECT_EQ(sim.setBoolAttributeValue(app, "AXEnhancedUserInterface", true), ax::kAttributeUnsupported);
  EXPECT_EQ(sim.enhancedUserInterface(7), std::nullopt);

  sim.setEnhancedUserInterface(7, true);
  ASSERT_TRUE(read().value);
  EXPECT_EQ(std::get<platform::Number>(*read().value).value, 1.0);
  EXPECT_EQ(sim.setBoolAttributeValue(app, "AXEnhancedUserInterface", false), ax::kSuccess);
  EXPECT_EQ(std::get<platform::Number>(*read().value).value, 0.0);
  EXPECT_EQ(sim.setBoolAttributeValue(window, "AXEnhancedUserInterface", true), ax::kAttributeUnsupported);
  EXPECT_EQ(sim.setBoolAttributeValue(app, "AXManualAccessibility", true), ax::kAttributeUnsupported);

  ASSERT_EQ(sim.flagWrites().size(), 4u);
  EXPECT_EQ(sim.flagWrites()[1].value, false);
  EXPECT_EQ(sim.flagWrites()[1].code, ax::kSuccess);
  EXPECT_EQ(sim.flagWrites()[2].element, "window 1");
  EXPECT_EQ(sim.countCalls("setBoolAttributeValue", "AXEnhancedUserInterface", "app 7"), 2u);
}

TEST_F(SimEnhancedInterface, WhileOnAWriteReturnsAtOnceAndTheWindowGetsThereOverTicks) {
  sim.setEnhancedUserInterface(7, true);
  EXPECT_EQ(sim.setAttributeValue(window, "AXPosition", {1, 100, 50}), ax::kSuccess);
  sim.loop().runUntilIdle();
  EXPECT_EQ(frame(), (std::vector<double>{0, 0, 500, 500}));
  EXPECT_TRUE(notifications.empty());

  sim.loop().advance(SimPlatform::kFrameAnimationTick);
  EXPECT_EQ(frame(), (std::vector<double>{20, 10, 500, 500}));
  EXPECT_EQ(notifications.size(), 1u);

  // A write on the way starts anew from where the window is, towards a
  // frame that keeps the earlier write's position.
  EXPECT_EQ(sim.setAttributeValue(window, "AXSize", {2, 1000, 500}), ax::kSuccess);
  sim.loop().advance(SimPlatform::kFrameAnimationTick * (SimPlatform::kFrameAnimationTicks - 1));
  EXPECT_NE(frame(), (std::vector<double>{100, 50, 1000, 500}));
  sim.loop().advance(SimPlatform::kFrameAnimationTick);
  EXPECT_EQ(frame(), (std::vector<double>{100, 50, 1000, 500}));
  EXPECT_EQ(notifications.size(), 1u + SimPlatform::kFrameAnimationTicks);
  sim.loop().advance(milliseconds(1000));
  EXPECT_EQ(sim.loop().pendingTimers(), 0u);

  // Off again: at once.
  sim.setEnhancedUserInterface(7, false);
  EXPECT_EQ(sim.setAttributeValue(window, "AXPosition", {1, 0, 0}), ax::kSuccess);
  EXPECT_EQ(frame(), (std::vector<double>{0, 0, 1000, 500}));
}

}  // namespace
}  // namespace kestrove::sim
