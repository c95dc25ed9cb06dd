#include "commands/graphemes.h"

#include <gtest/gtest.h>

namespace kestrove {
namespace {

TEST(Graphemes, CountsUserPerceivedCharactersNotBytes) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one cluster, many code points
  const std::string eAcute = "e\u0301";                                     // e + combining accent
  const std::string flag = "\U0001F1E9\U0001F1EA";                          // a regional-indicator pair
  struct Case {
    std::string text;
    std::size_t count;
    std::string expected;
  };
  const Case cases[] = {
      {"abcdef", 3, "abc"},
      {"ab", 40, "ab"},
      {"", 40, ""},
      {eAcute + eAcute + "x", 2, eAcute + eAcute},
      {family + "z", 1, family},
      {flag + flag, 1, flag},
      {"\r\nx", 1, "\r\n"},
      {std::string(50, 'x'), 40, std::string(40, 'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(firstGraphemes(c.text, c.count), c.expected) << c.text;
}

}  // namespace
}  // namespace kestrove
