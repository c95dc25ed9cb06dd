#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrove::platform::x11 {

// Cuts off a display that stopped answering. While armed, a connection whose
// owner is still busy at the deadline has its socket shut down: the XCB call
// blocked on it then returns with a connection error, which the backend
// handles as a lost display. The thread starts on the first arm().
class XWatchdog {
 public:
  using Clock = std::chrono::steady_clock;

  XWatchdog() = default;
  ~XWatchdog();
  XWatchdog(const XWatchdog&) = delete;
  XWatchdog& operator=(const XWatchdog&) = delete;

  // Watches `fd` until `deadline`, replacing any earlier arm(). Cheap when
  // called once per command: the thread is woken only when it must act sooner.
  void arm(int fd, Clock::time_point deadline);
  // Once this returns, `fd` is never touched again (it may be closed).
  void disarm();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  int fd_ = -1;
  Clock::time_point deadline_;
  // What the thread sleeps until: max() while it waits for an arm().
  Clock::time_point sleepingUntil_ = Clock::time_point::max();
  bool stopping_ = false;
};

}  // namespace kestrove::platform::x11
