// The shipped helper through pipes: run modes, the line protocol, exit codes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <thread>

#include "helper_process.h"

namespace kestrove::e2e {
namespace {

using nlohmann::json;

// Replaces the values that differ from run to run with fixed marks.
std::string normalised(const std::string& line) {
  json value = json::parse(line);
  if (value.contains("pid")) {
    EXPECT_TRUE(value["pid"].is_number_integer()) << line;
    value["pid"] = "PID";
  }
  if (value.contains("macos")) {
    EXPECT_TRUE(value["macos"].is_string()) << line;
    value["macos"] = "OS";
  }
  return value.dump();
}

const std::string kVersion =
    R"({"coords":"top-left-global-points","helper":"kestrove","macos":"OS","ok":true,"pid":"PID","protocol":1,"version":")" KESTROVE_PROJECT_VERSION R"("})";

std::string versionWithId(std::int64_t id) {
  json value = json::parse(kVersion);
  value["id"] = id;
  return value.dump();
}

struct OneShotCase {
  std::vector<std::string> args;
  std::string line;
  int status;
};

TEST(OneShot, RepliesOnceAndExitsByOk) {
  const std::string fifty(50, 'x');
  const std::vector<OneShotCase> cases = {
      {{"version"}, kVersion, 0},
      {{"nosuchcmd"}, R"({"detail":"nosuchcmd","error":"unknown_command","ok":false})", 1},
      {{""}, R"({"detail":"","error":"unknown_command","ok":false})", 1},
      {{"version "}, R"({"detail":"version ","error":"unknown_command","ok":false})", 1},
      {{"Version"}, R"({"detail":"Version","error":"unknown_command","ok":false})", 1},
      {{fifty}, R"({"detail":")" + std::string(40, 'x') + R"(","error":"unknown_command","ok":false})", 1},
      {{"version", "x"}, R"({"detail":"version takes no arguments","error":"bad_args","ok":false})", 1},
      {{"screens", "x"}, R"({"detail":"screens takes no arguments","error":"bad_args","ok":false})", 1},
      {{"observe", "com.example.app"},
       R"({"detail":"observe needs the stdin loop","error":"loop_only","ok":false})",
       1},
      {{"quit"}, R"({"detail":"quit needs the stdin loop","error":"loop_only","ok":false})", 1},
      {{"unobserve", "x"},
       R"({"detail":"unobserve needs the stdin loop","error":"loop_only","ok":false})",
       1},
      {{"watch-esc", "100"},
       R"({"detail":"watch-esc needs the stdin loop","error":"loop_only","ok":false})",
       1},
      {{"unwatch-esc"}, R"({"detail":"unwatch-esc needs the stdin loop","error":"loop_only","ok":false})", 1},
      {{"selftest-esc"},
       R"({"detail":"selftest-esc needs the stdin loop","error":"loop_only","ok":false})",
       1},
      {{"\xff"}, R"({"detail":"\ufffd","error":"unknown_command","ok":false})", 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {helperBinary()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Finished run = runToEnd(argv);
    ASSERT_EQ(run.lines.size(), 1u) << c.args[0] << ": " << run.output;
    EXPECT_EQ(normalised(run.lines[0]), json::parse(c.line).dump()) << c.args[0];
    EXPECT_EQ(run.status, c.status) << c.args[0];
  }
}

TEST(OneShot, LongArgumentIsNotLimited) {
  std::string name(5000, 'a');
  Finished run = runToEnd({helperBinary(), name});
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_EQ(json::parse(run.lines[0])["detail"], std::string(40, 'a'));
}

struct LoopCase {
  std::string input;
  std::vector<std::string> lines;
};

TEST(Loop, LineProtocolTable) {
  const std::string long4096 = "#4 version" + std::string(4096 - 10, ' ');
  const std::vector<LoopCase> cases = {
      {"version\n", {kVersion}},
      {"#12 version\n", {versionWithId(12)}},
      {"#12\n", {R"({"detail":"empty command","error":"bad_args","id":12,"ok":false})"}},
      {"#\n#x version\n#-1 version\n#1.5 version\n#99999999999999999999 version\n# version\n",
       std::vector<std::string>(6, R"({"error":"bad_id","ok":false})")},
      {"#+3 version\n#-0 version\n#007 version\n", {versionWithId(3), versionWithId(0), versionWithId(7)}},
      {"#9223372036854775807 version\n#+9223372036854775807 version\n#0000000000000000000000000000042 "
       "version\n",
       {versionWithId(9223372036854775807), versionWithId(9223372036854775807), versionWithId(42)}},
      {"#9223372036854775808 version\n#18446744073709551616 version\n#18446744073709551620 version\n#" +
           std::string(30, '9') + " version\n#-9223372036854775808 version\n#-9223372036854775809 version\n",
       std::vector<std::string>(6, R"({"error":"bad_id","ok":false})")},
      {"\n" + std::string(5000, ' ') + "\n\t\r\n", {}},
      {"  version\t\n", {kVersion}},
      {"version\r\n", {kVersion}},
      {"version,\n", {R"({"detail":"version,","error":"unknown_command","ok":false})"}},
      {long4096 + "\n", {versionWithId(4)}},
      {long4096 + "\r\n", {versionWithId(4)}},
      {long4096 + " \n", {R"({"error":"line_too_long","id":4,"ok":false})"}},
      // Without a line feed after it, a last carriage return is the line's.
      {long4096 + "\r", {R"({"error":"line_too_long","id":4,"ok":false})"}},
      {"#" + std::string(5000, '0') + "5 version\n", {R"({"error":"line_too_long","id":5,"ok":false})"}},
      {"#6 " + std::string(20 << 20, 'a') + "\n#7 version\n",
       {R"({"error":"line_too_long","id":6,"ok":false})", versionWithId(7)}},
      {std::string(5 << 20, '9'), {R"({"error":"line_too_long","ok":false})"}},
      {"#z " + std::string(5000, 'a') + "\n", {R"({"error":"bad_id","ok":false})"}},
      {"unobserve\n", {R"({"observing":false,"ok":true})"}},
      {"unobserve now\n", {R"({"detail":"unobserve takes no arguments","error":"bad_args","ok":false})"}},
      {"quit now\nversion\n",
       {R"({"detail":"quit takes no arguments","error":"bad_args","ok":false})", kVersion}},
      {"selftest-esc\n", {R"({"detail":"selftest-esc","error":"unknown_command","ok":false})"}},
      {"#3 quit\nversion\n", {R"({"id":3,"ok":true})"}},
      {"version\nversion\nversion", {kVersion, kVersion, kVersion}},
      {std::string("ver\0sion\n", 9), {R"({"detail":"ver\u0000sion","error":"unknown_command","ok":false})"}},
  };
  for (const auto& c : cases) {
    Finished run = runToEnd({helperBinary()}, c.input);
    EXPECT_EQ(run.status, 0) << c.input.substr(0, 40);
    ASSERT_EQ(run.lines.size(), c.lines.size()) << c.input.substr(0, 40) << "\n" << run.output;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ(normalised(run.lines[i]), json::parse(c.lines[i]).dump()) << c.input.substr(0, 40);
    }
  }
}

TEST(Loop, NothingIsWrittenBeforeALineArrives) {
  HelperProcess helper({helperBinary()});
  EXPECT_TRUE(helper.readFor(300ms).empty());
  helper.send("#1 version");
  auto line = helper.readLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(normalised(*line), versionWithId(1));
  helper.closeInput();
  EXPECT_EQ(helper.wait(), 0);
}

TEST(Loop, HundredThousandLinesAnsweredInOrder) {
  constexpr int kLines = 100000;
  std::string input;
  for (int i = 0; i < kLines; ++i) input += "#" + std::to_string(i) + " unobserve\n";
  Finished run = runToEnd({helperBinary()}, input, 120s);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), static_cast<std::size_t>(kLines));
  for (int i = 0; i < kLines; ++i) {
    ASSERT_EQ(run.lines[i], R"({"id":)" + std::to_string(i) + R"(,"observing":false,"ok":true})");
  }
}

TEST(Loop, ACallerThatDoesNotReadIsHeldBackAndLosesNothing) {
  constexpr int kLines = 300000;
  std::string input;
  for (int i = 0; i < kLines; ++i) input += "#" + std::to_string(i) + " unobserve\n";
  HelperProcess helper({helperBinary()});
  std::atomic<std::size_t> sent{0};
  std::thread feeder([&] {
    helper.sendRaw(input, &sent);
    helper.closeInput();
  });
  // Nobody reads the replies until the writer has been still for a while.
  std::size_t last = 0;
  for (auto stillSince = std::chrono::steady_clock::now();
       std::chrono::steady_clock::now() - stillSince < 500ms;) {
    std::this_thread::sleep_for(20ms);
    if (sent.load() != last) {
      last = sent.load();
      stillSince = std::chrono::steady_clock::now();
    }
  }
  // What it took is its few reads in flight and the pipes, not all of it.
  EXPECT_LT(sent.load(), std::size_t{2} << 20);
  for (int i = 0; i < kLines; ++i) {
    auto line = helper.readLine();
    ASSERT_TRUE(line) << "reply " << i;
    ASSERT_EQ(*line, R"({"id":)" + std::to_string(i) + R"(,"observing":false,"ok":true})");
  }
  feeder.join();
  EXPECT_EQ(helper.wait(), 0);
}

TEST(ClosedOutput, EndsTheLoopWithStatusZero) {
  HelperProcess helper({helperBinary()}, true);
  helper.send("version");
  EXPECT_EQ(helper.wait(), 0);
}

TEST(ClosedOutput, EndsOneShotWithStatusZeroEvenForAFailure) {
  for (const char* command : {"version", "nosuchcmd"}) {
    HelperProcess helper({helperBinary(), command}, true);
    EXPECT_EQ(helper.wait(), 0) << command;
  }
}

}  // namespace
}  // namespace kestrove::e2e
