#include "windows/enhanced_interface.h"

#include <utility>

#include "windows/element_access.h"

namespace kestrove {

EnhancedInterfacePause::EnhancedInterfacePause(platform::Platform& p, platform::Element app)
    : platform_(p), app_(std::move(app)) {
  if (!readBool(p, app_, kEnhancedUserInterface).value_or(false)) return;
  // The code is not looked at: a write that timed out may still be applied,
  // so the attribute is put back whatever this answered.
  p.setBoolAttributeValue(app_, kEnhancedUserInterface, false);
  turnedOff_ = true;
}

EnhancedInterfacePause::~EnhancedInterfacePause() { restore(); }

void EnhancedInterfacePause::restore() {
  if (!turnedOff_) return;
  turnedOff_ = false;
  platform_.setBoolAttributeValue(app_, kEnhancedUserInterface, true);
}

}  // namespace kestrove
