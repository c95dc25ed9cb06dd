#pragma once

#include "protocol/json_value.h"

namespace kestrove {

// The one JSON shape of every rectangle: four doubles, never rounded.
inline JsonObject rectObject(double x, double y, double width, double height) {
  return JsonObject{{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

}  // namespace kestrove
