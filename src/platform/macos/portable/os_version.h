#pragma once

#include "platform/platform.h"

namespace kestrove::platform::macos {

// The version to report for what NSProcessInfo says. macOS 26 tells a binary
// linked against an older SDK that it is 16 (as macOS 11 said 10.16); there
// is no macOS 16 to 25, so a major of 16 is 26, minor and patch kept.
OsVersion reportedOsVersion(OsVersion fromProcessInfo);

}  // namespace kestrove::platform::macos
