#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `screens`; arguments are refused by the dispatcher.
JsonObject screensCommand(Core& core);

}  // namespace kestrove
