// Request-to-reply round trip in loop mode, one line in flight at a time.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s HELPER [ROUNDS]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 20000;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return 1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    execl(argv[1], argv[1], static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(rounds));
  char buffer[4096];
  for (int i = 0; i < rounds; ++i) {
    std::string line = "#" + std::to_string(i) + " version\n";
    auto start = std::chrono::steady_clock::now();
    if (write(in[1], line.data(), line.size()) < 0) return 1;
    for (;;) {  // one reply line
      ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) return 1;
      if (buffer[n - 1] == '\n') break;
    }
    auto end = std::chrono::steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[static_cast<std::size_t>(q * (micros.size() - 1))]; };
  std::printf("round trip over %d requests: p50 %.1f us, p99 %.1f us, max %.1f us\n", rounds, at(0.5),
              at(0.99), micros.back());
  return 0;
}
