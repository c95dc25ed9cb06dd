#include "helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace kestrove::e2e {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::optional<int> decodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return std::nullopt;
}

}  // namespace

std::string helperBinary() { return KESTROVE_HELPER_BINARY; }
std::string simBinary() { return KESTROVE_SIM_BINARY; }

std::string worldPath(const std::string& name) {
  for (std::string dir : {std::string(KESTROVE_TESTS_DIR) + "/e2e/worlds/",
                          std::string(KESTROVE_TESTS_DIR) + "/sim_driver/worlds/"}) {
    if (access((dir + name).c_str(), R_OK) == 0) return dir + name;
  }
  throw std::runtime_error("no world file " + name);
}

HelperProcess::HelperProcess(const std::vector<std::string>& argv, bool stdoutClosed) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (stdoutClosed) {
    close(out[0]);
    out[0] = -1;
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  ended_ = stdoutClosed;
  // Writing to a helper that already exited must not kill the test.
  signal(SIGPIPE, SIG_IGN);
}

HelperProcess::~HelperProcess() {
  if (toChild_ >= 0) close(toChild_);
  if (fromChild_ >= 0) close(fromChild_);
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int raw = 0;
    waitpid(pid_, &raw, 0);
  }
}

void HelperProcess::send(const std::string& line) { sendRaw(line + "\n"); }

void HelperProcess::sendRaw(const std::string& bytes, std::atomic<std::size_t>* sent) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = write(toChild_, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += static_cast<std::size_t>(n);
    if (sent) sent->store(at);
  }
}

void HelperProcess::closeInput() {
  if (toChild_ >= 0) close(toChild_);
  toChild_ = -1;
}

void HelperProcess::closeOutput() {
  if (fromChild_ >= 0) close(fromChild_);
  fromChild_ = -1;
  ended_ = true;
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return line;
    }
    if (ended_) return std::nullopt;
    pollfd fd{fromChild_, POLLIN, 0};
    int ready = poll(&fd, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[65536];
    ssize_t n = read(fromChild_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended_ = true;
      continue;
    }
    buffered_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::vector<std::string> HelperProcess::readFor(std::chrono::milliseconds window) {
  std::vector<std::string> lines;
  auto deadline = Clock::now() + window;
  while (Clock::now() < deadline) {
    auto line = readLine(std::chrono::milliseconds(remainingMs(deadline)));
    if (!line) break;
    lines.push_back(*line);
  }
  return lines;
}

std::optional<int> HelperProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  auto deadline = Clock::now() + timeout;
  for (;;) {
    int raw = 0;
    pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = decodeStatus(raw);
      return status_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

Finished runToEnd(const std::vector<std::string>& argv, const std::string& input,
                  std::chrono::milliseconds timeout) {
  HelperProcess process(argv);
  // Feed from a thread so that a large input cannot deadlock against output.
  std::thread feeder([&] {
    process.sendRaw(input);
    process.closeInput();
  });
  Finished finished;
  auto deadline = Clock::now() + timeout;
  while (auto line = process.readLine(std::chrono::milliseconds(remainingMs(deadline)))) {
    finished.output += *line + "\n";
    finished.lines.push_back(std::move(*line));
  }
  finished.status = process.wait(std::chrono::milliseconds(remainingMs(deadline) + 1000));
  if (!finished.status) kill(process.pid(), SIGKILL);
  feeder.join();
  return finished;
}

}  // namespace kestrove::e2e
