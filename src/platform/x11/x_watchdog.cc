#include "platform/x11/x_watchdog.h"

#include <sys/socket.h>

namespace kestrove::platform::x11 {

XWatchdog::~XWatchdog() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void XWatchdog::arm(int fd, Clock::time_point deadline) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    fd_ = fd;
    deadline_ = deadline;
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    // A later deadline is noticed when the thread wakes for the earlier one.
    wake = deadline < sleepingUntil_;
  }
  if (wake) wake_.notify_all();
}

void XWatchdog::disarm() {
  std::lock_guard lock(mutex_);
  fd_ = -1;
}

void XWatchdog::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (fd_ < 0) {
      sleepingUntil_ = Clock::time_point::max();
      wake_.wait(lock);
      continue;
    }
    if (Clock::now() < deadline_) {
      sleepingUntil_ = deadline_;
      wake_.wait_until(lock, deadline_);
      continue;
    }
    // Under the lock: disarm() cannot return (and the fd be closed) meanwhile.
    shutdown(fd_, SHUT_RDWR);
    fd_ = -1;
  }
}

}  // namespace kestrove::platform::x11
