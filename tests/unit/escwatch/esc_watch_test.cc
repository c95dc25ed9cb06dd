#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/core.h"
#include "commands/trusted_command.h"
#include "escwatch/esc_commands.h"
#include "escwatch/esc_hold.h"
#include "platform/sim/sim_platform.h"
#include "protocol/fail.h"
#include "protocol/writer.h"

namespace kestrove {
namespace {

using namespace std::chrono_literals;
using platform::KeyEvent;
namespace modifier = platform::modifier;

constexpr std::uint16_t kEscape = 53;

class EscWatchTest : public ::testing::Test {
 protected:
  JsonObject watch(Args args = {}) { return watchEscCommand(core, args); }
  std::string failureOf(const Args& args) {
    try {
      watch(args);
    } catch (const Fail& f) {
      return f.code() + ": " + f.detail().value_or("");
    }
    return "";
  }

  void key(KeyEvent event) {
    sim.pressKey(event);
    sim.loop().runUntilIdle();
  }
  void after(std::chrono::milliseconds ms) { sim.loop().advance(ms); }
  long long nowMs() {
    return static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sim.loop().now()).count());
  }

  sim::SimPlatform sim;
  // Each "esc_long" line, with the virtual time it was written at.
  std::vector<std::pair<long long, std::string>> events;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  events.emplace_back(nowMs(), std::string(data, size - 1));
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

const std::string kHoldRange =
    "bad_args: holdMs 200\xE2\x80\xA6"
    "5000";

TEST_F(EscWatchTest, WatchInstallsOneMonitorAndReportsTrust) {
  EXPECT_EQ(watch(), (JsonObject{{"holdMs", 600}, {"trusted", true}, {"watching", true}}));
  EXPECT_EQ(watch({"1000"}), (JsonObject{{"holdMs", 1000}, {"trusted", true}, {"watching", true}}));
  EXPECT_EQ(sim.keyMonitorCount(), 1u);
  EXPECT_EQ(sim.countCalls("addGlobalKeyMonitor"), 1u);

  // Trust is reported, not required.
  sim.setTrusted(false);
  EXPECT_EQ(unwatchEscCommand(core), (JsonObject{{"watching", false}}));
  EXPECT_EQ(watch(), (JsonObject{{"holdMs", 1000}, {"trusted", false}, {"watching", true}}));
}

TEST_F(EscWatchTest, HoldTimeArgument) {
  struct Case {
    const char* text;
    std::string failure;  // "" when accepted
    double stored;
    std::int64_t reported;
  };
  const Case cases[] = {
      {"200", "", 200, 200},       {"5000", "", 5000, 5000},    {"250.9", "", 250.9, 250},
      {"2e3", "", 2000, 2000},     {"199.9", kHoldRange, 0, 0}, {"5000.5", kHoldRange, 0, 0},
      {"abc", kHoldRange, 0, 0},   {"nan", kHoldRange, 0, 0},   {"inf", kHoldRange, 0, 0},
      {"-inf", kHoldRange, 0, 0},  {"", kHoldRange, 0, 0},      {" 600", kHoldRange, 0, 0},
      {"600ms", kHoldRange, 0, 0}, {"-600", kHoldRange, 0, 0},
  };
  for (const Case& c : cases) {
    core.state.esc = EscWatchState{};
    core.state.esc.holdMs = 777;
    sim.clearCalls();
    if (c.failure.empty()) {
      EXPECT_EQ(watch({c.text}).at("holdMs"), JsonValue(c.reported)) << c.text;
      EXPECT_EQ(core.state.esc.holdMs, c.stored) << c.text;
    } else {
      EXPECT_EQ(failureOf({c.text}), c.failure) << c.text;
      EXPECT_EQ(core.state.esc.holdMs, 777) << c.text;
      EXPECT_EQ(sim.countCalls("addGlobalKeyMonitor"), 0u) << c.text;
    }
  }
  core.state.esc = EscWatchState{};
  EXPECT_EQ(failureOf({"600", "700"}), "bad_args: watch-esc [holdMs]");
  EXPECT_EQ(core.state.esc.monitor, nullptr);
}

TEST_F(EscWatchTest, UnwatchWithoutMonitorStillMakesTimersStale) {
  EXPECT_EQ(unwatchEscCommand(core), (JsonObject{{"watching", false}}));
  EXPECT_EQ(core.state.esc.generation, 1);
  EXPECT_EQ(sim.countCalls("removeKeyMonitor"), 0u);
}

TEST_F(EscWatchTest, RefusedMonitorIsNotAnErrorAndIsTriedAgain) {
  sim.refuseKeyMonitor(true);
  EXPECT_EQ(watch(), (JsonObject{{"holdMs", 600}, {"trusted", true}, {"watching", false}}));
  // A backend that delivered keys anyway would still write nothing.
  onKeyEvent(core, KeyEvent{kEscape, true, false, 0});
  after(1000ms);
  EXPECT_TRUE(events.empty());

  sim.refuseKeyMonitor(false);
  EXPECT_EQ(watch().at("watching"), JsonValue(true));
  EXPECT_EQ(sim.countCalls("addGlobalKeyMonitor"), 2u);
}

// One step of a key sequence.
struct Step {
  enum Kind { Down, Repeat, Up, Wait, Unwatch, Watch } kind;
  std::uint64_t flags = 0;  // modifiers of Down / Up, or milliseconds of Wait
  std::uint16_t keyCode = kEscape;
};
Step down(std::uint64_t flags = 0) { return {Step::Down, flags}; }
Step repeat() { return {Step::Repeat}; }
Step up(std::uint64_t flags = 0) { return {Step::Up, flags}; }
Step wait(std::uint64_t ms) { return {Step::Wait, ms}; }
Step downOf(std::uint16_t keyCode) { return {Step::Down, 0, keyCode}; }

TEST_F(EscWatchTest, PressSequences) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<long long> firedAt;  // virtual ms of each "esc_long"
  };
  const std::uint64_t cmd = modifier::kCommand, ctrl = modifier::kControl, opt = modifier::kOption;
  const Case cases[] = {
      {"long hold", {down(), wait(5000)}, {600}},
      {"repeats change nothing",
       {down(), wait(300), repeat(), wait(200), repeat(), wait(200), repeat(), repeat(), wait(2000)},
       {600}},
      {"tap", {down(), wait(599), up(), wait(2000)}, {}},
      {"command-escape", {down(cmd), wait(2000)}, {}},
      {"control-escape", {down(ctrl), wait(2000)}, {}},
      {"option-escape", {down(opt), wait(2000)}, {}},
      {"shift-escape", {down(modifier::kShift), wait(2000)}, {600}},
      {"modified press neither starts nor cancels", {down(), wait(300), down(cmd), wait(2000)}, {600}},
      {"up with modifiers cancels", {down(), wait(300), up(cmd), wait(2000)}, {}},
      {"press without release restarts", {down(), wait(400), down(), wait(2000)}, {1000}},
      {"press after firing counts again", {down(), wait(700), down(), wait(2000)}, {600, 1300}},
      {"release and press again", {down(), wait(700), up(), down(), wait(2000)}, {600, 1300}},
      {"up while idle", {up(), wait(2000)}, {}},
      {"other keys", {downOf(36), wait(2000)}, {}},
      {"other key released", {down(), wait(300), Step{Step::Up, 0, 36}, wait(2000)}, {600}},
      {"unwatch while held", {down(), wait(300), {Step::Unwatch}, wait(2000)}, {}},
      {"unwatch then watch while held",
       {down(), wait(300), {Step::Unwatch}, {Step::Watch}, wait(2000), up(), down(), wait(1000)},
       {2900}},
  };
  for (const Case& c : cases) {
    sim::SimPlatform fresh;
    const auto startedAt = fresh.loop().now();
    std::vector<long long> firedAt;
    Writer timed{
        [&](const char* data, std::size_t size, int&) {
          EXPECT_EQ(std::string(data, size), "{\"event\":\"esc_long\",\"heldMs\":600}\n") << c.name;
          firedAt.push_back(
              std::chrono::duration_cast<std::chrono::milliseconds>(fresh.loop().now() - startedAt).count());
          return static_cast<long>(size);
        },
        [](int) {}};
    Core timedCore{fresh, timed, [](int) {}, HelperState{}};
    watchEscCommand(timedCore, {});
    for (const Step& s : c.steps) {
      switch (s.kind) {
        case Step::Down:
          fresh.pressKey(KeyEvent{s.keyCode, true, false, s.flags});
          break;
        case Step::Repeat:
          fresh.pressKey(KeyEvent{kEscape, true, true, 0});
          break;
        case Step::Up:
          fresh.pressKey(KeyEvent{s.keyCode, false, false, s.flags});
          break;
        case Step::Wait:
          fresh.loop().advance(std::chrono::milliseconds(s.flags));
          break;
        case Step::Unwatch:
          unwatchEscCommand(timedCore);
          break;
        case Step::Watch:
          watchEscCommand(timedCore, {});
          break;
      }
      fresh.loop().runUntilIdle();
    }
    EXPECT_EQ(firedAt, c.firedAt) << c.name;
  }
}

TEST_F(EscWatchTest, FractionalHoldTimeSetsTheDeadlineAndTheEventDropsTheFraction) {
  watch({"250.9"});
  key(KeyEvent{kEscape, true, false, 0});
  after(250ms);
  EXPECT_TRUE(events.empty());
  after(1ms);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, R"({"event":"esc_long","heldMs":250})");
}

TEST_F(EscWatchTest, ChangingTheHoldTimeKeepsAPendingDeadlineButReportsTheNewTime) {
  watch();
  key(KeyEvent{kEscape, true, false, 0});
  after(100ms);
  watch({"1000"});
  after(499ms);
  EXPECT_TRUE(events.empty());
  after(1ms);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (std::pair<long long, std::string>{600, R"({"event":"esc_long","heldMs":1000})"}));
}

TEST_F(EscWatchTest, UnwatchAfterFiringLeavesFiredUntilTheNextKey) {
  watch();
  key(KeyEvent{kEscape, true, false, 0});
  after(700ms);
  ASSERT_EQ(events.size(), 1u);
  unwatchEscCommand(core);
  EXPECT_TRUE(core.state.esc.fired);
  EXPECT_EQ(core.state.esc.monitor, nullptr);
  EXPECT_EQ(sim.keyMonitorCount(), 0u);
  // No monitor, so keys reach nothing now.
  key(KeyEvent{kEscape, false, false, 0});
  EXPECT_TRUE(core.state.esc.fired);
}

// A monitor installed while untrusted hears nothing, even once trust has
// come, until it is installed again; the watch renews it as soon as trust
// is seen, whether a command sees it or the recheck that runs meanwhile.
TEST_F(EscWatchTest, AMonitorInstalledBeforeTrustIsRenewedOnceTrustIsSeen) {
  struct Case {
    const char* name;
    bool flagLate;                   // the grant is one the trust flag does not show yet
    bool command;                    // a command that checks trust follows the grant
    std::chrono::milliseconds wait;  // time before the press
  };
  const Case cases[] = {
      {"a command sees the grant", false, true, 0ms},
      {"a command sees a grant the flag does not show", true, true, 0ms},
      {"the recheck sees the grant", false, false, 1000ms},
      {"the recheck sees a grant the flag does not show", true, false, 1000ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform fresh;
    std::vector<std::string> lines;
    Writer out{[&](const char* data, std::size_t size, int&) {
                 lines.emplace_back(data, size - 1);
                 return static_cast<long>(size);
               },
               [](int) {}};
    Core untrusted{fresh, out, [](int) {}, HelperState{}};
    fresh.setTrusted(false);
    EXPECT_EQ(watchEscCommand(untrusted, {}),
              (JsonObject{{"holdMs", 600}, {"trusted", false}, {"watching", true}}));
    EXPECT_EQ(fresh.deafKeyMonitorCount(), 1u);

    fresh.setTrusted(true);
    fresh.setTrustFlagLate(c.flagLate);
    if (c.command) {
      EXPECT_EQ(trustedCommand(untrusted, {}).at("trusted"), JsonValue(true));
    }
    fresh.loop().advance(c.wait);
    EXPECT_EQ(fresh.keyMonitorCount(), 1u);
    EXPECT_EQ(fresh.deafKeyMonitorCount(), 0u);
    EXPECT_EQ(fresh.countCalls("addGlobalKeyMonitor"), 2u);

    fresh.pressKey(KeyEvent{kEscape, true, false, 0});
    fresh.loop().advance(600ms);
    EXPECT_EQ(lines, std::vector<std::string>{R"({"event":"esc_long","heldMs":600})"});
    // Renewed once: a recheck still due finds nothing to do and sets no
    // other, so nothing wakes the loop afterwards.
    fresh.clearCalls();
    fresh.loop().advance(10s);
    EXPECT_EQ(fresh.countCalls("addGlobalKeyMonitor"), 0u);
    EXPECT_EQ(fresh.countCalls("readFocusedApplication"), 0u);
    EXPECT_EQ(fresh.loop().pendingTimers(), 0u);
  }
}

TEST_F(EscWatchTest, TrustRecheckRunsOnlyWhileAMonitorAwaitsTrust) {
  // Installed trusted: no recheck at all.
  watch();
  EXPECT_EQ(sim.loop().pendingTimers(), 0u);
  unwatchEscCommand(core);

  // Installed untrusted: one recheck a second while trust is missing...
  sim.setTrusted(false);
  watch();
  sim.clearCalls();
  after(3000ms);
  EXPECT_EQ(sim.countCalls("readFocusedApplication"), 3u);
  EXPECT_EQ(sim.countCalls("addGlobalKeyMonitor"), 0u);
  // ... and none once the watch ends; a stale timer does nothing.
  unwatchEscCommand(core);
  sim.clearCalls();
  after(5000ms);
  EXPECT_EQ(sim.countCalls("readFocusedApplication"), 0u);
  EXPECT_EQ(sim.loop().pendingTimers(), 0u);

  // A refused monitor has nothing to renew.
  sim.refuseKeyMonitor(true);
  EXPECT_EQ(watch().at("watching"), JsonValue(false));
  EXPECT_EQ(sim.loop().pendingTimers(), 0u);
}

}  // namespace
}  // namespace kestrove
