#pragma once

#include <chrono>

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// How long one-shot mode keeps the main loop turning after asking for the
// trust prompt: the request reaches the system asynchronously and is lost
// if the process ends at once.
inline constexpr std::chrono::milliseconds kTrustPromptDelivery{500};

// Whether Accessibility is open to the process: the platform's flag, and
// when it says no, one real call that needs trust. Seeing trust puts a key
// monitor installed before it in again.
bool checkTrusted(Core& core);
// `trusted [prompt]`
JsonObject trustedCommand(Core& core, const Args& args);
// Raises "ax_denied" when the process is not trusted.
void requireTrusted(Core& core);

}  // namespace kestrove
