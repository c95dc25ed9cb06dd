// trusted and screens through kestrove-sim, in both run modes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "helper_process.h"

namespace kestrove::e2e {
namespace {

const std::string kTwoScreens =
    R"({"coords":"top-left-global-points","ok":true,"screens":[)"
    R"({"frame":{"height":900,"width":1440,"x":0,"y":0},"id":1,"menuBarHeight":25,"primary":true,"scale":2,)"
    R"("visibleFrame":{"height":805,"width":1440,"x":0,"y":25}},)"
    R"({"frame":{"height":1080,"width":1920,"x":1440,"y":0},"id":2,"menuBarHeight":25,"primary":false,"scale":1,)"
    R"("visibleFrame":{"height":1055,"width":1920,"x":1440,"y":25}}]})";
const std::string kBadTrustedArgs = R"({"detail":"trusted [prompt]","error":"bad_args","ok":false})";

struct OneShotCase {
  std::string world;
  std::vector<std::string> args;
  std::string line;
  int status;
};

TEST(TrustScreensOneShot, RepliesAndExitStatus) {
  const std::vector<OneShotCase> cases = {
      {"two_displays.json", {"trusted"}, R"({"ok":true,"prompted":false,"trusted":true})", 0},
      {"two_displays.json", {"trusted", "prompt"}, R"({"ok":true,"prompted":false,"trusted":true})", 0},
      {"untrusted.json", {"trusted"}, R"({"ok":true,"prompted":false,"trusted":false})", 0},
      {"untrusted.json", {"trusted", "prompt"}, R"({"ok":true,"prompted":true,"trusted":false})", 0},
      {"two_displays.json", {"trusted", "Prompt"}, kBadTrustedArgs, 1},
      {"two_displays.json", {"trusted", "yes"}, kBadTrustedArgs, 1},
      {"two_displays.json", {"trusted", "prompt", "now"}, kBadTrustedArgs, 1},
      {"two_displays.json", {"screens"}, kTwoScreens, 0},
      {"two_displays.json",
       {"screens", "all"},
       R"({"detail":"screens takes no arguments","error":"bad_args","ok":false})",
       1},
      {"untrusted.json",
       {"screens"},
       R"({"coords":"top-left-global-points","ok":true,"screens":[{"frame":{"height":982.5,"width":1512,"x":0,"y":0},)"
       R"("id":0,"menuBarHeight":38.25,"primary":true,"scale":2,)"
       R"("visibleFrame":{"height":944.25,"width":1512,"x":0,"y":38.25}}]})",
       0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {simBinary(), worldPath(c.world)};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : c.args[0]);
    Finished run = runToEnd(argv);
    EXPECT_EQ(run.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(run.status, c.status);
  }
}

TEST(TrustScreensLoop, PromptEveryUntrustedCallUntilGranted) {
  // untrusted.json grants trust once prompted; the grant shows on the next call.
  Finished run = runToEnd({simBinary(), worldPath("untrusted.json")},
                          "trusted\n#1 trusted prompt\n#2 trusted prompt\ntrusted prompt now\n");
  EXPECT_EQ(run.lines, (std::vector<std::string>{
                           R"({"ok":true,"prompted":false,"trusted":false})",
                           R"({"id":1,"ok":true,"prompted":true,"trusted":false})",
                           R"({"id":2,"ok":true,"prompted":false,"trusted":true})",
                           kBadTrustedArgs,
                       }));
  EXPECT_EQ(run.status, 0);
}

TEST(TrustScreensLoop, ScreensAndItsArgumentError) {
  HelperProcess helper({simBinary(), worldPath("two_displays.json")});
  helper.send("#5 screens");
  auto first = helper.readLine();
  ASSERT_TRUE(first.has_value());
  std::string expected = kTwoScreens;
  expected.replace(expected.find(R"("ok":true)"), 9, R"("id":5,"ok":true)");
  EXPECT_EQ(*first, expected);
  helper.send("#6 screens now");
  EXPECT_EQ(helper.readLine(),
            R"({"detail":"screens takes no arguments","error":"bad_args","id":6,"ok":false})");
  helper.closeInput();
  EXPECT_EQ(helper.wait(), 0);
}

TEST(SimDriver, BadWorldFileSaysNothingOnStdoutAndExits2) {
  std::vector<std::string> paths = {"/nonexistent/world.json"};
  const std::vector<std::string> badWorlds = {"{", R"({"apps":[{"pid":1,"bogus":2}]})",
                                              R"({"screens":[{"frame":{"x":"0"}}]})",
                                              R"({"timeline":[{"at":5,"do":"close","window":"nowhere"}]})"};
  for (std::size_t i = 0; i < badWorlds.size(); ++i) {
    paths.push_back(::testing::TempDir() + "bad_world_" + std::to_string(i) + ".json");
    std::ofstream(paths.back()) << badWorlds[i];
  }
  for (const auto& path : paths) {
    SCOPED_TRACE(path);
    Finished run = runToEnd({simBinary(), path, "version"});
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.status, 2);
  }
}

}  // namespace
}  // namespace kestrove::e2e
