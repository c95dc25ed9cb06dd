#pragma once

// A global key monitor installed while the process is untrusted may stay
// deaf after the user grants trust. Such a monitor is installed again as
// soon as trust is seen: by any trust check a command makes, or by a
// recheck that runs only while such a monitor exists.

#include <chrono>

#include "app/core.h"

namespace kestrove {

inline constexpr std::chrono::seconds kTrustRecheckInterval{1};

// Installs the monitor (null when the platform gives none).
platform::Token installKeyMonitor(Core& core);
// The monitor was just installed, `trusted` being what the check said.
void keyMonitorInstalled(Core& core, bool trusted);
// Trust was seen: a monitor installed before it is put in again.
void onTrustSeen(Core& core);
// The watch ends: no monitor is pending trust any more.
void stopTrustRecheck(Core& core);

}  // namespace kestrove
