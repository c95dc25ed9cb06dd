#pragma once

#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/main_loop.h"
#include "platform/timer_queue.h"

namespace kestrove::platform::win32 {

// The one loop on the main thread: posted work (the stdin reader's
// batches), timers, window messages (the WinEvent and keyboard hooks call
// back while the thread retrieves messages) and waitable handles, all in
// one MsgWaitForMultipleObjectsEx, so that nothing polls.
class Win32MainLoop : public MainLoop {
 public:
  Win32MainLoop();
  ~Win32MainLoop() override;
  Win32MainLoop(const Win32MainLoop&) = delete;
  Win32MainLoop& operator=(const Win32MainLoop&) = delete;

  void post(Work work) override;
  void postAfter(std::chrono::nanoseconds delay, Work work) override;
  void run() override;
  void runFor(std::chrono::nanoseconds duration) override;

  // Main thread only. `onSignalled` runs once when `handle` is signalled,
  // unless unwatched first. False when the wait cannot be added.
  bool watchHandle(HANDLE handle, std::function<void()> onSignalled);
  void unwatchHandle(HANDLE handle);

 private:
  using Clock = std::chrono::steady_clock;

  void runOnce(std::chrono::nanoseconds maxWait);
  void pumpMessages();
  void runPosted();
  void runDueTimers();

  HANDLE wake_ = nullptr;
  std::mutex mutex_;
  std::deque<Work> posted_;
  TimerQueue<Clock::time_point> timers_;
  std::map<HANDLE, std::function<void()>> watched_;
};

}  // namespace kestrove::platform::win32
