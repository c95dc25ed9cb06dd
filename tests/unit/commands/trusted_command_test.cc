#include "commands/trusted_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "protocol/fail.h"

namespace kestrove {
namespace {

class TrustedTest : public ::testing::Test {
 protected:
  sim::SimPlatform sim;
  Writer writer{[](const char*, std::size_t size, int&) { return static_cast<long>(size); }, [](int) {}};
  Core core{sim, writer, [](int) {}, {}};
};

TEST_F(TrustedTest, ReportsTrustWithoutPrompting) {
  for (bool trusted : {true, false}) {
    sim.setTrusted(trusted);
    EXPECT_EQ(trustedCommand(core, {}), (JsonObject{{"trusted", trusted}, {"prompted", false}}));
  }
  EXPECT_EQ(sim.countCalls("isProcessTrustedWithPrompt"), 0u);
}

TEST_F(TrustedTest, PromptIsNeverRequestedWhenTrusted) {
  EXPECT_EQ(trustedCommand(core, {"prompt"}), (JsonObject{{"trusted", true}, {"prompted", false}}));
  EXPECT_EQ(sim.countCalls("isProcessTrustedWithPrompt"), 0u);
  EXPECT_EQ(sim.promptCount(), 0);
}

TEST_F(TrustedTest, PromptIsRequestedOnEveryUntrustedCall) {
  sim.setTrusted(false);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(trustedCommand(core, {"prompt"}), (JsonObject{{"trusted", false}, {"prompted", true}}));
  EXPECT_EQ(sim.promptCount(), 3);
}

TEST_F(TrustedTest, GrantAfterPromptShowsOnTheNextCall) {
  sim.setTrusted(false);
  sim.setPromptGrants(true);
  EXPECT_EQ(trustedCommand(core, {"prompt"}), (JsonObject{{"trusted", false}, {"prompted", true}}));
  EXPECT_EQ(trustedCommand(core, {"prompt"}), (JsonObject{{"trusted", true}, {"prompted", false}}));
  EXPECT_EQ(sim.promptCount(), 1);
}

TEST_F(TrustedTest, BadArgumentsAskNothingOfTheSystem) {
  sim.setTrusted(false);
  for (const Args& args : std::vector<Args>{{"Prompt"}, {"yes"}, {"prompt", "now"}, {""}}) {
    try {
      trustedCommand(core, args);
      ADD_FAILURE() << "accepted " << args.size() << " args";
    } catch (const Fail& fail) {
      EXPECT_EQ(fail.code(), "bad_args");
      EXPECT_EQ(fail.detail(), std::optional<std::string>("trusted [prompt]"));
    }
  }
  EXPECT_TRUE(sim.calls().empty());
}

TEST_F(TrustedTest, RequireTrustedRaisesAxDeniedWithoutDetail) {
  EXPECT_NO_THROW(requireTrusted(core));
  sim.setTrusted(false);
  try {
    requireTrusted(core);
    ADD_FAILURE() << "untrusted passed";
  } catch (const Fail& fail) {
    EXPECT_EQ(fail.code(), "ax_denied");
    EXPECT_FALSE(fail.detail().has_value());
  }
  EXPECT_EQ(sim.countCalls("isProcessTrustedWithPrompt"), 0u);
}

}  // namespace
}  // namespace kestrove
