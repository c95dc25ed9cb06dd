#pragma once

#include <optional>

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// The window object of one window, or none when its frame cannot be read.
std::optional<JsonObject> describeWindow(Core& core, const platform::Element& window);

}  // namespace kestrove
