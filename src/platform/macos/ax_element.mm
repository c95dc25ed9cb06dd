#include "platform/macos/ax_element.h"

namespace kestrove::platform::macos {

bool AxElement::equals(const ElementRef& other) const {
  const auto* theirs = dynamic_cast<const AxElement*>(&other);
  return theirs != nullptr && CFEqual(ref_.get(), theirs->ref_.get());
}

std::optional<std::int32_t> AxElement::processId() const {
  pid_t pid = 0;
  if (AXUIElementGetPid(ref_.get(), &pid) != kAXErrorSuccess) return std::nullopt;
  return static_cast<std::int32_t>(pid);
}

Element wrapElement(CfRef<AXUIElementRef> ref) {
  if (!ref) return nullptr;
  return std::make_shared<const AxElement>(std::move(ref));
}

AXUIElementRef axElementOf(const Element& element) {
  const auto* ours = dynamic_cast<const AxElement*>(element.get());
  return ours != nullptr ? ours->get() : nullptr;
}

}  // namespace kestrove::platform::macos
