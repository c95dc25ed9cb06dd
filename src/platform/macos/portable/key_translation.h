#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace kestrove::platform::macos {

// NSEventTypeKeyDown.
inline constexpr std::uint64_t kEventTypeKeyDown = 10;

// A key event as the core wants it. `isRepeat` is asked of key-downs only:
// a key-up has nothing to repeat, and AppKit raises when any event that is
// not a key event is asked.
KeyEvent translateKeyEvent(std::uint16_t keyCode, std::uint64_t eventType, std::uint64_t modifierFlags,
                           const std::function<bool()>& isRepeat);

}  // namespace kestrove::platform::macos
