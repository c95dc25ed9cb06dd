#pragma once

#include <cstdint>
#include <optional>

#include "displays/rect_object.h"
#include "protocol/json_value.h"
#include "windows/element_access.h"

namespace kestrove {

inline JsonObject frameObject(const Frame& f) { return rectObject(f.x, f.y, f.width, f.height); }

// A window number, or null when there is none.
inline JsonValue windowNumberValue(const std::optional<std::int64_t>& number) {
  if (!number) return nullptr;
  return *number;
}

}  // namespace kestrove
