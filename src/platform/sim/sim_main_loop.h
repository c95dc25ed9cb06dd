#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <queue>
#include <vector>

#include "platform/main_loop.h"
#include "platform/timer_queue.h"

namespace kestrove::sim {

// The sim's main loop. With the virtual clock nothing runs until a test calls
// runUntilIdle() or advance(), and timers fire in deadline order (ties in the
// order they were set) as virtual time passes, so tests are deterministic.
// With the real clock it behaves like a desktop's loop: run() blocks and
// serves posted work and steady-clock timers. post() is thread-safe in both.
class SimMainLoop : public platform::MainLoop {
 public:
  enum class Clock { Virtual, Real };

  explicit SimMainLoop(Clock clock = Clock::Virtual);
  SimMainLoop(const SimMainLoop&) = delete;
  SimMainLoop& operator=(const SimMainLoop&) = delete;

  void post(Work work) override;
  void postAfter(std::chrono::nanoseconds delay, Work work) override;
  // Real clock: serves work until stop(); the helper never stops it.
  // Virtual clock: runUntilIdle() and returns (it must not block a test).
  void run() override;
  // Virtual clock: advance(duration). Real clock: serves work until then.
  void runFor(std::chrono::nanoseconds duration) override;

  Clock clock() const { return clock_; }

  // --- Virtual-clock controls (main thread) ---
  // Time since the loop was made: virtual time, or steady-clock time.
  std::chrono::nanoseconds now() const;
  // Runs posted work and the timers due now, including whatever they post,
  // until nothing is ready, in turns as a desktop's loop does: the work
  // posted so far, then every timer due. Time does not move. Returns the
  // items run.
  std::size_t runUntilIdle();
  // Moves virtual time forward by `by`, running each timer at its own
  // deadline (now() equals the deadline while it runs) with the posted work
  // that follows it, then runs until idle at the end time.
  void advance(std::chrono::nanoseconds by);
  // Moves virtual time to the next timer's deadline and runs until idle
  // there. False when no timer is pending.
  bool advanceToNextTimer();
  // Time passes while the main thread is blocked (a call that waits for an
  // application): virtual time moves forward by `by` and nothing runs; the
  // timers that fell due run at the next turn. Real clock: a sleep.
  void elapse(std::chrono::nanoseconds by);
  std::size_t pendingPosted() const;
  std::size_t pendingTimers() const;

  // --- Real-clock control (thread-safe) ---
  // Makes run() return once the work in hand is done.
  void stop();

 private:
  std::size_t runPosted();
  std::size_t runDueTimers();

  Clock clock_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::nanoseconds virtualNow_{0};

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> posted_;
  platform::TimerQueue<std::chrono::nanoseconds> timers_;
  bool stopRequested_ = false;
};

}  // namespace kestrove::sim
