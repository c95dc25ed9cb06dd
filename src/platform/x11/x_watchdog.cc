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

void XWatchdog::arm(int fd) {
  {
    std::lock_guard lock(mutex_);
    fd_ = fd;
    deadline_ = std::chrono::steady_clock::now() + bound_;
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  wake_.notify_all();
}

void XWatchdog::disarm() {
  std::lock_guard lock(mutex_);
  fd_ = -1;
}

void XWatchdog::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (fd_ < 0) {
      wake_.wait(lock);
      continue;
    }
    // A later arm() only moves the deadline on, so waking early just waits again.
    if (std::chrono::steady_clock::now() < deadline_) {
      wake_.wait_until(lock, deadline_);
      continue;
    }
    // Under the lock: disarm() cannot return (and the fd be closed) meanwhile.
    shutdown(fd_, SHUT_RDWR);
    fd_ = -1;
  }
}

}  // namespace kestrove::platform::x11
