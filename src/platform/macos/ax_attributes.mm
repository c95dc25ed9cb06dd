#include "platform/macos/ax_attributes.h"

#include <utility>
#include <vector>

#include "platform/macos/ax_element.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_string.h"
#include "platform/macos/portable/value_shapes.h"

namespace kestrove::platform::macos {
namespace {

std::optional<std::pair<double, double>> pairOf(AXValueRef value, AXValueType type) {
  if (type == kAXValueTypeCGPoint) {
    CGPoint point{};
    if (!AXValueGetValue(value, type, &point)) return std::nullopt;
    return std::pair{static_cast<double>(point.x), static_cast<double>(point.y)};
  }
  if (type == kAXValueTypeCGSize) {
    CGSize size{};
    if (!AXValueGetValue(value, type, &size)) return std::nullopt;
    return std::pair{static_cast<double>(size.width), static_cast<double>(size.height)};
  }
  return std::nullopt;
}

Value listOf(CFArrayRef array) {
  const CFIndex count = CFArrayGetCount(array);
  std::vector<Element> elements;
  elements.reserve(static_cast<std::size_t>(count));
  for (CFIndex i = 0; i < count; ++i) {
    CFTypeRef entry = CFArrayGetValueAtIndex(array, i);
    if (entry == nullptr || CFGetTypeID(entry) != AXUIElementGetTypeID()) break;
    elements.push_back(wrapElement(CfRef<AXUIElementRef>::retain(static_cast<AXUIElementRef>(entry))));
  }
  return listValue(std::move(elements), static_cast<std::size_t>(count));
}

// The one AXValue a point or size write needs; null when it cannot be made.
CfRef<AXValueRef> makeAxValue(int type, double first, double second) {
  if (type == static_cast<int>(AxValueType::Point)) {
    const CGPoint point = CGPointMake(first, second);
    return CfRef<AXValueRef>::adopt(AXValueCreate(kAXValueTypeCGPoint, &point));
  }
  if (type == static_cast<int>(AxValueType::Size)) {
    const CGSize size = CGSizeMake(first, second);
    return CfRef<AXValueRef>::adopt(AXValueCreate(kAXValueTypeCGSize, &size));
  }
  return {};
}

}  // namespace

Value seamValue(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) return toStdString(static_cast<CFStringRef>(value));
  if (type == CFBooleanGetTypeID())
    return Number{CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1.0 : 0.0};
  if (type == CFNumberGetTypeID()) {
    // A lossy conversion still fills in the nearest double, which is wanted.
    double number = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
    return Number{number};
  }
  if (type == AXValueGetTypeID()) {
    auto axValueRef = static_cast<AXValueRef>(value);
    const AXValueType valueType = AXValueGetType(axValueRef);
    return axValue(static_cast<int>(valueType), pairOf(axValueRef, valueType));
  }
  if (type == CFArrayGetTypeID()) return listOf(static_cast<CFArrayRef>(value));
  return OtherValue{};
}

AttributeRead copyAttribute(const Element& element, const std::string& attribute) {
  AXUIElementRef ax = axElementOf(element);
  CfRef<CFStringRef> name = makeCfString(attribute);
  if (ax == nullptr || !name) return AttributeRead{kAXErrorIllegalArgument, std::nullopt};
  CFTypeRef raw = nullptr;
  const AXError code = AXUIElementCopyAttributeValue(ax, name.get(), &raw);
  auto value = CfRef<CFTypeRef>::adopt(raw);
  AttributeRead read;
  read.code = static_cast<std::int32_t>(code);
  if (value) read.value = seamValue(value.get());
  return read;
}

SettableRead attributeSettable(const Element& element, const std::string& attribute) {
  AXUIElementRef ax = axElementOf(element);
  CfRef<CFStringRef> name = makeCfString(attribute);
  if (ax == nullptr || !name) return SettableRead{kAXErrorIllegalArgument, false};
  Boolean settable = false;
  const AXError code = AXUIElementIsAttributeSettable(ax, name.get(), &settable);
  return SettableRead{static_cast<std::int32_t>(code), settable != 0};
}

std::optional<AxValue> createAxValue(AxValueType type, double first, double second) {
  if (!makeAxValue(static_cast<int>(type), first, second)) return std::nullopt;
  return AxValue{static_cast<int>(type), first, second};
}

std::int32_t setAttribute(const Element& element, const std::string& attribute, const AxValue& value) {
  AXUIElementRef ax = axElementOf(element);
  CfRef<CFStringRef> name = makeCfString(attribute);
  CfRef<AXValueRef> boxed = makeAxValue(value.type, value.first, value.second);
  if (ax == nullptr || !name || !boxed) return kAXErrorIllegalArgument;
  return static_cast<std::int32_t>(AXUIElementSetAttributeValue(ax, name.get(), boxed.get()));
}

std::int32_t setBoolAttribute(const Element& element, const std::string& attribute, bool value) {
  AXUIElementRef ax = axElementOf(element);
  CfRef<CFStringRef> name = makeCfString(attribute);
  if (ax == nullptr || !name) return kAXErrorIllegalArgument;
  return static_cast<std::int32_t>(
      AXUIElementSetAttributeValue(ax, name.get(), value ? kCFBooleanTrue : kCFBooleanFalse));
}

}  // namespace kestrove::platform::macos
