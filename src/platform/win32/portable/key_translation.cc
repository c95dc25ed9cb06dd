#include "platform/win32/portable/key_translation.h"

namespace kestrove::platform::win32 {

std::uint16_t keyCodeFor(std::uint32_t virtualKey) {
  constexpr std::uint16_t kEscape = 53;
  constexpr std::uint16_t kAboveMacCodes = 0x100;
  if (virtualKey == kVirtualKeyEscape) return kEscape;
  return static_cast<std::uint16_t>(kAboveMacCodes + (virtualKey & 0xFF));
}

KeyEvent KeyTranslation::translate(const LowLevelKey& key) {
  KeyEvent event;
  event.keyCode = keyCodeFor(key.virtualKey);
  event.isDown = key.down;
  if (key.down) {
    event.isRepeat = !down_.insert(key.virtualKey).second;
  } else {
    down_.erase(key.virtualKey);
  }
  return event;
}

}  // namespace kestrove::platform::win32
