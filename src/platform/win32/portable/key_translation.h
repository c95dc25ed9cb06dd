#pragma once

#include <cstdint>
#include <set>

#include "platform/platform.h"
#include "platform/win32/portable/win32_api.h"

namespace kestrove::platform::win32 {

// Low-level key notices as key events. The hook flags no repeats: a key
// that goes down again while it is down is an auto-repeat.
class KeyTranslation {
 public:
  KeyEvent translate(const LowLevelKey& key);

 private:
  std::set<std::uint32_t> down_;
};

// Escape is 53 on every backend; other keys keep their virtual key above the
// range of Mac key codes, so that none reads as Escape.
std::uint16_t keyCodeFor(std::uint32_t virtualKey);

}  // namespace kestrove::platform::win32
