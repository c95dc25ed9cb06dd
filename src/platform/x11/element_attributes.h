#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/x11/desktop_snapshot.h"
#include "platform/x11/x11_element.h"

namespace kestrove::platform::x11 {

// Attribute reads of the three element kinds, answered from one snapshot in
// the Accessibility shapes: a window's frame is its title bar plus content.
AttributeRead readAttribute(const DesktopSnapshot& snapshot, const Atoms& atoms, const X11Element& element,
                            const std::string& attribute);
SettableRead readSettable(const DesktopSnapshot& snapshot, const Atoms& atoms, const X11Element& element,
                          const std::string& attribute);

}  // namespace kestrove::platform::x11
