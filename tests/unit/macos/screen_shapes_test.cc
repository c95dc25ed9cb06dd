#include "platform/macos/portable/screen_shapes.h"

#include <gtest/gtest.h>

#include <limits>

namespace kestrove::platform::macos {
namespace {

TEST(MacScreenShapes, ScreenNumberOnlyFromANumberAndKeptWhole) {
  using Kind = ScreenNumberEntry::Kind;
  struct Case {
    ScreenNumberEntry entry;
    std::optional<std::int64_t> expected;
  };
  const Case cases[] = {
      {{Kind::Missing, 0}, std::nullopt},
      {{Kind::Other, 7}, std::nullopt},
      {{Kind::Number, 0}, 0},
      {{Kind::Number, 1}, 1},
      // Display ids are 32-bit unsigned; nothing may cut them to an int.
      {{Kind::Number, 4294967295}, 4294967295},
      {{Kind::Number, std::numeric_limits<std::int64_t>::min()}, std::numeric_limits<std::int64_t>::min()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(makeScreen({}, {}, c.entry, 1).number, c.expected) << static_cast<int>(c.entry.kind);
  }
}

TEST(MacScreenShapes, RectanglesAndScaleArePassedThroughUntouched) {
  // Bottom-left coordinates, fractions and a negative origin stay as they are: the core converts.
  const Rect frame{1440, -180, 1920, 982.5};
  const Rect visible{1440, -180, 1920, 957.25};
  Screen screen = makeScreen(frame, visible, {ScreenNumberEntry::Kind::Number, 2}, 2.0);
  EXPECT_EQ(screen.frame.x, 1440);
  EXPECT_EQ(screen.frame.y, -180);
  EXPECT_EQ(screen.frame.width, 1920);
  EXPECT_EQ(screen.frame.height, 982.5);
  EXPECT_EQ(screen.visibleFrame.height, 957.25);
  EXPECT_EQ(screen.scale, 2.0);
}

}  // namespace
}  // namespace kestrove::platform::macos
