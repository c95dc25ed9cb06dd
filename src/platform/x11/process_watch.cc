#include "platform/x11/process_watch.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kestrove::platform::x11 {
namespace {

int openPidfd(std::int32_t pid) {
  if (pid <= 0) {
    errno = ESRCH;
    return -1;
  }
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, 0) > 0;
}

}  // namespace

ProcessWatch::ProcessWatch(PollMainLoop& loop, ExitHandler onExit)
    : loop_(loop), onExit_(std::move(onExit)) {}

ProcessWatch::~ProcessWatch() {
  for (auto& [pid, entry] : watched_) {
    if (entry.fd < 0) continue;
    loop_.unwatchFd(entry.fd);
    close(entry.fd);
  }
}

bool ProcessWatch::isGone(std::int32_t pid) {
  int fd = openPidfd(pid);
  if (fd < 0) return errno == ESRCH;
  bool gone = readable(fd);
  close(fd);
  return gone;
}

void ProcessWatch::watch(std::int32_t pid) {
  auto& entry = watched_[pid];
  if (entry.count++ > 0) return;
  entry.fd = openPidfd(pid);
  if (entry.fd < 0) {
    loop_.post([this, pid] { exited(pid); });
    return;
  }
  loop_.watchFd(entry.fd, [this, pid] { exited(pid); });
}

void ProcessWatch::unwatch(std::int32_t pid) {
  auto found = watched_.find(pid);
  if (found == watched_.end() || --found->second.count > 0) return;
  if (found->second.fd >= 0) {
    loop_.unwatchFd(found->second.fd);
    close(found->second.fd);
  }
  watched_.erase(found);
}

void ProcessWatch::exited(std::int32_t pid) {
  auto found = watched_.find(pid);
  if (found == watched_.end() || found->second.fd == -2) return;
  if (found->second.fd >= 0) {
    loop_.unwatchFd(found->second.fd);
    close(found->second.fd);
  }
  // Kept, marked reported, until the last unwatch.
  found->second.fd = -2;
  onExit_(pid);
}

}  // namespace kestrove::platform::x11
