#pragma once

// How values read through Accessibility are put into the seam's shapes.

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// A list read from an attribute: the elements when every one of its `count`
// entries was an element (so an empty list is an empty element list);
// otherwise a list the core never takes for elements.
Value listValue(std::vector<Element> elements, std::size_t count);

// An AXValue of platform type `type`. For a point or a size, `pair` holds the
// two doubles when they could be got out; when they could not, the value is
// reported with the illegal type 0 so that nobody reads zeros as a real
// point. Other types (rect, range, error) keep their type and carry no doubles.
AxValue axValue(int type, std::optional<std::pair<double, double>> pair);

}  // namespace kestrove::platform::macos
