#include "app/stdin_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "app/core.h"
#include "app/line_protocol.h"

namespace kestrove {

void readLines(int fd, const std::function<void(std::string line)>& onLine,
               const std::function<void()>& onEnd) {
  constexpr std::size_t kChunk = 1 << 16;
  std::string pending;
  char buffer[kChunk];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const char* at = buffer;
    const char* end = buffer + got;
    while (at < end) {
      const char* newline =
          static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
      if (newline == nullptr) {
        pending.append(at, end);
        break;
      }
      pending.append(at, newline);
      if (!pending.empty() && pending.back() == '\r') pending.pop_back();
      onLine(std::move(pending));
      pending = std::string();
      at = newline + 1;
    }
  }
  if (!pending.empty()) onLine(std::move(pending));
  onEnd();
}

void startStdinReader(Core& core) {
  std::thread([&core] {
    auto& loop = core.platform.mainLoop();
    readLines(
        0,
        [&](std::string line) {
          loop.post([&core, line = std::move(line)] { handleLine(core, line, true); });
        },
        [&] { loop.post([&core] { core.exit(0); }); });
  }).detach();
}

}  // namespace kestrove
