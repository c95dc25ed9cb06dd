#include "windows/place_command.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "protocol/json_encode.h"
#include "windows_fixture.h"

namespace kestrove::testing {
namespace {

// A refusal, not a timeout: the application answered.
constexpr std::int32_t kRefused = platform::ax::kFailure;

class PlaceCommandTest : public StreamWindowFixture {
 protected:
  JsonObject place(Args numbers = {"100", "100", "800", "600"}) {
    Args args{kBundle};
    args.insert(args.end(), numbers.begin(), numbers.end());
    return placeCommand(core, args);
  }
};

TEST_F(PlaceCommandTest, WritesSizePositionSizeForTheContentRectangle) {
  JsonObject reply = place();

  const std::vector<sim::SimWrite>& writes = sim.writes();
  ASSERT_EQ(writes.size(), 3u);
  const char* attributes[] = {"AXSize", "AXPosition", "AXSize"};
  const double firsts[] = {800, 100, 800};
  const double seconds[] = {628, 72, 628};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i].attribute, attributes[i]);
    EXPECT_EQ(writes[i].value.first, firsts[i]);
    EXPECT_EQ(writes[i].value.second, seconds[i]);
  }
  EXPECT_EQ(rectAt(reply, "requested"), (RectValues{100, 72, 800, 628}));
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 72, 800, 628}));
  EXPECT_EQ(rectAt(reply, "content"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(reply.at("titlebar"), JsonValue(28.0));
  EXPECT_EQ(reply.at("titlebarSource"), JsonValue("ax_content"));
  EXPECT_EQ(reply.at("clamped"), JsonValue(false));
  EXPECT_EQ(axErrorsOf(reply), (std::vector<std::int64_t>{0, 0, 0}));
  EXPECT_EQ(reply.at("id"), JsonValue(55));
  EXPECT_GE(std::get<std::int64_t>(reply.at("ms").value), 0);
  EXPECT_EQ(reply.size(), 9u);
}

TEST_F(PlaceCommandTest, RefusesInTheOrderOfItsChecks) {
  const std::string usage = "bad_args: place <bundleId> x y w h";
  const std::string numbers = "bad_args: x y w h must be numbers";
  const std::string sizes = "bad_args: w and h must be >= 1";
  struct Case {
    Args args;
    std::string failure;
  };
  const Case cases[] = {
      {{kBundle, "1", "2", "3"}, usage},
      {{kBundle, "1", "2", "3", "4", "5"}, usage},
      {{"com example", "1", "2", "3", "4"}, usage},
      {{"com/example", "abc", "2", "3", "4"}, usage},
      {{kBundle, "abc", "2", "3", "4"}, numbers},
      {{kBundle, "1", "nan", "3", "4"}, numbers},
      {{kBundle, "1", "2", "inf", "4"}, numbers},
      {{kBundle, "1", "2", "3", "-inf"}, numbers},
      {{kBundle, "100000", "2", "3", "4"}, numbers},
      {{kBundle, "-100000", "2", "3", "4"}, numbers},
      {{kBundle, "1", "2", "1e300", "4"}, numbers},
      {{kBundle, " 1", "2", "3", "4"}, numbers},
      {{kBundle, "", "2", "3", "4"}, numbers},
      {{kBundle, "abc", "2", "0.5", "4"}, numbers},
      {{kBundle, "1", "2", "0.5", "4"}, sizes},
      {{kBundle, "1", "2", "3", "-5"}, sizes},
      {{"com.example.absent", "1", "2", "3", "4"}, "not_running"},
  };
  for (const Case& c : cases) {
    sim.clearCalls();
    EXPECT_EQ(failureOf([&] { placeCommand(core, c.args); }), c.failure) << c.args[1];
    EXPECT_TRUE(sim.writes().empty());
  }
}

TEST_F(PlaceCommandTest, ArgumentErrorsComeBeforeTrust) {
  sim.setTrusted(false);
  EXPECT_EQ(failureOf([&] { place({"x", "1", "2", "3"}); }), "bad_args: x y w h must be numbers");
  EXPECT_EQ(failureOf([&] { place(); }), "ax_denied");
  EXPECT_EQ(sim.countCalls("runningApplications"), 0u);
}

TEST_F(PlaceCommandTest, AcceptsNumbersJustInsideTheLimits) {
  JsonObject reply = place({"99999.5", "-99999.5", "1", "1"});
  EXPECT_EQ(rectAt(reply, "requested"), (RectValues{99999.5, -99999.5 - 28, 1, 29}));
}

TEST_F(PlaceCommandTest, NoCandidateOrUnreadableFrameIsNoStreamWindow) {
  sim.failRead(window, "AXPosition", noValue());
  EXPECT_EQ(failureOf([&] { place(); }), "no_stream_window");
  sim.clearFaults();
  sim.window(id).minimized = true;
  EXPECT_EQ(failureOf([&] { place(); }), "no_stream_window");
  EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PlaceCommandTest, FailsWhenNoWriteOfTheFirstFrameSucceeds) {
  sim.failWrite(window, "AXSize", kRefused);
  sim.failWrite(window, "AXPosition", kRefused);
  sim.clearCalls();
  EXPECT_EQ(failureOf([&] { place(); }), "place_failed: AX errors [-25200, -25200, -25200]");
  // Nothing is read back after a failed write.
  EXPECT_EQ(sim.countCalls("copyAttributeValue", "AXPosition", sim::SimPlatform::describe(window)), 1u);
}

TEST_F(PlaceCommandTest, UncreatableValuesWriteNothing) {
  sim.setCreateValueFails(true);
  EXPECT_EQ(failureOf([&] { place(); }), "place_failed: AX errors [-1, -1, -1]");
  EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PlaceCommandTest, OneSuccessfulWriteIsEnough) {
  sim.failWrite(window, "AXPosition", kRefused);
  JsonObject reply = place();
  EXPECT_EQ(axErrorsOf(reply), (std::vector<std::int64_t>{0, kRefused, 0}));
  // The window was resized but not moved.
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{0, 40, 800, 628}));
  EXPECT_EQ(reply.at("clamped"), JsonValue(true));
}

TEST_F(PlaceCommandTest, WritesOnceMoreWhenTheTitlebarChangedAtTheTarget) {
  sim.window(id).titlebarAfterMove = 0;
  JsonObject reply = place();
  EXPECT_EQ(axErrorsOf(reply), (std::vector<std::int64_t>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(reply.at("titlebar"), JsonValue(0.0));
  EXPECT_EQ(reply.at("titlebarSource"), JsonValue("ax_content"));
  EXPECT_EQ(rectAt(reply, "requested"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(rectAt(reply, "content"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(reply.at("clamped"), JsonValue(false));
  EXPECT_EQ(sim.writes().size(), 6u);
}

TEST_F(PlaceCommandTest, SecondWriteCodesAreOnlyReported) {
  sim.window(id).titlebarAfterMove = 0;
  sim.afterWrite = [&](std::size_t writes) {
    if (writes == 3) sim.failWrite(window, "AXPosition", kRefused);
  };
  JsonObject reply = place();
  EXPECT_EQ(axErrorsOf(reply), (std::vector<std::int64_t>{0, 0, 0, 0, kRefused, 0}));
  EXPECT_EQ(rectAt(reply, "requested"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 72, 800, 600}));
  EXPECT_EQ(reply.at("clamped"), JsonValue(true));
}

TEST_F(PlaceCommandTest, NoSecondWriteForSmallChangeOrMissedTarget) {
  struct Case {
    const char* name;
    double titlebarAfterMove;
    double shrinkBy;
  };
  const Case cases[] = {{"half a point", 28.5, 0}, {"target missed", 0, 10}};
  for (const Case& c : cases) {
    sim.window(id).titlebar = 28;
    sim.window(id).titlebarAfterMove = c.titlebarAfterMove;
    sim.window(id).clamp.shrinkBy = c.shrinkBy;
    const std::size_t before = sim.writes().size();
    JsonObject reply = place();
    EXPECT_EQ(axErrorsOf(reply).size(), 3u) << c.name;
    EXPECT_EQ(sim.writes().size() - before, 3u) << c.name;
    EXPECT_EQ(reply.at("titlebar"), JsonValue(28.0)) << c.name;
    EXPECT_EQ(rectAt(reply, "requested"), (RectValues{100, 72, 800, 628})) << c.name;
  }
}

TEST_F(PlaceCommandTest, ReportsWhereAClampedWindowReallyIs) {
  sim.window(id).clamp.shrinkBy = 10;
  JsonObject reply = place();
  EXPECT_EQ(reply.at("clamped"), JsonValue(true));
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 72, 790, 618}));
  EXPECT_EQ(rectAt(reply, "content"), (RectValues{100, 100, 790, 590}));
}

TEST_F(PlaceCommandTest, UnreadableFrameAfterTheWriteIsZero) {
  // A frame JSON cannot carry counts as unreadable too, and so does one
  // whose content area JSON cannot carry: its left edge is at -2e308.
  const platform::AttributeRead infiniteX{platform::ax::kSuccess,
                                          platform::AxValue{1, std::numeric_limits<double>::infinity(), 0}};
  const platform::AttributeRead farX{platform::ax::kSuccess, platform::AxValue{1, -1e308, 72}};
  const platform::AttributeRead negativeWidth{platform::ax::kSuccess, platform::AxValue{2, -1e308, 628}};
  const std::pair<platform::AttributeRead, platform::AttributeRead> unreadable[] = {
      {noValue(), noValue()}, {infiniteX, noValue()}, {farX, negativeWidth}};
  for (const auto& [position, size] : unreadable) {
    sim.clearFaults();
    sim.afterWrite = [&](std::size_t writes) {
      if (writes % 3 != 0) return;
      sim.failRead(window, "AXPosition", position);
      if (size.value) sim.failRead(window, "AXSize", size);
    };
    JsonObject reply = place();
    std::string text;
    EXPECT_TRUE(encodeJson(reply, text));
    EXPECT_EQ(rectAt(reply, "frame"), (RectValues{0, 0, 0, 0}));
    EXPECT_EQ(rectAt(reply, "content"), (RectValues{0, 28, 0, 0}));
    EXPECT_EQ(reply.at("clamped"), JsonValue(true));
    EXPECT_EQ(axErrorsOf(reply).size(), 3u);
  }
}

TEST_F(PlaceCommandTest, UnreadableFrameAfterTheSecondWriteKeepsTheFirstReadBack) {
  sim.window(id).titlebarAfterMove = 0;
  sim.afterWrite = [&](std::size_t writes) {
    if (writes == 6) sim.failRead(window, "AXSize", noValue());
  };
  JsonObject reply = place();
  EXPECT_EQ(axErrorsOf(reply).size(), 6u);
  EXPECT_EQ(rectAt(reply, "frame"), (RectValues{100, 72, 800, 628}));
  EXPECT_EQ(rectAt(reply, "requested"), (RectValues{100, 100, 800, 600}));
  EXPECT_EQ(reply.at("titlebar"), JsonValue(0.0));
}

TEST_F(PlaceCommandTest, IdIsNullWithoutAWindowNumber) {
  sim.setWindowNumberFunctionPresent(false);
  EXPECT_EQ(place().at("id"), JsonValue(nullptr));
}

}  // namespace
}  // namespace kestrove::testing
