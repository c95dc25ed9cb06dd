#include "platform/macos/portable/utf8_runs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "commands/graphemes.h"

namespace kestrove::platform::macos {
namespace {

std::string describe(std::string_view text) {
  std::string out;
  for (const auto& piece : splitUtf8(text)) {
    out += piece.valid ? "V" : "x";
    out += std::to_string(piece.offset) + "+" + std::to_string(piece.length) + " ";
  }
  return out;
}

TEST(MacUtf8Runs, SplitsWellFormedRunsFromStrayBytes) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"version", "V0+7 "},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "V0+10 "},
      {"a\xFF"
       "b",
       "V0+1 x1+1 V2+1 "},
      {"\xC0\xAF", "x0+1 x1+1 "},           // overlong '/'
      {"\xED\xA0\x80", "x0+1 x1+1 x2+1 "},  // a surrogate
      {"x\xE2\x82", "V0+1 x1+1 x2+1 "},     // cut short at the end
      {"\xE2\x82"
       "A",
       "x0+1 x1+1 V2+1 "},                           // cut short before ASCII
      {"\xF4\x8F\xBF\xBF", "V0+4 "},                 // U+10FFFF
      {"\xF4\x90\x80\x80", "x0+1 x1+1 x2+1 x3+1 "},  // beyond U+10FFFF
      {"\xE0\x9F\xBF", "x0+1 x1+1 x2+1 "},           // overlong three-byte form
      {std::string("a\0b", 3), "V0+3 "},             // NUL is a character
  };
  for (const auto& c : cases) EXPECT_EQ(describe(c.text), c.expected) << c.text;
}

TEST(MacUtf8Runs, MapsUtf16IndexToByteOffset) {
  const std::string text =
      "a\xC3\xA9\xF0\x9F\x98\x80"
      "b";  // a, é (1 unit), 😀 (2 units), b
  struct Case {
    std::size_t utf16;
    std::size_t bytes;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, 3}, {4, 7}, {5, 8}, {99, 8}};
  for (const auto& c : cases) EXPECT_EQ(utf8OffsetOfUtf16Index(text, c.utf16), c.bytes) << c.utf16;
}

TEST(MacUtf8Runs, Utf16KeepsEveryCharacterAndRefusesIllFormedText) {
  struct Case {
    std::string text;
    std::optional<std::u16string> expected;
  };
  const Case cases[] = {
      {"", u""},
      {"version", u"version"},
      // A leading byte-order mark is a character like any other (CoreFoundation's
      // UTF-8 decoding would drop it); so is a second one.
      {"\xEF\xBB\xBF"
       "ab",
       std::u16string{0xFEFF, u'a', u'b'}},
      {"\xEF\xBB\xBF\xEF\xBB\xBF", std::u16string{0xFEFF, 0xFEFF}},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", std::u16string{0xD83D, 0xDE00}},
      {"\xF4\x8F\xBF\xBF", std::u16string{0xDBFF, 0xDFFF}},  // U+10FFFF
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"a\xFF", std::nullopt},
      {"\xED\xA0\x80", std::nullopt},  // a surrogate
      {"\xC0\xAF", std::nullopt},       // overlong
      {"\xE2\x82", std::nullopt},       // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(utf16OfUtf8(c.text), c.expected) << c.text;
}

TEST(MacUtf8Runs, Utf16IndicesMapBackOntoTheSameBytes) {
  // The grapheme walk takes UTF-16 indices from the string built from
  // utf16OfUtf8 and maps them back with utf8OffsetOfUtf16Index: both must
  // count the same units, a leading byte-order mark included.
  const std::string text =
      "\xEF\xBB\xBF"
      "a\xC3\xA9\xF0\x9F\x98\x80"
      "b";
  const std::optional<std::u16string> units = utf16OfUtf8(text);
  ASSERT_TRUE(units.has_value());
  ASSERT_EQ(units->size(), 6u);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 1), 3u);  // after the mark
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, 2), 4u);
  EXPECT_EQ(utf8OffsetOfUtf16Index(text, units->size()), text.size());
}

// On Apple, firstGraphemes counts each stray byte as one character, as the
// utf8proc version does here; both must agree on which bytes are stray. With
// text whose valid characters are each a cluster of their own, counting
// pieces must cut where the core's segmentation cuts.
TEST(MacUtf8Runs, StrayBytesAgreeWithTheCoreSegmentation) {
  const std::string texts[] = {
      "a\xFF"
      "b\xC3\xA9",
      "\xE2\x82"
      "A\xF0\x9F\x98\x80",
      "\xED\xA0\x80z",
      "\xC0\xAF\xF4\x90\x80\x80!",
      "\xF0\x9F\x98\xE2\x82\xAC",  // a cut-short emoji, then the euro sign
      "\xEF\xBB\xBF"
      "ab\xFF\xEF\xBB\xBF"
      "c",  // byte-order marks opening a run: a character each
  };
  for (const auto& text : texts) {
    std::vector<std::size_t> cuts;  // byte offset after each character
    for (const auto& piece : splitUtf8(text)) {
      if (!piece.valid) {
        cuts.push_back(piece.offset + 1);
        continue;
      }
      std::string_view run = std::string_view(text).substr(piece.offset, piece.length);
      // Each code point a character: a cut wherever the byte offset moves on.
      std::size_t last = 0;
      for (std::size_t units = 1; last < run.size(); ++units) {
        std::size_t end = utf8OffsetOfUtf16Index(run, units);
        if (end != last) cuts.push_back(piece.offset + end);
        last = end;
      }
    }
    for (std::size_t n = 1; n <= cuts.size(); ++n) {
      EXPECT_EQ(firstGraphemes(text, n), text.substr(0, cuts[n - 1]))
          << "text #" << &text - texts << " n=" << n;
    }
  }
}

}  // namespace
}  // namespace kestrove::platform::macos
