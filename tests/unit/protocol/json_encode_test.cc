#include "protocol/json_encode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrove {
namespace {

std::string encoded(const JsonObject& object) {
  std::string out;
  EXPECT_TRUE(encodeJson(object, out));
  return out;
}

TEST(JsonEncode, SortsKeysAtEveryLevelAndStaysOnOneLine) {
  JsonObject inner{{"y", 1}, {"b", JsonArray{JsonObject{{"z", true}, {"a", nullptr}}}}};
  JsonObject object{{"zeta", "last"}, {"alpha", inner}, {"Mid", false}};
  EXPECT_EQ(encoded(object), R"({"Mid":false,"alpha":{"b":[{"a":null,"z":true}],"y":1},"zeta":"last"})");
}

TEST(JsonEncode, NumbersRoundTripAndIntegersStayIntegers) {
  struct Case {
    JsonValue value;
    std::string text;
  };
  const Case cases[] = {
      {JsonValue(std::int64_t{-9223372036854775807LL - 1}), "-9223372036854775808"},
      {JsonValue(25.0), "25"},
      {JsonValue(982.5), "982.5"},
      {JsonValue(0.1), "0.1"},
      {JsonValue(-1080.0), "-1080"},
      {JsonValue(1.0 / 3.0), "0.3333333333333333"},
      {JsonValue(1e300), "1e+300"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encoded(JsonObject{{"v", c.value}}), R"({"v":)" + c.text + "}");
  }
  // Whatever the text, it must read back as the same double.
  for (double d : {0.1 + 0.2, 123456.789, 5e-324, -2.5e-7}) {
    std::string text = encoded(JsonObject{{"v", d}});
    EXPECT_EQ(std::strtod(text.c_str() + 5, nullptr), d) << text;
  }
}

TEST(JsonEncode, EscapesControlCharactersAndKeepsUnicode) {
  std::string s = std::string("a\"b\\c\n\t\x01", 8) + std::string(1, '\0') + "é\u2026";
  EXPECT_EQ(encoded(JsonObject{{"s", s}}), "{\"s\":\"a\\\"b\\\\c\\n\\t\\u0001\\u0000é\u2026\"}");
}

// Plain runs are checked eight bytes at a time: a byte that needs escaping
// must be caught in every lane and in the tail.
TEST(JsonEncode, EscapesAtEveryPositionOfALongString) {
  struct Special {
    std::string raw;
    std::string written;
  };
  const Special specials[] = {
      {"\"", "\\\""},   {"\\", "\\\\"},           {"\n", "\\n"}, {"\x1f", "\\u001f"},
      {"\x7f", "\x7f"}, {"\xc3\xa9", "\xc3\xa9"}, {" ", " "},    {std::string(1, '\0'), "\\u0000"}};
  for (const auto& special : specials) {
    for (std::size_t at = 0; at <= 19; ++at) {
      std::string raw(19, 'k');
      std::string expected = raw;
      raw.insert(at, special.raw);
      expected.insert(at, special.written);
      EXPECT_EQ(encoded(JsonObject{{"s", raw}}), "{\"s\":\"" + expected + "\"}") << at;
    }
  }
}

TEST(JsonEncode, RefusesWhatCannotBeEncoded) {
  const JsonValue bad[] = {
      JsonValue(std::numeric_limits<double>::quiet_NaN()),
      JsonValue(std::numeric_limits<double>::infinity()),
      JsonValue(-std::numeric_limits<double>::infinity()),
      JsonValue(std::string("\xff")),
      JsonValue(std::string("\xed\xa0\x80")),  // a surrogate
      JsonValue(std::string("\xc0\xaf")),      // overlong
      JsonValue(JsonArray{JsonObject{{"deep", std::nan("")}}}),
  };
  for (const auto& value : bad) {
    std::string out;
    EXPECT_FALSE(encodeJson(JsonObject{{"v", value}}, out)) << out;
  }
  std::string out;
  EXPECT_FALSE(encodeJson(JsonObject{{std::string("\xff"), 1}}, out));
}

}  // namespace
}  // namespace kestrove
