// `windows` and `place` through kestrove-sim: the helper unchanged, on a
// simulated desktop described by a world file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "helper_process.h"

namespace kestrove::e2e {
namespace {

using nlohmann::json;

json rect(double x, double y, double width, double height) {
  return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

class WindowsE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (simBinary().empty()) GTEST_SKIP() << "kestrove-sim is not built";
  }

  static Finished oneShot(const std::string& world, std::vector<std::string> args) {
    std::vector<std::string> argv{simBinary(), worldPath(world)};
    argv.insert(argv.end(), args.begin(), args.end());
    return runToEnd(argv);
  }

  static json onlyLine(const Finished& run) {
    EXPECT_EQ(run.lines.size(), 1u) << run.output;
    return run.lines.empty() ? json() : json::parse(run.lines.front());
  }
};

const json kViewerWindows = json::array({
    {{"frame", rect(100, 50, 1280, 748)},
     {"content", rect(100, 78, 1280, 720)},
     {"titlebar", 28},
     {"titlebarSource", "ax_content"},
     {"settable", {{"position", true}, {"size", true}}},
     {"main", true},
     {"minimized", false},
     {"fullscreen", false},
     {"subrole", "AXStandardWindow"},
     {"id", 7001}},
    {{"frame", rect(1200, 100, 200, 300)},
     {"content", rect(1200, 128, 200, 272)},
     {"titlebar", 28},
     {"titlebarSource", "default"},
     {"settable", {{"position", false}, {"size", true}}},
     {"main", false},
     {"minimized", false},
     {"fullscreen", false},
     {"subrole", "AXFloatingWindow"},
     {"id", 7002}},
    {{"frame", rect(50, 600, 400, 300)},
     {"content", rect(50, 622, 400, 278)},
     {"titlebar", 22},
     {"titlebarSource", "ax_buttons"},
     {"settable", {{"position", true}, {"size", true}}},
     {"main", false},
     {"minimized", true},
     {"fullscreen", false},
     {"subrole", "AXStandardWindow"},
     {"id", 7004}},
});

TEST_F(WindowsE2e, OneShotListsTheRunningInstancesReadableWindows) {
  Finished run = oneShot("windows_desktop.json", {"windows", "com.example.viewer"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      onlyLine(run),
      (json{{"ok", true}, {"running", true}, {"pid", 4101}, {"trusted", true}, {"windows", kViewerWindows}}));
}

TEST_F(WindowsE2e, OneShotAnswersForEveryKindOfApplication) {
  struct Case {
    std::string world;
    std::vector<std::string> args;
    json reply;
    int status;
  };
  const json emptyList = json::array();
  const std::vector<Case> cases = {
      {"windows_desktop.json",
       {"windows", "com.example.absent"},
       {{"ok", true}, {"running", false}, {"trusted", true}, {"windows", emptyList}},
       0},
      {"windows_desktop.json",
       {"windows", "com.example.idle"},
       {{"ok", true}, {"running", true}, {"pid", 4300}, {"trusted", true}, {"windows", emptyList}},
       0},
      {"windows_untrusted.json",
       {"windows", "com.example.viewer"},
       {{"ok", true}, {"running", true}, {"pid", 4101}, {"trusted", false}, {"windows", emptyList}},
       0},
      {"windows_desktop.json",
       {"windows", "com/example"},
       {{"ok", false}, {"error", "bad_args"}, {"detail", "windows <bundleId>"}},
       1},
      {"windows_desktop.json",
       {"windows"},
       {{"ok", false}, {"error", "bad_args"}, {"detail", "windows <bundleId>"}},
       1},
      {"windows_untrusted.json",
       {"place", "com.example.viewer", "0", "25", "800", "600"},
       {{"ok", false}, {"error", "ax_denied"}},
       1},
      {"windows_desktop.json",
       {"place", "com.example.viewer", "0", "25", "800"},
       {{"ok", false}, {"error", "bad_args"}, {"detail", "place <bundleId> x y w h"}},
       1},
      {"windows_desktop.json",
       {"place", "com.example.viewer", "0x10", "25", "800", "1e5"},
       {{"ok", false}, {"error", "bad_args"}, {"detail", "x y w h must be numbers"}},
       1},
      {"windows_desktop.json",
       {"place", "com.example.absent", "0", "25", "800", "600"},
       {{"ok", false}, {"error", "not_running"}},
       1},
      {"windows_desktop.json",
       {"place", "com.example.idle", "0", "25", "800", "600"},
       {{"ok", false}, {"error", "no_stream_window"}},
       1},
      {"windows_refusing.json",
       {"place", "com.example.viewer", "0", "25", "800", "600"},
       {{"ok", false}, {"error", "place_failed"}, {"detail", "AX errors [-25204, -25204, -25204]"}},
       1},
  };
  for (const Case& c : cases) {
    Finished run = oneShot(c.world, c.args);
    EXPECT_EQ(run.status, c.status) << c.args.back();
    EXPECT_EQ(onlyLine(run), c.reply) << c.args.back();
  }
}

TEST_F(WindowsE2e, OneShotPlaceMovesTheMainWindowAndReportsItsNumber) {
  Finished run = oneShot("windows_desktop.json", {"place", "com.example.viewer", "100", "100", "800", "600"});
  EXPECT_EQ(run.status, 0);
  json reply = onlyLine(run);
  ASSERT_TRUE(reply["ms"].is_number_integer()) << run.output;
  EXPECT_GE(reply["ms"].get<long>(), 0);
  reply.erase("ms");
  EXPECT_EQ(reply, (json{{"ok", true},
                         {"frame", rect(100, 72, 800, 628)},
                         {"content", rect(100, 100, 800, 600)},
                         {"requested", rect(100, 72, 800, 628)},
                         {"titlebar", 28},
                         {"titlebarSource", "ax_content"},
                         {"clamped", false},
                         {"axErrors", {0, 0, 0}},
                         {"id", 7001}}));
}

TEST_F(WindowsE2e, LoopAnswersEveryLineWithItsRequestId) {
  const std::string input =
      "#1 place com.example.viewer 0 40 1280 720\n"
      "#2 windows com.example.viewer\n"
      "place com.example.notes 10 40 500 400\n"
      "#4 place com.example.idle 1 2 3 4\n"
      "#5 place com.example.viewer 1 2 0.5 4\n"
      "windows com.example.notes\n";
  Finished run = runToEnd({simBinary(), worldPath("windows_desktop.json")}, input);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 6u) << run.output;
  std::vector<json> replies;
  for (const std::string& line : run.lines) replies.push_back(json::parse(line));

  // The request id replaces the window number; the menu-bar limit held the window down.
  EXPECT_EQ(replies[0]["id"], 1);
  EXPECT_EQ(replies[0]["ok"], true);
  EXPECT_EQ(replies[0]["requested"], rect(0, 12, 1280, 748));
  EXPECT_EQ(replies[0]["frame"], rect(0, 25, 1280, 748));
  EXPECT_EQ(replies[0]["content"], rect(0, 53, 1280, 720));
  EXPECT_EQ(replies[0]["clamped"], true);

  // The next command sees the window where the last one left it.
  EXPECT_EQ(replies[1]["id"], 2);
  EXPECT_EQ(replies[1]["windows"][0]["frame"], rect(0, 25, 1280, 748));
  EXPECT_EQ(replies[1]["windows"][0]["id"], 7001);

  // No request id: the window number stands, null when it cannot be had.
  EXPECT_TRUE(replies[2]["id"].is_null()) << run.lines[2];
  EXPECT_EQ(replies[2]["frame"], rect(10, 8, 490, 422));
  EXPECT_EQ(replies[2]["content"], rect(10, 40, 490, 390));
  EXPECT_EQ(replies[2]["titlebar"], 32);
  EXPECT_EQ(replies[2]["clamped"], true);

  EXPECT_EQ(replies[3], (json{{"ok", false}, {"error", "no_stream_window"}, {"id", 4}}));
  EXPECT_EQ(replies[4],
            (json{{"ok", false}, {"error", "bad_args"}, {"detail", "w and h must be >= 1"}, {"id", 5}}));
  EXPECT_EQ(replies[5]["windows"][0]["frame"], rect(10, 8, 490, 422));
  EXPECT_TRUE(replies[5]["windows"][0]["id"].is_null());
}

}  // namespace
}  // namespace kestrove::e2e
