// An application that hangs partway through a command: each call to it
// then waits for the messaging timeout. The sim spends that time on its
// virtual clock, so these tests measure what a command would cost.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "commands/dispatcher.h"
#include "observation/observation.h"
#include "observation/window_events.h"
#include "windows/hung_app_gate.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

using namespace std::chrono_literals;
namespace ax = platform::ax;

constexpr std::chrono::nanoseconds kTimeout = 1s;
constexpr std::int32_t kOtherPid = 5151;

const std::set<std::string> kElementCalls = {
    "copyAttributeValue", "isAttributeSettable", "setAttributeValue", "setBoolAttributeValue",
    "windowNumber",       "addNotification",     "removeNotification"};

// Two windows of four children each, the first the main one, as a real
// document window has them: three buttons and the content; and another app.
struct World {
  World() {
    sim.addApp(kBundle, kPid);
    sim.addApp("com.example.editor", kOtherPid);
    for (int i = 0; i < 2; ++i) {
      sim::SimWindow w;
      w.x = 100.0 * i;
      w.y = 40;
      w.main = i == 0;
      for (int c = 0; c < 3; ++c) {
        sim::SimChild button;
        button.anchor = sim::SimChild::Anchor::TitlebarButton;
        button.subrole = c == 0 ? "AXCloseButton" : c == 1 ? "AXMinimizeButton" : "AXZoomButton";
        button.x = 8 + 20.0 * c;
        button.width = button.height = 14;
        w.children.push_back(button);
      }
      sim::SimChild content;
      content.anchor = sim::SimChild::Anchor::Content;
      w.children.push_back(content);
      windows.push_back(sim.addWindow(kPid, w));
    }
    sim.clearCalls();
  }

  JsonObject run(const Args& words) { return runCommand(core, words, true); }
  // Failures are part of what a hang may bring; only the time is looked at.
  void runAnyway(const Args& words) {
    try {
      run(words);
    } catch (const Fail&) {
    }
  }

  std::size_t elementCalls() const {
    std::size_t n = 0;
    for (const sim::SimCall& call : sim.calls()) n += kElementCalls.contains(call.operation);
    return n;
  }

  // Virtual time the work took.
  std::chrono::nanoseconds timed(const std::function<void()>& work) {
    const auto before = sim.loop().now();
    work();
    return sim.loop().now() - before;
  }

  sim::SimPlatform sim;
  std::vector<std::string> lines;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  lines.emplace_back(data, size - 1);
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
  std::vector<sim::WindowId> windows;
};

// How many element calls the work makes on a healthy app.
std::size_t healthyCalls(const std::function<void(World&)>& work) {
  World fresh;
  work(fresh);
  return fresh.elementCalls();
}

using HungAppTest = ::testing::Test;

// The commands, run on an app that stops answering at each of their calls
// in turn: each answers within one timeout, however late the hang comes.
TEST_F(HungAppTest, EachCommandCostsOneTimeoutWhereverTheHangBegins) {
  const Args commands[] = {
      {"windows", kBundle},
      {"place", kBundle, "50", "60", "700", "500"},
      {"observe", kBundle},
  };
  for (const Args& words : commands) {
    const std::size_t healthy = healthyCalls([&](World& w) { w.run(words); });
    ASSERT_GT(healthy, 5u) << words[0];
    for (std::size_t from = 0; from <= healthy; ++from) {
      SCOPED_TRACE(words[0] + " hangs from call " + std::to_string(from));
      World w;
      w.sim.hangApp(kPid, kTimeout, from);
      EXPECT_EQ(w.timed([&] { w.runAnyway(words); }), from < healthy ? kTimeout : 0ns);
      // The call that timed out is the last one that reached the app.
      EXPECT_EQ(w.elementCalls(), std::min(from + 1, healthy));
    }
  }
}

TEST_F(HungAppTest, WhatWasReadBeforeTheHangIsReported) {
  // Half the calls describe the first window; the second window's first
  // read is the one that times out.
  const std::size_t perWindow = healthyCalls([](World& w) { w.run({"windows", kBundle}); }) / 2;
  World w;
  w.sim.hangApp(kPid, kTimeout, perWindow + 1);
  const JsonObject reply = w.run({"windows", kBundle});
  const JsonArray& listed = std::get<JsonArray>(reply.at("windows").value);
  ASSERT_EQ(listed.size(), 1u);
  const JsonObject& first = std::get<JsonObject>(listed[0].value);
  EXPECT_EQ(first.at("id"), JsonValue(static_cast<std::int64_t>(w.sim.numberOf(w.windows[0]))));
  EXPECT_EQ(first.at("titlebarSource"), JsonValue("ax_content"));
  EXPECT_EQ(first.at("main"), JsonValue(true));
}

TEST_F(HungAppTest, TheNextCommandAsksAgain) {
  World w;
  w.sim.hangApp(kPid, kTimeout, 0);
  EXPECT_EQ(w.timed([&] { w.run({"windows", kBundle}); }), kTimeout);
  w.sim.clearFaults();
  const JsonObject reply = w.run({"windows", kBundle});
  EXPECT_EQ(std::get<JsonArray>(reply.at("windows").value).size(), 2u);
}

TEST_F(HungAppTest, OneHungElementMakesItsWholeAppUnresponsiveButNoOtherApp) {
  World w;
  HungAppGate gate(w.sim);
  const platform::Element hungWindow = w.sim.windowElement(w.windows[0]);
  const platform::Element otherWindow = w.sim.windowElement(w.windows[1]);
  const platform::Element editor = w.sim.windowElement(w.sim.addWindow(kOtherPid, sim::SimWindow{}));
  w.sim.hangElement(hungWindow, kTimeout);

  EXPECT_EQ(gate.copyAttributeValue(hungWindow, "AXPosition").code, ax::kCannotComplete);
  w.sim.clearCalls();
  EXPECT_EQ(gate.copyAttributeValue(otherWindow, "AXPosition").code, ax::kCannotComplete);
  EXPECT_EQ(gate.isAttributeSettable(otherWindow, "AXSize").code, ax::kCannotComplete);
  EXPECT_EQ(gate.windowNumber(otherWindow).code, ax::kCannotComplete);
  EXPECT_EQ(gate.setAttributeValue(otherWindow, "AXSize", {2, 10, 10}), ax::kCannotComplete);
  EXPECT_EQ(gate.setBoolAttributeValue(otherWindow, "AXMain", true), ax::kCannotComplete);
  EXPECT_EQ(w.elementCalls(), 0u);
  EXPECT_EQ(gate.copyAttributeValue(editor, "AXPosition").code, ax::kSuccess);

  gate.beginScope();
  EXPECT_EQ(gate.copyAttributeValue(otherWindow, "AXPosition").code, ax::kSuccess);
}

TEST_F(HungAppTest, OtherFailuresDoNotCountAsAHang) {
  World w;
  HungAppGate gate(w.sim);
  const platform::Element window = w.sim.windowElement(w.windows[0]);
  for (std::int32_t code : {ax::kFailure, ax::kInvalidUIElement, ax::kAttributeUnsupported, ax::kNoValue}) {
    w.sim.failRead(window, "AXPosition", {code, std::nullopt}, 1);
    EXPECT_EQ(gate.copyAttributeValue(window, "AXPosition").code, code);
    EXPECT_FALSE(gate.isUnresponsive(window)) << code;
  }
}

// With AXEnhancedUserInterface turned off for the writes, putting it back
// goes out even to an app that stopped answering: the calls that timed out
// may still be carried out once it recovers, the turning off among them.
TEST_F(HungAppTest, PlaceStillPutsBackTheEnhancedInterface) {
  const Args words{"place", kBundle, "50", "60", "700", "500"};
  auto place = [&](World& w) {
    w.sim.setEnhancedUserInterface(kPid, true);
    w.run(words);
  };
  const std::size_t healthy = healthyCalls(place);
  // From the turning off on; the restore and the window number come last.
  std::size_t turnOff = 0;
  {
    World w;
    place(w);
    for (const sim::SimCall& call : w.sim.calls()) {
      if (call.operation == "setBoolAttributeValue") break;
      turnOff += kElementCalls.contains(call.operation);
    }
  }
  for (std::size_t from = turnOff; from < healthy; ++from) {
    SCOPED_TRACE("hangs from call " + std::to_string(from));
    World w;
    w.sim.setEnhancedUserInterface(kPid, true);
    w.sim.hangApp(kPid, kTimeout, from);
    const auto took = w.timed([&] { w.runAnyway(words); });
    ASSERT_EQ(w.sim.flagWrites().size(), 2u);
    EXPECT_FALSE(w.sim.flagWrites()[0].value);
    EXPECT_TRUE(w.sim.flagWrites()[1].value);
    // The restore's own timeout comes on top, unless it or the window
    // number after it was the call that hung.
    EXPECT_EQ(took, from + 2 >= healthy ? kTimeout : 2 * kTimeout);
  }
}

TEST_F(HungAppTest, AnEventOnAHungAppCostsOneTimeoutAndComesWithoutFrame) {
  World w;
  w.run({"observe", kBundle});
  w.sim.moveWindow(w.windows[0], 300, 300);
  w.sim.hangApp(kPid, kTimeout, 0);
  EXPECT_EQ(w.timed([&] { w.sim.loop().runUntilIdle(); }), kTimeout);
  ASSERT_EQ(w.lines.size(), 1u);
  EXPECT_EQ(w.lines[0], R"({"bundleId":"com.example.viewer","event":"moved"})");
}

}  // namespace
}  // namespace kestrove::testing
