#include "app/run_helper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/line_protocol.h"
#include "platform/sim/sim_platform.h"

namespace kestrove {
namespace {

using std::chrono::milliseconds;

// A helper on the sim whose writer notes, for each line, the virtual time it
// was written at and whether work posted before the command had run by then.
struct Helper {
  struct Written {
    std::string line;
    std::chrono::nanoseconds at;
    bool postedWorkRan;
  };

  explicit Helper(bool trusted) {
    sim.setTrusted(trusted);
    // Stands for what the system still has to do with a request made during
    // the command: it only happens if the main loop turns.
    sim.loop().post([this] { postedWorkRan = true; });
  }

  sim::SimPlatform sim;
  bool postedWorkRan = false;
  std::vector<Written> written;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  written.push_back({std::string(data, size), sim.loop().now(), postedWorkRan});
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

TEST(RunHelperTest, OneShotTrustPromptTurnsTheMainLoopBeforeReplying) {
  struct Case {
    const char* name;
    bool trusted;
    std::vector<std::string> args;
    bool waits;
  };
  const Case cases[] = {
      {"untrusted, prompt", false, {"trusted", "prompt"}, true},
      {"trusted, prompt", true, {"trusted", "prompt"}, false},
      {"untrusted, no prompt", false, {"trusted"}, false},
      {"bad arguments", false, {"trusted", "prompt", "now"}, false},
  };
  for (const Case& c : cases) {
    Helper helper(c.trusted);
    runHelper(c.args, helper.core);
    ASSERT_EQ(helper.written.size(), 1u) << c.name;
    EXPECT_EQ(helper.written[0].at, c.waits ? milliseconds(500) : milliseconds(0)) << c.name;
    EXPECT_EQ(helper.written[0].postedWorkRan, c.waits) << c.name;
    EXPECT_EQ(helper.sim.promptCount(), c.waits ? 1 : 0) << c.name;
  }
}

TEST(RunHelperTest, LoopModeAnswersAPromptAtOnce) {
  Helper helper(false);
  handleLine(helper.core, "#3 trusted prompt", true);
  ASSERT_EQ(helper.written.size(), 1u);
  EXPECT_EQ(helper.written[0].line, "{\"id\":3,\"ok\":true,\"prompted\":true,\"trusted\":false}\n");
  EXPECT_EQ(helper.written[0].at, milliseconds(0));
  EXPECT_FALSE(helper.written[0].postedWorkRan);
  EXPECT_EQ(helper.sim.promptCount(), 1);
}

}  // namespace
}  // namespace kestrove
