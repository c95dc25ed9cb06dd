#include "platform/win32/win32_main_loop.h"

#include <cstdlib>
#include <vector>

namespace kestrove::platform::win32 {

Win32MainLoop::Win32MainLoop() {
  // Auto-reset: one wake per wait; the loop takes the whole queue at once.
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wake_) std::abort();
}

Win32MainLoop::~Win32MainLoop() { CloseHandle(wake_); }

void Win32MainLoop::post(Work work) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
  }
  SetEvent(wake_);
}

void Win32MainLoop::postAfter(std::chrono::nanoseconds delay, Work work) {
  if (delay < std::chrono::nanoseconds::zero()) delay = std::chrono::nanoseconds::zero();
  timers_.push(Clock::now() + delay, std::move(work));
}

bool Win32MainLoop::watchHandle(HANDLE handle, std::function<void()> onSignalled) {
  // One slot is the wake event's.
  if (watched_.size() + 1 >= MAXIMUM_WAIT_OBJECTS) return false;
  watched_[handle] = std::move(onSignalled);
  return true;
}

void Win32MainLoop::unwatchHandle(HANDLE handle) { watched_.erase(handle); }

void Win32MainLoop::run() {
  for (;;) runOnce(std::chrono::nanoseconds::max());
}

void Win32MainLoop::runFor(std::chrono::nanoseconds duration) {
  const auto end = Clock::now() + duration;
  for (auto left = duration; left > std::chrono::nanoseconds::zero(); left = end - Clock::now())
    runOnce(left);
}

void Win32MainLoop::runOnce(std::chrono::nanoseconds maxWait) {
  auto wait = maxWait;
  if (!timers_.empty()) wait = std::min(wait, std::chrono::nanoseconds(timers_.nextDue() - Clock::now()));
  DWORD timeout = INFINITE;
  if (wait != std::chrono::nanoseconds::max()) {
    // Rounded up, so that a timer is never found not yet due on waking.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(wait, std::chrono::nanoseconds::zero()))
                  .count();
    timeout = ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
  }
  std::vector<HANDLE> handles{wake_};
  for (const auto& [handle, callback] : watched_) handles.push_back(handle);
  DWORD woke = MsgWaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(), timeout,
                                           QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (woke > WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + handles.size()) {
    auto it = watched_.find(handles[woke - WAIT_OBJECT_0]);
    if (it != watched_.end()) {
      auto callback = std::move(it->second);
      watched_.erase(it);
      callback();
    }
  }
  pumpMessages();
  runPosted();
  runDueTimers();
}

void Win32MainLoop::pumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32MainLoop::runPosted() {
  std::deque<Work> work;
  {
    std::lock_guard lock(mutex_);
    work.swap(posted_);
  }
  for (auto& item : work) item();
}

void Win32MainLoop::runDueTimers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.nextDue() <= now) timers_.pop()();
}

}  // namespace kestrove::platform::win32
