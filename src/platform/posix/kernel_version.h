#pragma once

#include <string_view>

#include "platform/platform.h"

namespace kestrove::platform {

// The first three numbers of a kernel release such as "6.1.0-18-amd64";
// missing numbers are 0.
OsVersion parseKernelRelease(std::string_view release);
// The running kernel's release, parsed.
OsVersion kernelVersion();

}  // namespace kestrove::platform
