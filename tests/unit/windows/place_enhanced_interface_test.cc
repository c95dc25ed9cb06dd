// place and AXEnhancedUserInterface: while an assistive app has it on, the
// sim's app animates frame changes, so without turning it off place reads
// back a window that has not moved yet.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/line_protocol.h"
#include "observation/observe_command.h"
#include "windows/place_command.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

// A refusal, not a timeout: the application answered.
constexpr std::int32_t kRefused = platform::ax::kFailure;
constexpr char kAttribute[] = "AXEnhancedUserInterface";

// One stream window at (0, 40) 1000 x 700 with a 28-point title bar, and a
// writer that keeps every line.
struct Scene {
  Scene() {
    sim.addApp(kBundle, kPid);
    sim::SimWindow w;
    w.x = 0;
    w.y = 40;
    w.width = 1000;
    w.height = 700;
    w.number = 55;
    sim::SimChild content;
    content.anchor = sim::SimChild::Anchor::Content;
    w.children = {content};
    window = sim.windowElement(sim.addWindow(kPid, w));
    app = sim.applicationElement(kPid);
  }

  JsonObject place() { return placeCommand(core, {kBundle, "100", "100", "800", "600"}); }

  // The calls that matter here, in order: reads of the attribute, its
  // writes, frame writes, and reads of the window's frame.
  std::string sequence() const {
    const std::string windowName = sim::SimPlatform::describe(window);
    std::string out;
    for (const sim::SimCall& call : sim.calls()) {
      std::string token;
      if (call.operation == "copyAttributeValue" && call.name == kAttribute) token = "readEUI";
      if (call.operation == "setBoolAttributeValue") token = "setEUI";
      if (call.operation == "setAttributeValue") token = "write";
      if (call.operation == "copyAttributeValue" && call.name == "AXPosition" && call.element == windowName)
        token = "readFrame";
      if (!token.empty()) out += (out.empty() ? "" : " ") + token;
    }
    return out;
  }

  std::vector<std::pair<bool, std::int32_t>> flagWrites() const {
    std::vector<std::pair<bool, std::int32_t>> out;
    for (const sim::SimFlagWrite& w : sim.flagWrites()) {
      EXPECT_EQ(w.element, sim::SimPlatform::describe(app));
      EXPECT_EQ(w.attribute, kAttribute);
      out.emplace_back(w.value, w.code);
    }
    return out;
  }

  WindowsSim sim;
  platform::Element window;
  platform::Element app;
  std::vector<std::string> lines;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  lines.emplace_back(data, size - 1);
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

const std::set<std::string> kReplyKeys = {"frame",   "content",  "requested", "titlebar", "titlebarSource",
                                          "clamped", "axErrors", "ms",        "id"};

TEST(PlaceEnhancedInterface, TurnedOffAroundTheWritesOnlyWhenItReadsTrue) {
  enum class Outcome { Exact, Late, PlaceFailed };
  using Writes = std::vector<std::pair<bool, std::int32_t>>;
  const std::string plain = "readFrame readEUI write write write readFrame";
  const std::string paused = "readFrame readEUI setEUI write write write readFrame setEUI";
  struct Case {
    const char* name;
    std::optional<bool> attribute;
    std::function<void(Scene&)> setUp;
    std::string sequence;
    Writes writes;
    std::optional<bool> finalValue;
    Outcome outcome;
  };
  const Case cases[] = {
      {"absent", std::nullopt, nullptr, plain, {}, std::nullopt, Outcome::Exact},
      {"false", false, nullptr, plain, {}, false, Outcome::Exact},
      {"unreadable while on",
       true,
       [](Scene& s) {
         s.sim.failRead(s.app, kAttribute, {kRefused, std::nullopt});
       },
       plain,
       {},
       true,
       Outcome::Late},
      {"not a Boolean",
       true,
       [](Scene& s) {
         s.sim.failRead(s.app, kAttribute, {platform::ax::kSuccess, std::string("1")});
       },
       plain,
       {},
       true,
       Outcome::Late},
      {"true", true, nullptr, paused, {{false, 0}, {true, 0}}, true, Outcome::Exact},
      {"true, the restore fails",
       true,
       [](Scene& s) {
         s.sim.afterFlagWrite = [&s](std::size_t n) {
           if (n == 1) s.sim.failWrite(s.app, kAttribute, kRefused);
         };
       },
       paused,
       {{false, 0}, {true, kRefused}},
       false,
       Outcome::Exact},
      // Still on: the writes animate and the read-back sees the old frame,
      // which is what the rule is for.
      {"true, turning it off fails",
       true,
       [](Scene& s) { s.sim.failWrite(s.app, kAttribute, kRefused); },
       paused,
       {{false, kRefused}, {true, kRefused}},
       true,
       Outcome::Late},
      {"true, place fails",
       true,
       [](Scene& s) {
         s.sim.failWrite(s.window, "AXSize", kRefused);
         s.sim.failWrite(s.window, "AXPosition", kRefused);
       },
       "readFrame readEUI setEUI write write write setEUI",
       {{false, 0}, {true, 0}},
       true,
       Outcome::PlaceFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s;
    s.sim.setEnhancedUserInterface(kPid, c.attribute);
    if (c.setUp) c.setUp(s);
    s.sim.clearCalls();

    std::optional<JsonObject> reply;
    const std::string failure = failureOf([&] { reply = s.place(); });

    EXPECT_EQ(s.sequence(), c.sequence);
    EXPECT_EQ(s.flagWrites(), c.writes);
    EXPECT_EQ(s.sim.enhancedUserInterface(kPid), c.finalValue);
    if (c.outcome == Outcome::PlaceFailed) {
      EXPECT_EQ(failure, "place_failed: AX errors [-25200, -25200, -25200]");
      continue;
    }
    ASSERT_TRUE(reply);
    std::set<std::string> keys;
    for (const auto& [key, value] : *reply) keys.insert(key);
    EXPECT_EQ(keys, kReplyKeys);
    EXPECT_EQ(rectAt(*reply, "requested"), (RectValues{100, 72, 800, 628}));
    if (c.outcome == Outcome::Exact) {
      EXPECT_EQ(rectAt(*reply, "frame"), (RectValues{100, 72, 800, 628}));
      EXPECT_EQ(reply->at("clamped"), JsonValue(false));
    } else {
      EXPECT_EQ(rectAt(*reply, "frame"), (RectValues{0, 40, 1000, 700}));
      EXPECT_EQ(reply->at("clamped"), JsonValue(true));
    }
  }
}

TEST(PlaceEnhancedInterface, PutBackOnlyAfterTheSecondWriteIsReadBack) {
  Scene s;
  s.sim.setEnhancedUserInterface(kPid, true);
  s.sim.window(s.sim.windowsOf(kPid)[0]).titlebarAfterMove = 0;
  s.sim.clearCalls();
  JsonObject reply = s.place();
  EXPECT_EQ(s.sequence(),
            "readFrame readEUI setEUI write write write readFrame write write write readFrame setEUI");
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(reply.at("clamped"), JsonValue(false));
  EXPECT_EQ(s.sim.enhancedUserInterface(kPid), true);
}

TEST(PlaceEnhancedInterface, WindowEventsOfThePlacementFollowItsReplyAndShowWhereItLanded) {
  Scene s;
  s.sim.setEnhancedUserInterface(kPid, true);
  observeCommand(s.core, {kBundle});
  handleLine(s.core, "#5 place com.example.viewer 100 100 800 600", true);
  s.sim.loop().advance(std::chrono::seconds(1));

  ASSERT_GE(s.lines.size(), 3u);
  const std::string frame = R"("frame":{"height":628,"width":800,"x":100,"y":72})";
  EXPECT_EQ(s.lines[0].rfind("{\"axErrors\":[0,0,0],\"clamped\":false,", 0), 0u) << s.lines[0];
  EXPECT_NE(s.lines[0].find("\"id\":5,"), std::string::npos) << s.lines[0];
  std::set<std::string> events;
  for (std::size_t i = 1; i < s.lines.size(); ++i) {
    const std::string& line = s.lines[i];
    EXPECT_EQ(line.rfind("{\"bundleId\":\"com.example.viewer\",\"event\":", 0), 0u) << line;
    // No frame on the way: the window was already where it landed.
    EXPECT_NE(line.find(frame), std::string::npos) << line;
    const std::size_t name = line.find("\"event\":\"") + 9;
    events.insert(line.substr(name, line.find('"', name) - name));
  }
  EXPECT_EQ(events, (std::set<std::string>{"moved", "resized"}));
}

}  // namespace
}  // namespace kestrove::testing
