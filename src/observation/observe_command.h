#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `observe <bundleId>`
JsonObject observeCommand(Core& core, const Args& args);
// Tears down the active observation, if any, and leaves none active.
void endActiveObservation(Core& core);

}  // namespace kestrove
