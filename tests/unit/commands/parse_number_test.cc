#include "commands/parse_number.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrove {
namespace {

TEST(ParseNumber, AcceptsWhatStrtodReadsWhole) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {{"12", 12},  {"-3.5", -3.5},       {"+7", 7},    {"1e3", 1000},  {"0x10", 16},
                        {".5", 0.5}, {"99999.5", 99999.5}, {"-0", -0.0}, {"1E-2", 0.01}, {"0x1p4", 16}};
  for (const auto& c : cases) {
    auto parsed = parseNumber(c.text);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
}

TEST(ParseNumber, RefusesAnythingElse) {
  const std::string_view texts[] = {"",
                                    " 5",
                                    "5 ",
                                    "\t5",
                                    "\n5",
                                    "5\n",
                                    "5px",
                                    "1,5",
                                    "abc",
                                    "+",
                                    "-",
                                    ".",
                                    "e3",
                                    "0x",
                                    std::string_view("5\0", 2),
                                    std::string_view("\0"
                                                     "5",
                                                     2)};
  for (std::string_view text : texts) {
    EXPECT_FALSE(parseNumber(text)) << "[" << text << "]";
  }
}

TEST(ParseNumber, SpellingsOfInfinityAndNanConvertForTheCallerToRefuse) {
  EXPECT_TRUE(std::isinf(*parseNumber("inf")));
  EXPECT_TRUE(std::isinf(*parseNumber("-Infinity")));
  EXPECT_TRUE(std::isnan(*parseNumber("nan")));
  EXPECT_TRUE(std::isinf(*parseNumber("1e999")));
}

}  // namespace
}  // namespace kestrove
