#include "app/line_protocol.h"

#include <gtest/gtest.h>

#include "app/utf8_text.h"
#include "platform/sim/sim_platform.h"

namespace kestrove {
namespace {

TEST(Tokenize, SplitsAtSpacesTabsAndCarriageReturnsOnly) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(tokenize(""), Words{});
  EXPECT_EQ(tokenize(" \t\r "), Words{});
  EXPECT_EQ(tokenize("  version\t"), Words{"version"});
  EXPECT_EQ(tokenize("place a\t\t1 \r2"), (Words{"place", "a", "1", "2"}));
  EXPECT_EQ(tokenize("a,b\"c\" d\\e"), (Words{"a,b\"c\"", "d\\e"}));
  EXPECT_EQ(tokenize(std::string("a\0b\nc", 5)), Words{std::string("a\0b\nc", 5)});
}

TEST(RequestId, DecimalNotBelowZeroFittingSixtyFourBits) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> id;
  };
  const Case cases[] = {
      {"12", 12},
      {"007", 7},
      {"+3", 3},
      {"-0", 0},
      {"9223372036854775807", 9223372036854775807LL},
      {"+9223372036854775807", 9223372036854775807LL},
      {"0000000000000000000000000000042", 42},
      {"-0000000000000000000000000000000", 0},
      {"", {}},
      {"+", {}},
      {"-", {}},
      {"x", {}},
      {"-1", {}},
      {"1.5", {}},
      {"1e3", {}},
      {"9223372036854775808", {}},
      {"9223372036854775810", {}},
      {"18446744073709551615", {}},
      // 2^64 and 2^64 + 4 wrapped to 0 and 4 when the step was unchecked.
      {"18446744073709551616", {}},
      {"18446744073709551620", {}},
      {"99999999999999999999", {}},
      {"999999999999999999999999999999", {}},
      {"-9223372036854775808", {}},
      {"-9223372036854775809", {}},
      {"-18446744073709551616", {}},
      {" 1", {}},
      {"0x1", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseRequestId(c.text), c.id) << c.text;
}

TEST(Utf8Text, ReplacesEachIllFormedPartWithOneReplacementCharacter) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"é\u2026", "é\u2026"},
      {"\xff", r},
      {"a\xc3", "a" + r},
      {"\xe2\x80", r},  // truncated three-byte sequence
      {"\xe2\x80x", r + "x"},
      {"\xed\xa0\x80", r + r + r},  // a surrogate: no valid prefix beyond the lead
      {"\xc0\xaf", r + r},          // overlong
      {"\xf4\x90\x80\x80", r + r + r + r},
  };
  for (const auto& c : cases) EXPECT_EQ(toValidUtf8(c.in), c.out) << c.in;
}

class LineHandling : public ::testing::Test {
 protected:
  std::vector<std::string> handle(const std::string& line) {
    lines.clear();
    handleLine(core, line, true);
    return lines;
  }

  sim::SimPlatform sim;
  std::vector<std::string> lines;
  std::optional<int> exited;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  lines.emplace_back(data, size - 1);
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [this](int status) { exited = status; }, HelperState{}};
};

TEST_F(LineHandling, LengthIsCountedInBytesOfTheWholeLine) {
  // "é" is two bytes: 2047 of them plus "#1 unobserve" is well past 4096.
  const std::string exact = "#1 unobserve" + std::string(4096 - 12, ' ');
  EXPECT_EQ(handle(exact), std::vector<std::string>{R"({"id":1,"observing":false,"ok":true})"});
  EXPECT_EQ(handle(exact + " "), std::vector<std::string>{R"({"error":"line_too_long","id":1,"ok":false})"});
  std::string accents = "unobserve ";
  while (accents.size() < 4090) accents += "é";
  EXPECT_EQ(handle(accents + "ééé\t"), std::vector<std::string>{R"({"error":"line_too_long","ok":false})"});
}

TEST_F(LineHandling, OfALongLineOnlyTheFirstWordIsRead) {
  const std::string tail(200000, 'a');
  EXPECT_EQ(handle("  #\xff " + tail), std::vector<std::string>{R"({"error":"bad_id","ok":false})"});
  EXPECT_EQ(handle("\t#8\t" + tail),
            std::vector<std::string>{R"({"error":"line_too_long","id":8,"ok":false})"});
  EXPECT_EQ(handle("\xff\xfe" + tail), std::vector<std::string>{R"({"error":"line_too_long","ok":false})"});
  EXPECT_TRUE(handle(std::string(200000, ' ')).empty());
  EXPECT_TRUE(handle(std::string(200000, '\r') + "\t").empty());
}

TEST_F(LineHandling, InvalidBytesCountAsTheReplacementTheyBecome) {
  // 1400 invalid bytes become 4200 bytes of replacement characters.
  std::string line = "x" + std::string(1400, '\xff');
  EXPECT_EQ(handle(line), std::vector<std::string>{R"({"error":"line_too_long","ok":false})"});
}

TEST_F(LineHandling, QuitEndsTheProcessOnlyAfterASuccessfulReply) {
  EXPECT_EQ(handle("quit now").size(), 1u);
  EXPECT_FALSE(exited);
  EXPECT_EQ(handle("#2 quit"), std::vector<std::string>{R"({"id":2,"ok":true})"});
  EXPECT_EQ(exited, 0);
}

TEST_F(LineHandling, CommandsRunOnlyInLoopModeWhenLoopOnly) {
  lines.clear();
  handleLine(core, "quit", false);
  EXPECT_EQ(lines, std::vector<std::string>{
                       R"({"detail":"quit needs the stdin loop","error":"loop_only","ok":false})"});
  EXPECT_FALSE(exited);
}

}  // namespace
}  // namespace kestrove
