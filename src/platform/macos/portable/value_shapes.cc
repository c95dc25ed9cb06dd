#include "platform/macos/portable/value_shapes.h"

namespace kestrove::platform::macos {

Value listValue(std::vector<Element> elements, std::size_t count) {
  if (elements.size() != count) return NonElementList{};
  return elements;
}

AxValue axValue(int type, std::optional<std::pair<double, double>> pair) {
  bool pointOrSize =
      type == static_cast<int>(AxValueType::Point) || type == static_cast<int>(AxValueType::Size);
  if (!pointOrSize) return AxValue{type, 0, 0};
  if (!pair) return AxValue{0, 0, 0};
  return AxValue{type, pair->first, pair->second};
}

}  // namespace kestrove::platform::macos
