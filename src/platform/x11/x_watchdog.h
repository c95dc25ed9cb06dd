#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrove::platform::x11 {

// Cuts off a display that stopped answering. While armed, a connection whose
// owner is still busy `bound` after the last arm() has its socket shut down:
// the XCB call blocked on it then returns with a connection error, which the
// backend handles as a lost display. The thread starts on the first arm().
class XWatchdog {
 public:
  explicit XWatchdog(std::chrono::milliseconds bound) : bound_(bound) {}
  ~XWatchdog();
  XWatchdog(const XWatchdog&) = delete;
  XWatchdog& operator=(const XWatchdog&) = delete;

  // Watches `fd` from now on for `bound`, replacing any earlier arm().
  void arm(int fd);
  // Once this returns, `fd` is never touched again (it may be closed).
  void disarm();

 private:
  void run();

  const std::chrono::milliseconds bound_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  int fd_ = -1;
  std::chrono::steady_clock::time_point deadline_;
  bool stopping_ = false;
};

}  // namespace kestrove::platform::x11
