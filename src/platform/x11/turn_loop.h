#pragma once

#include <functional>

#include "platform/main_loop.h"
#include "platform/posix/poll_main_loop.h"

namespace kestrove::platform::x11 {

// The poll loop, with hooks around every work item, timer and runTurn(): the
// start of a turn, from which waits on the display are bounded, and its end,
// where what was read from the display is dropped and the events read
// meanwhile are handed on. Turns may nest; each start restarts the bound.
class TurnLoop : public MainLoop {
 public:
  TurnLoop(PollMainLoop& inner, std::function<void()> startOfTurn, std::function<void()> endOfTurn)
      : inner_(inner), startOfTurn_(std::move(startOfTurn)), endOfTurn_(std::move(endOfTurn)) {}

  void post(Work work) override {
    inner_.post([this, work = std::move(work)] { runTurn(work); });
  }
  void postAfter(std::chrono::nanoseconds delay, Work work) override {
    inner_.postAfter(delay, [this, work = std::move(work)] { runTurn(work); });
  }
  void run() override { inner_.run(); }
  void runTurn(const Work& work) override {
    startOfTurn_();
    work();
    endOfTurn_();
  }

 private:
  PollMainLoop& inner_;
  std::function<void()> startOfTurn_;
  std::function<void()> endOfTurn_;
};

}  // namespace kestrove::platform::x11
