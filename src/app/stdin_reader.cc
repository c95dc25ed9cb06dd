#include "app/stdin_reader.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/core.h"
#include "app/line_protocol.h"
#include "app/line_splitter.h"

namespace kestrove {
namespace {

constexpr std::size_t kReadBytes = 1 << 16;
// Reads posted and not yet handled: about half a MiB of input at most.
constexpr int kReadsInFlight = 8;

// A counting semaphore (std::counting_semaphore is unavailable on macOS 12).
class Credits {
 public:
  explicit Credits(int count) : free_(count) {}
  void acquire() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return free_ > 0; });
    --free_;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      ++free_;
    }
    released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  int free_;
};

}  // namespace

void readLines(int fd, std::size_t maxLineBytes, const std::function<void(LineBatch batch)>& onBatch,
               const std::function<void()>& onEnd) {
  LineSplitter splitter(maxLineBytes);
  auto buffer = std::make_unique<char[]>(kReadBytes);
  for (;;) {
#ifdef _WIN32
    long got = _read(fd, buffer.get(), static_cast<unsigned>(kReadBytes));
#else
    ssize_t got = read(fd, buffer.get(), kReadBytes);
#endif
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    LineBatch batch;
    splitter.feed(std::string_view(buffer.get(), static_cast<std::size_t>(got)), batch);
    if (!batch.empty()) onBatch(std::move(batch));
  }
  LineBatch last;
  splitter.finish(last);
  if (!last.empty()) onBatch(std::move(last));
  onEnd();
}

void startStdinReader(Core& core) {
  auto credits = std::make_shared<Credits>(kReadsInFlight);
  std::thread([&core, credits] {
    auto& loop = core.platform.mainLoop();
    readLines(
        0, core.state.maxLineBytes,
        // One work item per read rather than per line: the lines still run one
        // at a time in order, each a turn of its own, and a fast writer costs
        // one wake-up per read.
        [&](LineBatch batch) {
          credits->acquire();
          loop.post([&core, &loop, credits, batch = std::move(batch)] {
            batch.forEach([&](InputLine line) {
              loop.runTurn([&] { handleLine(core, line.text, true, line.overLimit); });
            });
            credits->release();
          });
        },
        [&] { loop.post([&core] { core.exit(0); }); });
  }).detach();
}

}  // namespace kestrove
