// runFor on the loops that serve something outside run(): the real-clock sim
// loop (kestrove-sim) and the poll loop (Linux).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/posix/poll_main_loop.h"
#include "platform/sim/sim_main_loop.h"

namespace kestrove::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void servesWorkAndDueTimersThenReturns(MainLoop& loop) {
  std::atomic<int> posted{0};
  bool early = false;
  bool late = false;
  loop.postAfter(20ms, [&] { early = true; });
  loop.postAfter(10s, [&] { late = true; });
  const auto start = Clock::now();
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i) loop.post([&] { ++posted; });
  });
  loop.runFor(150ms);
  const auto took = Clock::now() - start;
  poster.join();
  EXPECT_GE(took, 150ms);
  EXPECT_TRUE(early);
  EXPECT_FALSE(late);
  // Whatever was posted after it returned waits for the next turn.
  loop.runFor(20ms);
  EXPECT_EQ(posted.load(), 50);
}

TEST(RunFor, RealClockSimLoop) {
  sim::SimMainLoop loop(sim::SimMainLoop::Clock::Real);
  servesWorkAndDueTimersThenReturns(loop);
}

TEST(RunFor, PollLoop) {
  PollMainLoop loop;
  servesWorkAndDueTimersThenReturns(loop);
}

}  // namespace
}  // namespace kestrove::platform
