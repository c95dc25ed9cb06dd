#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/x11/accessibility_bus.h"

namespace kestrove::platform::x11 {

// Finds the accessibility bus where the toolkits' own client library looks:
// AT_SPI_BUS_ADDRESS in the environment, the root window's AT_SPI_BUS, then
// org.a11y.Bus on the session bus (which may start the bus on demand, and
// then sets no root property).
class AccessibilityBusAddress {
 public:
  // Empty when none can be found before `deadline`. `rootProperty` is the
  // root window's AT_SPI_BUS, empty when it is not set.
  std::string find(const std::string& rootProperty, std::chrono::steady_clock::time_point deadline);
  // The bus found on the session bus did not answer: ask again next time.
  void forget() { fromSession_.reset(); }
  // A session bus that had none is asked again in the next turn.
  void endOfTurn() { askedThisTurn_ = false; }

 private:
  AccessibilityBus session_;
  std::optional<std::string> fromSession_;
  bool askedThisTurn_ = false;
};

// The session bus address as D-Bus clients take it: DBUS_SESSION_BUS_ADDRESS,
// else the user's bus socket in XDG_RUNTIME_DIR; empty when there is neither.
std::string sessionBusAddress();

}  // namespace kestrove::platform::x11
