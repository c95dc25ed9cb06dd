#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <set>

#include "platform/platform.h"
#include "platform/x11/connection.h"

namespace kestrove::platform::x11 {

// The global Escape monitor: XInput 2.2 raw key events on the root, which
// arrive whatever window has the keyboard and carry no auto-repeat, with the
// modifiers taken from the XKB state.
class KeyWatch {
 public:
  explicit KeyWatch(Connection& connection) : connection_(connection) {}

  // Null when the display or XInput 2.2 is missing.
  Token add(KeyCallback callback);
  void remove(const Token& token);
  // True when the event was a raw key event (delivered or not).
  bool handle(const xcb_generic_event_t& event);
  void connectionLost();
  // Monitors outlive a lost display: select the events again on a new one.
  void connected();

 private:
  bool select(xcb_connection_t* c, bool on);
  std::uint64_t modifierFlags(xcb_connection_t* c);

  Connection& connection_;
  std::map<std::uint64_t, KeyCallback> callbacks_;
  std::uint64_t nextId_ = 1;
  std::uint64_t selectedGeneration_ = 0;
  std::set<std::uint32_t> escapeKeycodes_;
};

}  // namespace kestrove::platform::x11
