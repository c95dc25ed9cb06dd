// The Escape hold watch through the sim driver. The world presses keys on a
// real clock; a window move after each press marks the point by which any
// "esc_long" for it must have been written (timers fire in deadline order).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "helper_process.h"

namespace kestrove::e2e {
namespace {

using nlohmann::json;

TEST(EscE2E, OnlyAPlainLongHoldIsReportedAndOnlyOnce) {
  if (simBinary().empty()) GTEST_SKIP() << "kestrove-sim is not built";
  HelperProcess helper({simBinary(), worldPath("esc_keys.json")});
  auto next = [&] {
    std::optional<std::string> line = helper.readLine(15s);
    EXPECT_TRUE(line.has_value()) << "no line in time";
    return line.value_or("");
  };
  auto sentinel = [](int n) {
    return R"({"bundleId":"com.example.viewer","event":"moved","frame":{"height":600,"width":800,"x":)" +
           std::to_string(n) + R"(,"y":)" + std::to_string(30 + n) + R"(},"id":7001})";
  };

  helper.send("watch-esc");
  EXPECT_EQ(next(), R"({"holdMs":600,"ok":true,"trusted":true,"watching":true})");
  helper.send("observe com.example.viewer");
  EXPECT_EQ(json::parse(next())["observing"], true);

  // A 150 ms tap, then Command-Escape held for a second: nothing.
  EXPECT_EQ(next(), sentinel(1));
  EXPECT_EQ(next(), sentinel(2));
  // A 1.7 s hold with auto-repeats: one event.
  EXPECT_EQ(next(), R"({"event":"esc_long","heldMs":600})");
  EXPECT_EQ(next(), sentinel(3));

  helper.send("unwatch-esc");
  EXPECT_EQ(next(), R"({"ok":true,"watching":false})");
  helper.closeInput();
  EXPECT_EQ(helper.wait(15s), 0);
}

}  // namespace
}  // namespace kestrove::e2e
