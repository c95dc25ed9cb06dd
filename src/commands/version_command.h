#pragma once

#include <string>

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

JsonObject versionCommand(Core& core);
// "major.minor.patch" of the running system.
std::string macosVersion(Core& core);

}  // namespace kestrove
