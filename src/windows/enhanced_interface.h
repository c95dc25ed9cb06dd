#pragma once

// Assistive applications (VoiceOver, screen readers, some automation tools)
// set AXEnhancedUserInterface on the applications they serve, and while it is
// on, some of those (Chromium, Electron, Firefox) animate frame changes: a
// write returns before the window has moved, and a read-back sees it on its
// way. A placement turns it off for its writes and read-backs and puts it
// back afterwards.

#include "platform/platform.h"
#include "windows/hung_app_gate.h"

namespace kestrove {

inline constexpr char kEnhancedUserInterface[] = "AXEnhancedUserInterface";

class EnhancedInterfacePause {
 public:
  // Turns the attribute off on `app` when it reads true; otherwise (false,
  // unreadable, unsupported) does nothing, now or later.
  EnhancedInterfacePause(HungAppGate& gate, platform::Element app);
  // Puts it back unless restore() already did: a placement that fails
  // leaves the application as it found it too.
  ~EnhancedInterfacePause();
  EnhancedInterfacePause(const EnhancedInterfacePause&) = delete;
  EnhancedInterfacePause& operator=(const EnhancedInterfacePause&) = delete;

  // Goes out even when the application stopped answering meanwhile (one
  // more timeout at most): the calls that timed out may still be carried
  // out once it recovers, the turning off among them, and the user's
  // assistive application must not be left without the attribute.
  void restore();

 private:
  HungAppGate& gate_;
  platform::Element app_;
  bool turnedOff_ = false;
};

}  // namespace kestrove
