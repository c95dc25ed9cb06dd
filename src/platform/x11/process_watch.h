#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "platform/posix/poll_main_loop.h"

namespace kestrove::platform::x11 {

// Process exits seen through pidfds on the poll loop. kill(pid, 0) would not
// do: it succeeds on a zombie, and the app need not be our child.
class ProcessWatch {
 public:
  using ExitHandler = std::function<void(std::int32_t pid)>;

  ProcessWatch(PollMainLoop& loop, ExitHandler onExit);
  ~ProcessWatch();
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  // Counted: the exit is reported once, and the pidfd closed after the last
  // unwatch. A process already gone is reported on the next turn.
  void watch(std::int32_t pid);
  void unwatch(std::int32_t pid);

  // Whether the process has ended (exited or a zombie) or never existed.
  static bool isGone(std::int32_t pid);

 private:
  struct Watched {
    int fd = -1;
    int count = 0;
  };
  void exited(std::int32_t pid);

  PollMainLoop& loop_;
  ExitHandler onExit_;
  std::map<std::int32_t, Watched> watched_;
};

}  // namespace kestrove::platform::x11
