#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

namespace kestrove::platform::macos {

class AxElement final : public ElementRef {
 public:
  explicit AxElement(CfRef<AXUIElementRef> ref) : ref_(std::move(ref)) {}
  bool equals(const ElementRef& other) const override;
  // AXUIElementGetPid: read from the element, no message to its application.
  std::optional<std::int32_t> processId() const override;
  AXUIElementRef get() const { return ref_.get(); }

 private:
  CfRef<AXUIElementRef> ref_;
};

// Null for a null reference.
Element wrapElement(CfRef<AXUIElementRef> ref);
// The Accessibility element behind `element`; null when it is none of ours.
AXUIElementRef axElementOf(const Element& element);

}  // namespace kestrove::platform::macos
