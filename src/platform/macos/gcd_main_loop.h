#pragma once

#include "platform/main_loop.h"

namespace kestrove::platform::macos {

// The main dispatch queue for work and timers, serviced by the application's
// run loop, which also delivers Accessibility and workspace notifications and
// key events on the main thread.
class GcdMainLoop final : public MainLoop {
 public:
  void post(Work work) override;
  void postAfter(std::chrono::nanoseconds delay, Work work) override;
  void run() override;
  void runFor(std::chrono::nanoseconds duration) override;
};

}  // namespace kestrove::platform::macos
