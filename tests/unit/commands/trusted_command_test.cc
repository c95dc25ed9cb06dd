#include "commands/trusted_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/dispatcher.h"
#include "platform/sim/sim_platform.h"
#include "protocol/fail.h"
#include "unit/support/failure_of.h"

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

// What a process can be told about its trust, and what every command that
// looks at trust then concludes. The platform's flag may lag behind a grant
// made while the process runs; one real call then decides, and only the
// interface's refusal means untrusted.
class TrustShapesTest : public ::testing::Test {
 protected:
  TrustShapesTest() { sim.addApp("com.example.viewer", 4242); }

  JsonObject run(const Args& words) { return runCommand(core, words, true); }
  std::string failure(const Args& words) {
    return kestrove::testing::failureOf([&] { run(words); });
  }

  sim::SimPlatform sim;
  Writer writer{[](const char*, std::size_t size, int&) { return static_cast<long>(size); }, [](int) {}};
  Core core{sim, writer, [](int) {}, {}};
};

TEST_F(TrustShapesTest, EveryTrustCheckAgrees) {
  namespace ax = platform::ax;
  struct Case {
    const char* name;
    bool trusted;                               // Accessibility open to the process
    bool flagLate;                              // isProcessTrusted answers false all the same
    std::optional<std::int32_t> focusedAnswer;  // what the confirming call answers, when not the trust's
    bool seen;                                  // what the commands conclude
  };
  const Case cases[] = {
      {"flag says trusted", true, false, std::nullopt, true},
      {"grant while running: the flag lags", true, true, std::nullopt, true},
      {"trust really missing", false, false, std::nullopt, false},
      {"the flag lags, no app focused", true, true, ax::kNoValue, true},
      {"the flag lags, the focused app timed out", true, true, ax::kCannotComplete, true},
      {"the flag lags, another failure", true, true, ax::kFailure, true},
      {"refused although the flag lags", true, true, ax::kAPIDisabled, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim.clearFaults();
    sim.setTrusted(c.trusted);
    sim.setTrustFlagLate(c.flagLate);
    sim.failFocusedApplicationRead(c.focusedAnswer);
    sim.clearCalls();

    EXPECT_EQ(run({"trusted"}), (JsonObject{{"trusted", c.seen}, {"prompted", false}}));
    EXPECT_EQ(run({"windows", "com.example.viewer"}).at("trusted"), JsonValue(c.seen));
    EXPECT_EQ(run({"windows", "com.example.absent"}).at("trusted"), JsonValue(c.seen));
    EXPECT_EQ(run({"watch-esc"}).at("trusted"), JsonValue(c.seen));
    run({"unwatch-esc"});
    const std::string denied = c.seen ? "" : "ax_denied";
    EXPECT_EQ(failure({"observe", "com.example.viewer"}), denied);
    EXPECT_EQ(failure({"place", "com.example.absent", "0", "0", "10", "10"}),
              c.seen ? "not_running" : "ax_denied");
    // The flag is asked first; the real call only when it says no.
    EXPECT_EQ(sim.countCalls("readFocusedApplication") == 0, !c.flagLate && c.trusted);
    // A trust that was seen is never prompted for.
    const JsonObject prompted = run({"trusted", "prompt"});
    EXPECT_EQ(prompted.at("prompted"), JsonValue(!c.seen));
    EXPECT_EQ(sim.countCalls("isProcessTrustedWithPrompt"), c.seen ? 0u : 1u);
    run({"unobserve"});
  }
}

}  // namespace
}  // namespace kestrove
