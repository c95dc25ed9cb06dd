#pragma once

// Attribute reading and writing over Accessibility, in the seam's shapes.

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <string>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// CFString, CFNumber, CFBoolean, AXValue, CFArray, or anything else.
Value seamValue(CFTypeRef value);

AttributeRead copyAttribute(const Element& element, const std::string& attribute);
SettableRead attributeSettable(const Element& element, const std::string& attribute);
std::optional<AxValue> createAxValue(AxValueType type, double first, double second);
std::int32_t setAttribute(const Element& element, const std::string& attribute, const AxValue& value);
std::int32_t setBoolAttribute(const Element& element, const std::string& attribute, bool value);

}  // namespace kestrove::platform::macos
