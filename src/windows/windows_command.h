#pragma once

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// `windows <bundleId>`
JsonObject windowsCommand(Core& core, const Args& args);

}  // namespace kestrove
