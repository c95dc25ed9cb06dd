#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/x11/accessibility_reader.h"
#include "platform/x11/desktop_snapshot.h"
#include "platform/x11/x11_element.h"

namespace kestrove::platform::x11 {

// What attribute reads are answered from: one snapshot of the desktop, and
// the accessibility trees of windows that draw their own decorations.
struct ElementContext {
  const DesktopSnapshot& snapshot;
  const Atoms& atoms;
  AccessibilityReader& accessibility;
};

// Attribute reads of the element kinds in the Accessibility shapes: a
// window's frame is its title bar plus content.
AttributeRead readAttribute(ElementContext& context, const X11Element& element, const std::string& attribute);
SettableRead readSettable(const DesktopSnapshot& snapshot, const Atoms& atoms, const X11Element& element,
                          const std::string& attribute);

}  // namespace kestrove::platform::x11
