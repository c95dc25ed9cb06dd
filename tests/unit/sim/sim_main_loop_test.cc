#include "platform/sim/sim_main_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace kestrove::sim {
namespace {

using namespace std::chrono_literals;

TEST(SimMainLoop, NothingRunsUntilTheTestRunsTheLoop) {
  SimMainLoop loop;
  int ran = 0;
  loop.post([&] { ++ran; });
  loop.postAfter(0ms, [&] { ++ran; });
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(loop.runUntilIdle(), 2u);
  EXPECT_EQ(ran, 2);
}

TEST(SimMainLoop, TimersFireInDeadlineOrderAtTheirOwnVirtualTime) {
  SimMainLoop loop;
  std::string order;
  std::vector<std::chrono::nanoseconds> seen;
  loop.postAfter(30ms, [&] {
    order += "c";
    seen.push_back(loop.now());
  });
  loop.postAfter(10ms, [&] {
    order += "a";
    seen.push_back(loop.now());
    // Work posted by a timer runs after the timers due with it, before a
    // later timer.
    loop.post([&] { order += "p"; });
  });
  loop.postAfter(10ms, [&] { order += "b"; });  // same deadline: the order set
  loop.advance(5ms);
  EXPECT_EQ(order, "");
  loop.advance(20ms);
  EXPECT_EQ(order, "abp");
  EXPECT_EQ(loop.now(), 25ms);
  loop.advance(5ms);
  EXPECT_EQ(order, "abpc");
  EXPECT_EQ(seen, (std::vector<std::chrono::nanoseconds>{10ms, 30ms}));
}

TEST(SimMainLoop, TimerSetByATimerCountsFromItsOwnDeadline) {
  SimMainLoop loop;
  std::vector<std::chrono::nanoseconds> fired;
  loop.postAfter(10ms, [&] { loop.postAfter(10ms, [&] { fired.push_back(loop.now()); }); });
  loop.advance(19ms);
  EXPECT_TRUE(fired.empty());
  EXPECT_TRUE(loop.advanceToNextTimer());
  EXPECT_EQ(fired, (std::vector<std::chrono::nanoseconds>{20ms}));
  EXPECT_FALSE(loop.advanceToNextTimer());
}

// Work that always posts more, like a steady stream of input, must not hold
// a due timer back: after each batch of posted work come the due timers.
TEST(SimMainLoop, ADueTimerRunsAmidAStreamOfPostedWork) {
  for (auto clock : {SimMainLoop::Clock::Virtual, SimMainLoop::Clock::Real}) {
    SimMainLoop loop(clock);
    constexpr int kStreamEnd = 1000000;
    int streamed = 0;
    std::optional<int> streamedWhenFired;
    std::function<void()> stream = [&] {
      if (++streamed < kStreamEnd && !streamedWhenFired) loop.post(stream);
    };
    loop.postAfter(clock == SimMainLoop::Clock::Real ? 20ms : 0ms, [&] {
      streamedWhenFired = streamed;
      loop.stop();  // the real clock's run() returns once the work in hand is done
    });
    loop.post(stream);
    loop.run();
    ASSERT_TRUE(streamedWhenFired);
    EXPECT_LT(*streamedWhenFired, kStreamEnd);
    if (clock == SimMainLoop::Clock::Virtual) {
      EXPECT_EQ(*streamedWhenFired, 1);
    }
  }
}

TEST(SimMainLoop, RealClockRunServesPostsFromOtherThreadsAndTimers) {
  SimMainLoop loop(SimMainLoop::Clock::Real);
  std::atomic<int> ran{0};
  loop.postAfter(20ms, [&] {
    ++ran;
    loop.stop();
  });
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) loop.post([&] { ++ran; });
  });
  loop.run();
  poster.join();
  loop.runUntilIdle();
  EXPECT_EQ(ran.load(), 101);
  EXPECT_GE(loop.now(), 20ms);
}

}  // namespace
}  // namespace kestrove::sim
