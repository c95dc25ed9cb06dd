#pragma once

#include <cstdint>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

namespace kestrove::platform {

// Timers in deadline order; timers due at the same time keep the order they
// were set in. `Time` is whatever the loop measures time with.
template <typename Time>
class TimerQueue {
 public:
  using Work = std::function<void()>;

  void push(Time due, Work work) { timers_.push(Timer{due, sequence_++, std::move(work)}); }
  bool empty() const { return timers_.empty(); }
  std::size_t size() const { return timers_.size(); }
  // The earliest deadline; only when not empty.
  Time nextDue() const { return timers_.top().due; }
  // Takes out the earliest timer's work; only when not empty.
  Work pop() {
    // priority_queue only hands out const references; the entry goes next.
    Work work = std::move(const_cast<Timer&>(timers_.top()).work);
    timers_.pop();
    return work;
  }

 private:
  struct Timer {
    Time due;
    std::uint64_t sequence;
    Work work;
  };
  struct LaterFirst {
    bool operator()(const Timer& a, const Timer& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };

  std::priority_queue<Timer, std::vector<Timer>, LaterFirst> timers_;
  std::uint64_t sequence_ = 0;
};

}  // namespace kestrove::platform
