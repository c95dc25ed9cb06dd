#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// Application terminations on the main queue: every one the shared
// workspace posts, and `pid`'s own, seen by key-value observing its
// running application's `terminated`, since the workspace posts nothing for
// background and LSUIElement applications.
Token addWorkspaceTerminationListener(std::int32_t pid, TerminationCallback callback);
void removeWorkspaceTerminationListener(const Token& token);

}  // namespace kestrove::platform::macos
