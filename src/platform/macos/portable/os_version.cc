#include "platform/macos/portable/os_version.h"

namespace kestrove::platform::macos {

namespace {
constexpr std::int64_t kCompatibilityMajor = 16;
constexpr std::int64_t kRealMajor = 26;
}  // namespace

OsVersion reportedOsVersion(OsVersion fromProcessInfo) {
  if (fromProcessInfo.major == kCompatibilityMajor) fromProcessInfo.major = kRealMajor;
  return fromProcessInfo;
}

}  // namespace kestrove::platform::macos
