// Observation through the sim driver: events as the controlling program sees
// them, in order with the replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "helper_process.h"

namespace kestrove::e2e {
namespace {

using nlohmann::json;

class ObserveE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (simBinary().empty()) GTEST_SKIP() << "kestrove-sim is not built";
  }

  static std::vector<std::string> simArgs(const std::string& world) {
    return {simBinary(), worldPath(world)};
  }

  // The next line, parsed; a missing line fails the test.
  static json next(HelperProcess& helper) {
    std::optional<std::string> line = helper.readLine(15s);
    EXPECT_TRUE(line.has_value()) << "no line in time";
    return line ? json::parse(*line) : json();
  }
};

json movedEvent(double x, double y, double width, double height, int id) {
  return json{{"event", "moved"},
              {"bundleId", "com.example.viewer"},
              {"frame", {{"x", x}, {"y", y}, {"width", width}, {"height", height}}},
              {"id", id}};
}

TEST_F(ObserveE2E, UserMovesAreReportedAndOtherAppsQuittingIsNot) {
  HelperProcess helper(simArgs("obs_viewer.json"));
  helper.send("observe com.example.viewer");
  std::optional<std::string> reply = helper.readLine(15s);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind(R"({"observing":true,"ok":true,"pid":4101,)", 0), 0u) << *reply;
  EXPECT_EQ(json::parse(*reply)["windows"], 2);

  // The editor quits first; only the two moves follow.
  std::optional<std::string> first = helper.readLine(15s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->rfind(R"({"bundleId":"com.example.viewer","event":"moved","frame":)", 0), 0u) << *first;
  EXPECT_EQ(json::parse(*first), movedEvent(300, 200, 1280, 748, 7001));
  EXPECT_EQ(next(helper), movedEvent(10, 20, 200, 300, 7002));

  helper.send("#9 unobserve");
  EXPECT_EQ(next(helper), (json{{"id", 9}, {"observing", false}, {"ok", true}}));
}

TEST_F(ObserveE2E, PlaceRepliesBeforeTheEventsItCauses) {
  HelperProcess helper(simArgs("obs_place.json"));
  helper.send("observe com.example.viewer");
  EXPECT_EQ(next(helper)["observing"], true);

  helper.send("#5 place com.example.viewer 0 25 1000 700");
  json placed = next(helper);
  EXPECT_EQ(placed["id"], 5);
  EXPECT_EQ(placed["ok"], true) << placed.dump();

  // Its notifications are queued ahead of the next command, so everything
  // before that command's reply is what the placement caused.
  helper.send("#6 unobserve");
  std::vector<std::string> events;
  json line = next(helper);
  for (; line.is_object() && line.contains("event"); line = next(helper)) {
    EXPECT_EQ(line["bundleId"], "com.example.viewer");
    EXPECT_EQ(line["id"], 7001);
    events.push_back(line["event"]);
  }
  EXPECT_EQ(line, (json{{"id", 6}, {"observing", false}, {"ok", true}}));
  EXPECT_NE(std::find(events.begin(), events.end(), "moved"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "resized"), events.end());
  for (const std::string& e : events) EXPECT_TRUE(e == "moved" || e == "resized") << e;
}

// The app animates frame changes while an assistive app is running; place
// turns that off for its writes, so it lands at once and every event it
// causes, written after its reply, shows the window where it landed.
TEST_F(ObserveE2E, PlaceLandsAtOnceOnAnAppWithTheEnhancedInterfaceOn) {
  HelperProcess helper(simArgs("obs_place_enhanced.json"));
  helper.send("observe com.example.viewer");
  EXPECT_EQ(next(helper)["observing"], true);

  helper.send("#5 place com.example.viewer 0 25 1000 700");
  json placed = next(helper);
  EXPECT_EQ(placed["id"], 5);
  const json landed = {{"x", 0}, {"y", -3}, {"width", 1000}, {"height", 728}};
  EXPECT_EQ(placed["frame"], landed) << placed.dump();
  EXPECT_EQ(placed["clamped"], false);

  helper.send("#6 unobserve");
  json line = next(helper);
  std::vector<std::string> events;
  for (; line.is_object() && line.contains("event"); line = next(helper)) {
    EXPECT_EQ(line["frame"], landed) << line.dump();
    events.push_back(line["event"]);
  }
  EXPECT_EQ(line, (json{{"id", 6}, {"observing", false}, {"ok", true}}));
  EXPECT_NE(std::find(events.begin(), events.end(), "moved"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "resized"), events.end());
}

// A controlling program that never pauses must not hold the timeline back.
TEST_F(ObserveE2E, TimelineEventsComeAmidASteadyStreamOfCommands) {
  HelperProcess helper(simArgs("obs_stream.json"));
  helper.send("observe com.example.viewer");
  EXPECT_EQ(next(helper)["observing"], true);

  std::atomic<bool> streaming{true};
  std::thread feeder([&] {
    std::string block;
    while (block.size() < 65536) block += "version\n";
    while (streaming) helper.sendRaw(block);
  });
  std::optional<json> moved;
  std::size_t replies = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       !moved && std::chrono::steady_clock::now() < deadline;) {
    std::optional<std::string> line = helper.readLine(1s);
    if (!line) continue;
    if (line->find("\"event\"") == std::string::npos) {
      ++replies;
    } else {
      moved = json::parse(*line);
    }
  }
  streaming = false;
  helper.closeOutput();  // the helper ends at its next write, and the feeder with it
  feeder.join();
  ASSERT_TRUE(moved) << "no event in 20 s, " << replies << " replies";
  EXPECT_EQ(*moved, movedEvent(300, 200, 1280, 748, 7001));
  EXPECT_GT(replies, 0u);
}

TEST_F(ObserveE2E, TheObservedAppQuittingEndsTheObservationOnce) {
  HelperProcess helper(simArgs("obs_quit.json"));
  helper.send("observe com.example.viewer");
  EXPECT_EQ(next(helper)["observing"], true);

  EXPECT_EQ(next(helper), (json{{"event", "app_quit"}, {"bundleId", "com.example.viewer"}}));
  helper.send("unobserve");
  EXPECT_EQ(next(helper), (json{{"observing", false}, {"ok", true}}));
  // The window closing and moving after the quit writes nothing.
  EXPECT_TRUE(helper.readFor(1500ms).empty());
  helper.closeInput();
  EXPECT_EQ(helper.wait(15s), 0);
}

}  // namespace
}  // namespace kestrove::e2e
