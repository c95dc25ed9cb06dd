#include "app/stdin_reader.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "app/core.h"
#include "app/line_protocol.h"

namespace kestrove {

void readLineBlocks(int fd, const std::function<void(std::string block)>& onBlock,
                    const std::function<void()>& onEnd) {
  constexpr std::size_t kChunk = 1 << 16;
  std::string pending;  // the start of a line that has not ended yet
  char buffer[kChunk];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(got));
    std::size_t lastNewline = chunk.rfind('\n');
    if (lastNewline == std::string_view::npos) {
      pending.append(chunk);
      continue;
    }
    std::string block = std::move(pending);
    block.append(chunk.substr(0, lastNewline + 1));
    pending.assign(chunk.substr(lastNewline + 1));
    onBlock(std::move(block));
  }
  if (!pending.empty()) onBlock(std::move(pending) + "\n");
  onEnd();
}

void forEachLine(std::string_view block, const std::function<void(std::string_view line)>& onLine) {
  while (!block.empty()) {
    std::size_t newline = block.find('\n');
    std::string_view line = block.substr(0, newline);
    block.remove_prefix(newline == std::string_view::npos ? block.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    onLine(line);
  }
}

void startStdinReader(Core& core) {
  std::thread([&core] {
    auto& loop = core.platform.mainLoop();
    readLineBlocks(
        0,
        // One work item per read rather than per line: the lines still run one
        // at a time in order, each a turn of its own, and a fast writer costs
        // one wake-up per read.
        [&](std::string block) {
          loop.post([&core, &loop, block = std::move(block)] {
            forEachLine(block,
                        [&](std::string_view line) { loop.runTurn([&] { handleLine(core, line, true); }); });
          });
        },
        [&] { loop.post([&core] { core.exit(0); }); });
  }).detach();
}

}  // namespace kestrove
