#include "windows/hung_app_gate.h"

#include <algorithm>

namespace kestrove {

namespace ax = platform::ax;

HungAppGate::AppKey HungAppGate::appOf(const platform::Element& element) {
  return element ? element->processId() : std::nullopt;
}

bool HungAppGate::isUnresponsive(const platform::Element& element) const {
  return std::find(unresponsive_.begin(), unresponsive_.end(), appOf(element)) != unresponsive_.end();
}

std::int32_t HungAppGate::note(const platform::Element& element, std::int32_t code) {
  if (code == ax::kCannotComplete && !isUnresponsive(element)) unresponsive_.push_back(appOf(element));
  return code;
}

platform::AttributeRead HungAppGate::copyAttributeValue(const platform::Element& element,
                                                        const std::string& attribute) {
  if (isUnresponsive(element)) return platform::AttributeRead{ax::kCannotComplete, std::nullopt};
  platform::AttributeRead read = backend_.copyAttributeValue(element, attribute);
  note(element, read.code);
  return read;
}

platform::SettableRead HungAppGate::isAttributeSettable(const platform::Element& element,
                                                        const std::string& attribute) {
  if (isUnresponsive(element)) return platform::SettableRead{ax::kCannotComplete, false};
  platform::SettableRead read = backend_.isAttributeSettable(element, attribute);
  note(element, read.code);
  return read;
}

std::int32_t HungAppGate::setAttributeValue(const platform::Element& element, const std::string& attribute,
                                            const platform::AxValue& value) {
  if (isUnresponsive(element)) return ax::kCannotComplete;
  return note(element, backend_.setAttributeValue(element, attribute, value));
}

std::int32_t HungAppGate::setBoolAttributeValue(const platform::Element& element,
                                                const std::string& attribute, bool value) {
  if (isUnresponsive(element)) return ax::kCannotComplete;
  return note(element, backend_.setBoolAttributeValue(element, attribute, value));
}

platform::WindowNumberRead HungAppGate::windowNumber(const platform::Element& window) {
  if (isUnresponsive(window)) return platform::WindowNumberRead{ax::kCannotComplete, 0};
  platform::WindowNumberRead read = backend_.windowNumber(window);
  note(window, read.code);
  return read;
}

std::int32_t HungAppGate::addNotification(const platform::Observer& observer,
                                          const platform::Element& element, const std::string& notification,
                                          const void* context) {
  if (isUnresponsive(element)) return ax::kCannotComplete;
  return note(element, backend_.addNotification(observer, element, notification, context));
}

// Skipped for an application that stopped answering: the registrations go
// with the observer, which is detached before it is released, and nothing
// it still delivers reaches the core.
void HungAppGate::removeNotification(const platform::Observer& observer, const platform::Element& element,
                                     const std::string& notification) {
  if (isUnresponsive(element)) return;
  backend_.removeNotification(observer, element, notification);
}

}  // namespace kestrove
