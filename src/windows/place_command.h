#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `place <bundleId> x y w h`
JsonObject placeCommand(Core& core, const Args& args);

}  // namespace kestrove
