#include "windows/enhanced_interface.h"

#include <utility>

#include "windows/element_access.h"

namespace kestrove {

EnhancedInterfacePause::EnhancedInterfacePause(HungAppGate& gate, platform::Element app)
    : gate_(gate), app_(std::move(app)) {
  if (!readBool(gate, app_, kEnhancedUserInterface).value_or(false)) return;
  // The code is not looked at: a write that timed out may still be applied,
  // so the attribute is put back whatever this answered.
  gate.setBoolAttributeValue(app_, kEnhancedUserInterface, false);
  turnedOff_ = true;
}

EnhancedInterfacePause::~EnhancedInterfacePause() { restore(); }

void EnhancedInterfacePause::restore() {
  if (!turnedOff_) return;
  turnedOff_ = false;
  platform::Platform& via = gate_.isUnresponsive(app_) ? gate_.backend() : gate_;
  via.setBoolAttributeValue(app_, kEnhancedUserInterface, true);
}

}  // namespace kestrove
