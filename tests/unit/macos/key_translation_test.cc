#include "platform/macos/portable/key_translation.h"

#include <gtest/gtest.h>

namespace kestrove::platform::macos {
namespace {

TEST(MacKeyTranslation, KeyDownAsksForRepeatAndKeepsEverything) {
  int asked = 0;
  const std::uint64_t flags = modifier::kCommand | modifier::kOption | 0x108;  // device bits stay too
  KeyEvent event = translateKeyEvent(53, kEventTypeKeyDown, flags, [&] {
    ++asked;
    return true;
  });
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(event.keyCode, 53);
  EXPECT_TRUE(event.isDown);
  EXPECT_TRUE(event.isRepeat);
  EXPECT_EQ(event.modifierFlags, flags);

  event = translateKeyEvent(53, kEventTypeKeyDown, 0, [] { return false; });
  EXPECT_TRUE(event.isDown);
  EXPECT_FALSE(event.isRepeat);
}

TEST(MacKeyTranslation, AnythingButKeyDownIsAKeyUpAndIsNeverAskedForRepeat) {
  // 11 is a key-up; 12 (flags changed) and 1 (mouse down) must not be taken for key-downs.
  for (std::uint64_t type : {11u, 12u, 1u, 0u}) {
    bool asked = false;
    KeyEvent event = translateKeyEvent(53, type, modifier::kShift, [&] {
      asked = true;
      return true;
    });
    EXPECT_FALSE(asked) << type;
    EXPECT_FALSE(event.isDown) << type;
    EXPECT_FALSE(event.isRepeat) << type;
    EXPECT_EQ(event.modifierFlags, modifier::kShift) << type;
  }
}

}  // namespace
}  // namespace kestrove::platform::macos
