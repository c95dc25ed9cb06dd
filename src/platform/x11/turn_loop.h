#pragma once

#include <functional>

#include "platform/main_loop.h"
#include "platform/posix/poll_main_loop.h"

namespace kestrove::platform::x11 {

// The poll loop, with a hook after every work item and timer: the end of a
// turn, where what was read from the display is dropped and the events read
// meanwhile are handed on.
class TurnLoop : public MainLoop {
 public:
  TurnLoop(PollMainLoop& inner, std::function<void()> endOfTurn)
      : inner_(inner), endOfTurn_(std::move(endOfTurn)) {}

  void post(Work work) override {
    inner_.post([this, work = std::move(work)] {
      work();
      endOfTurn_();
    });
  }
  void postAfter(std::chrono::nanoseconds delay, Work work) override {
    inner_.postAfter(delay, [this, work = std::move(work)] {
      work();
      endOfTurn_();
    });
  }
  void run() override { inner_.run(); }

 private:
  PollMainLoop& inner_;
  std::function<void()> endOfTurn_;
};

}  // namespace kestrove::platform::x11
