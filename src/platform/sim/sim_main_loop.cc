#include "platform/sim/sim_main_loop.h"

#include <thread>

namespace kestrove::sim {

SimMainLoop::SimMainLoop(Clock clock) : clock_(clock), start_(std::chrono::steady_clock::now()) {}

void SimMainLoop::post(Work work) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SimMainLoop::postAfter(std::chrono::nanoseconds delay, Work work) {
  if (delay < std::chrono::nanoseconds::zero()) delay = std::chrono::nanoseconds::zero();
  {
    std::lock_guard lock(mutex_);
    timers_.push(now() + delay, std::move(work));
  }
  wake_.notify_one();
}

std::chrono::nanoseconds SimMainLoop::now() const {
  if (clock_ == Clock::Virtual) return virtualNow_;
  return std::chrono::steady_clock::now() - start_;
}

std::size_t SimMainLoop::runPosted() {
  std::deque<Work> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(posted_);
  }
  for (auto& work : batch) work();
  return batch.size();
}

std::size_t SimMainLoop::runDueTimers() {
  std::size_t ran = 0;
  const auto dueBy = now();
  for (;;) {
    Work work;
    {
      std::lock_guard lock(mutex_);
      if (timers_.empty() || timers_.nextDue() > dueBy) return ran;
      work = timers_.pop();
    }
    work();
    ++ran;
  }
}

std::size_t SimMainLoop::runUntilIdle() {
  std::size_t ran = 0;
  // As the real loop turns: the work posted so far, then the timers due, and
  // again; a steady stream of posted work never holds a due timer back.
  for (;;) {
    const std::size_t before = ran;
    ran += runPosted();
    ran += runDueTimers();
    if (ran == before) return ran;
  }
}

void SimMainLoop::advance(std::chrono::nanoseconds by) {
  auto end = virtualNow_ + by;
  runUntilIdle();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (timers_.empty() || timers_.nextDue() > end) break;
      if (timers_.nextDue() > virtualNow_) virtualNow_ = timers_.nextDue();
    }
    runUntilIdle();
  }
  if (end > virtualNow_) virtualNow_ = end;
  runUntilIdle();
}

bool SimMainLoop::advanceToNextTimer() {
  {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    if (timers_.nextDue() > virtualNow_) virtualNow_ = timers_.nextDue();
  }
  runUntilIdle();
  return true;
}

void SimMainLoop::elapse(std::chrono::nanoseconds by) {
  if (by <= std::chrono::nanoseconds::zero()) return;
  if (clock_ == Clock::Real) {
    std::this_thread::sleep_for(by);
    return;
  }
  std::lock_guard lock(mutex_);
  virtualNow_ += by;
}

std::size_t SimMainLoop::pendingPosted() const {
  std::lock_guard lock(mutex_);
  return posted_.size();
}

std::size_t SimMainLoop::pendingTimers() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

void SimMainLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_one();
}

void SimMainLoop::runFor(std::chrono::nanoseconds duration) {
  if (clock_ == Clock::Virtual) {
    advance(duration);
    return;
  }
  const auto end = now() + duration;
  for (;;) {
    runUntilIdle();
    std::unique_lock lock(mutex_);
    if (now() >= end) return;
    if (!posted_.empty()) continue;
    auto wakeAt = end;
    if (!timers_.empty() && timers_.nextDue() < wakeAt) wakeAt = timers_.nextDue();
    wake_.wait_until(lock, start_ + wakeAt);
  }
}

void SimMainLoop::run() {
  if (clock_ == Clock::Virtual) {
    runUntilIdle();
    return;
  }
  for (;;) {
    runUntilIdle();
    std::unique_lock lock(mutex_);
    if (stopRequested_) return;
    if (!posted_.empty()) continue;
    if (timers_.empty()) {
      wake_.wait(lock);
    } else {
      // No predicate: an earlier timer set meanwhile must end the wait too.
      wake_.wait_until(lock, start_ + timers_.nextDue());
    }
  }
}

}  // namespace kestrove::sim
