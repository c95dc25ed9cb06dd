#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kestrove::platform {

// The one thread that runs commands, notifications, timers and writes.
class MainLoop {
 public:
  using Work = std::function<void()>;

  virtual ~MainLoop() = default;
  // Thread-safe. Work items run one at a time, in the order they were posted.
  virtual void post(Work work) = 0;
  // Main thread only. Runs `work` once, no earlier than `delay` from now.
  virtual void postAfter(std::chrono::nanoseconds delay, Work work) = 0;
  // Runs posted work, timers and platform events until the process exits.
  virtual void run() = 0;
  // Main thread only. Serves the loop for about `duration`, then returns, so
  // that one-shot mode can give the platform time to carry out something it
  // was asked to do asynchronously. A loop with nothing to serve outside
  // run() may simply wait, as this default does.
  virtual void runFor(std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); }
  // Main thread only. Runs `work` at once, as its own turn of the loop, as if
  // it had been posted: one command of a work item that carries several (the
  // lines of one read), or the command of one-shot mode, which has no loop.
  virtual void runTurn(const Work& work) { work(); }
};

}  // namespace kestrove::platform
