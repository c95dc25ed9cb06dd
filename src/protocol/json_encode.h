#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "protocol/json_value.h"

namespace kestrove {

// Appends `object` to `out` as one compact JSON text, keys of every object in
// ascending order. Returns false, leaving `out` unspecified, when the object
// cannot be encoded: a non-finite number or a string that is not UTF-8.
bool encodeJson(const JsonObject& object, std::string& out);

// The same for `base` with the entries of `overrides` added, each replacing
// an entry of `base` with its key: a reply's envelope over its payload,
// without building the merged object.
bool encodeJsonMerged(const JsonObject& base, const JsonObject& overrides, std::string& out);

// The writer's path: `base` with `overrides` and a line feed, written from
// the start of `buffer`, which grows as needed and is scratch past the
// length returned. None when it cannot be encoded.
std::optional<std::size_t> encodeJsonLine(const JsonObject& base, const JsonObject& overrides,
                                          std::string& buffer);

}  // namespace kestrove
