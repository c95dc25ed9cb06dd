#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows/place_command.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

constexpr std::int64_t kTimedOut = platform::ax::kCannotComplete;
constexpr std::int64_t kRefused = platform::ax::kAttributeUnsupported;

// A write the platform could not see take effect in time: its code in the
// reply is the timeout's, the frame read back stays the reply's frame, and a
// write that failed on its own keeps its code.
class PlaceUnconfirmedTest : public StreamWindowFixture {
 protected:
  JsonObject place() { return placeCommand(core, {kBundle, "100", "100", "800", "600"}); }
};

TEST_F(PlaceUnconfirmedTest, WritesNotSeenToTakeEffectReadAsTimedOut) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> confirmations;
    bool failPosition;
    std::vector<std::int64_t> expected;
  };
  const Case cases[] = {
      {"confirmed", {}, false, {0, 0, 0}},
      {"time ran out", {platform::ax::kCannotComplete}, false, {kTimedOut, kTimedOut, kTimedOut}},
      {"a failed write keeps its code",
       {platform::ax::kCannotComplete},
       true,
       {kTimedOut, kRefused, kTimedOut}},
  };
  for (const Case& c : cases) {
    sim.confirmations = c.confirmations;
    sim.confirmCalls = 0;
    if (c.failPosition) sim.failWrite(window, "AXPosition", platform::ax::kAttributeUnsupported);
    JsonObject reply = place();
    EXPECT_EQ(axErrorsOf(reply), c.expected) << c.name;
    EXPECT_EQ(sim.confirmCalls, c.confirmations.size()) << c.name;
    EXPECT_EQ(reply.at("titlebarSource"), JsonValue("ax_content")) << c.name;
  }
}

TEST_F(PlaceUnconfirmedTest, OnlyTheRoundThatTimedOutIsMarked) {
  // The title bar changes at the target, so the frame is written twice.
  sim.window(id).titlebarAfterMove = 0;
  sim.confirmations = {platform::ax::kSuccess, platform::ax::kCannotComplete};
  JsonObject reply = place();
  EXPECT_EQ(axErrorsOf(reply), (std::vector<std::int64_t>{0, 0, 0, kTimedOut, kTimedOut, kTimedOut}));
  EXPECT_EQ(sim.confirmCalls, 2u);
}

}  // namespace
}  // namespace kestrove::testing
