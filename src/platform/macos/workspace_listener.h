#pragma once

#include "platform/platform.h"

namespace kestrove::platform::macos {

// Application terminations from the shared workspace, on the main queue.
Token addWorkspaceTerminationListener(TerminationCallback callback);
void removeWorkspaceTerminationListener(const Token& token);

}  // namespace kestrove::platform::macos
