#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <queue>
#include <vector>

#include "platform/main_loop.h"
#include "platform/timer_queue.h"

namespace kestrove::platform {

// One poll(2)-based loop: posted work, timers and readable file descriptors,
// all run on the thread that calls run().
class PollMainLoop : public MainLoop {
 public:
  PollMainLoop();
  ~PollMainLoop() override;
  PollMainLoop(const PollMainLoop&) = delete;
  PollMainLoop& operator=(const PollMainLoop&) = delete;

  void post(Work work) override;
  void postAfter(std::chrono::nanoseconds delay, Work work) override;
  void run() override;
  void runFor(std::chrono::nanoseconds duration) override;

  // Main thread only. `onReadable` runs whenever `fd` polls readable (or hung
  // up) until unwatchFd.
  void watchFd(int fd, std::function<void()> onReadable);
  void unwatchFd(int fd);

  // One pass: runs what is due, waiting at most `maxWait` for something to
  // become due. Exposed so a backend can pump the loop while it waits.
  void runOnce(std::chrono::nanoseconds maxWait);

 private:
  using Clock = std::chrono::steady_clock;

  void drainWakePipe();
  void runPosted();
  void runDueTimers();

  std::mutex mutex_;
  std::deque<Work> posted_;
  bool wakePending_ = false;
  // Set by post, so the loop can notice work without the lock while it spins.
  std::atomic<bool> hasPosted_{false};
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  TimerQueue<Clock::time_point> timers_;
  std::map<int, std::function<void()>> watched_;
};

}  // namespace kestrove::platform
