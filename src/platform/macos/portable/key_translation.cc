#include "platform/macos/portable/key_translation.h"

namespace kestrove::platform::macos {

KeyEvent translateKeyEvent(std::uint16_t keyCode, std::uint64_t eventType, std::uint64_t modifierFlags,
                           const std::function<bool()>& isRepeat) {
  KeyEvent event;
  event.keyCode = keyCode;
  event.isDown = eventType == kEventTypeKeyDown;
  event.isRepeat = event.isDown && isRepeat();
  event.modifierFlags = modifierFlags;
  return event;
}

}  // namespace kestrove::platform::macos
