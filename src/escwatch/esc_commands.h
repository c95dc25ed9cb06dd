#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `watch-esc [holdMs]`
JsonObject watchEscCommand(Core& core, const Args& args);
// `unwatch-esc`; arguments are refused by the dispatcher.
JsonObject unwatchEscCommand(Core& core);

}  // namespace kestrove
