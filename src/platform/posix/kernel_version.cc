#include "platform/posix/kernel_version.h"

#include <sys/utsname.h>

namespace kestrove::platform {

OsVersion parseKernelRelease(std::string_view release) {
  std::int64_t parts[3] = {0, 0, 0};
  std::size_t at = 0;
  for (auto& part : parts) {
    if (at >= release.size() || release[at] < '0' || release[at] > '9') break;
    while (at < release.size() && release[at] >= '0' && release[at] <= '9') {
      if (part < 100000000) part = part * 10 + (release[at] - '0');
      ++at;
    }
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return OsVersion{parts[0], parts[1], parts[2]};
}

OsVersion kernelVersion() {
  // The running kernel cannot change under us: one uname is enough.
  static const OsVersion version = [] {
    utsname name{};
    if (uname(&name) != 0) return OsVersion{};
    return parseKernelRelease(name.release);
  }();
  return version;
}

}  // namespace kestrove::platform
