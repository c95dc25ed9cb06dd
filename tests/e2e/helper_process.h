#pragma once

// Runs a built binary through pipes, as a controlling program would.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::e2e {

using namespace std::chrono_literals;

// Path of the shipped helper and of the sim driver, as built.
std::string helperBinary();
std::string simBinary();
// A world file from tests/e2e/worlds or tests/sim_driver/worlds.
std::string worldPath(const std::string& name);

struct Finished {
  std::vector<std::string> lines;  // stdout, split at line feeds
  std::string output;              // stdout as it came
  std::optional<int> status;       // none when it had to be killed
};

// Runs `argv`, feeds `input` then closes stdin, and waits for the end.
Finished runToEnd(const std::vector<std::string>& argv, const std::string& input = "",
                  std::chrono::milliseconds timeout = 30s);

// A running helper: send lines, read lines as they come.
class HelperProcess {
 public:
  // With `stdoutClosed` the helper starts with nobody reading its stdout.
  explicit HelperProcess(const std::vector<std::string>& argv, bool stdoutClosed = false);
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  void send(const std::string& line);  // a line feed is added
  // Counts what the helper has taken in `sent`, when given.
  void sendRaw(const std::string& bytes, std::atomic<std::size_t>* sent = nullptr);
  void closeInput();
  void closeOutput();  // stop reading: the helper's next write fails
  // The next line, or none when none came in time or stdout ended.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s);
  // Every line that arrives within `window`.
  std::vector<std::string> readFor(std::chrono::milliseconds window);
  // Exit status once it ends; none if it is still running after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout = 10s);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string buffered_;
  bool ended_ = false;
  std::optional<int> status_;
};

}  // namespace kestrove::e2e
