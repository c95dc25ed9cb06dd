#include "platform/posix/poll_main_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kestrove::platform {

namespace {
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(100);
}  // namespace

PollMainLoop::PollMainLoop() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) std::abort();
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

PollMainLoop::~PollMainLoop() {
  close(wakeRead_);
  close(wakeWrite_);
}

void PollMainLoop::post(Work work) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
    hasPosted_.store(true, std::memory_order_release);
    // One byte per sleep is enough: the loop takes the whole queue at once.
    if (!wakePending_) wakePending_ = wake = true;
  }
  if (wake) {
    char byte = 1;
    while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
}

void PollMainLoop::postAfter(std::chrono::nanoseconds delay, Work work) {
  if (delay < std::chrono::nanoseconds::zero()) delay = std::chrono::nanoseconds::zero();
  timers_.push(Clock::now() + delay, std::move(work));
}

void PollMainLoop::watchFd(int fd, std::function<void()> onReadable) { watched_[fd] = std::move(onReadable); }

void PollMainLoop::unwatchFd(int fd) { watched_.erase(fd); }

void PollMainLoop::run() {
  for (;;) runOnce(std::chrono::nanoseconds::max());
}

void PollMainLoop::runFor(std::chrono::nanoseconds duration) {
  const auto end = Clock::now() + duration;
  for (auto left = duration; left > std::chrono::nanoseconds::zero(); left = end - Clock::now())
    runOnce(left);
}

void PollMainLoop::drainWakePipe() {
  char bytes[64];
  while (read(wakeRead_, bytes, sizeof bytes) > 0) {
  }
}

void PollMainLoop::runPosted() {
  std::deque<Work> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(posted_);
    wakePending_ = false;
    hasPosted_.store(false, std::memory_order_relaxed);
  }
  drainWakePipe();
  for (auto& work : batch) work();
}

void PollMainLoop::runDueTimers() {
  auto now = Clock::now();
  while (!timers_.empty() && timers_.nextDue() <= now) {
    Work work = timers_.pop();
    work();
  }
}

void PollMainLoop::runOnce(std::chrono::nanoseconds maxWait) {
  runPosted();
  runDueTimers();

  int timeoutMs = -1;
  {
    std::lock_guard lock(mutex_);
    if (!posted_.empty()) timeoutMs = 0;
  }
  if (timeoutMs != 0) {
    auto wait = maxWait;
    if (!timers_.empty()) {
      auto untilTimer = timers_.nextDue() - Clock::now();
      if (untilTimer < wait) wait = untilTimer;
    }
    if (wait <= std::chrono::nanoseconds::zero()) {
      timeoutMs = 0;
    } else if (wait != std::chrono::nanoseconds::max()) {
      // Round up so a timer is never woken for early.
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
      timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }
  }

  // A controlling program that sends its next line as soon as it has read a
  // reply would otherwise pay for waking this thread from a halted CPU every
  // time: wait briefly before sleeping.
  if (timeoutMs != 0) {
    auto spinUntil = Clock::now() + kSpinBeforeSleep;
    while (Clock::now() < spinUntil) {
      if (hasPosted_.load(std::memory_order_acquire)) {
        timeoutMs = 0;
        break;
      }
    }
  }

  std::vector<pollfd> fds;
  fds.reserve(watched_.size() + 1);
  fds.push_back({wakeRead_, POLLIN, 0});
  for (const auto& [fd, callback] : watched_) fds.push_back({fd, POLLIN, 0});
  int ready = poll(fds.data(), fds.size(), timeoutMs);
  if (ready <= 0) return;
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    auto found = watched_.find(fds[i].fd);
    // Copied: the callback may unwatch its own descriptor.
    if (found != watched_.end()) {
      auto callback = found->second;
      callback();
    }
  }
}

}  // namespace kestrove::platform
