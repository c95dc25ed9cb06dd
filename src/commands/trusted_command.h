#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `trusted [prompt]`
JsonObject trustedCommand(Core& core, const Args& args);
// Raises "ax_denied" when the process is not trusted.
void requireTrusted(Core& core);

}  // namespace kestrove
