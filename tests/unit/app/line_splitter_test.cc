#include "app/line_splitter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "app/stdin_reader.h"

namespace kestrove {
namespace {

struct Line {
  std::string text;
  bool overLimit;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
  return out << (line.overLimit ? "over:" : "") << '"' << line.text << '"';
}

using Lines = std::vector<Line>;

void collect(const LineBatch& batch, Lines& lines) {
  batch.forEach([&](InputLine line) { lines.push_back({std::string(line.text), line.overLimit}); });
}

// The lines of `input` fed `chunk` bytes at a time.
Lines split(std::string_view input, std::size_t maxLineBytes, std::size_t chunk) {
  LineSplitter splitter(maxLineBytes);
  Lines lines;
  for (std::size_t at = 0; at < input.size(); at += chunk) {
    LineBatch batch;
    splitter.feed(input.substr(at, chunk), batch);
    collect(batch, lines);
  }
  LineBatch last;
  splitter.finish(last);
  collect(last, lines);
  return lines;
}

TEST(LineSplitter, TerminatorsLimitAndWhatIsKeptOfALongLine) {
  struct Case {
    std::string input;
    Lines lines;
  };
  const std::string eight = "12345678";
  // With a limit of 8 bytes.
  const Case cases[] = {
      {"", {}},
      {"a\nb\r\n\nc", {{"a", false}, {"b", false}, {"", false}, {"c", false}}},
      {"a\r\r\n", {{"a\r", false}}},
      {"x\ry\n", {{"x\ry", false}}},
      // A carriage return ends a line only with a line feed after it.
      {"abc\r", {{"abc\r", false}}},
      {eight + "\r\n", {{eight, false}}},
      {eight + "\n" + eight, {{eight, false}, {eight, false}}},
      {eight + "\r", {{eight, true}}},
      {eight + " \r\n", {{eight, true}}},
      {"123456789\nok\n", {{"123456789", true}, {"ok", false}}},
      // Of a long line only the first word is kept.
      {"#4 version\n", {{"#4", true}}},
      {" \t#7\rlong long long", {{"#7", true}}},
      {std::string(20, ' ') + "\n", {{"", true}}},
      {std::string(20, '\r') + "\r\n", {{"", true}}},
      // An id keeps its value whatever its leading zeros...
      {"#" + std::string(50, '0') + "42 x\n", {{"#42", true}}},
      {"#+" + std::string(50, '0') + " x\n", {{"#+0", true}}},
      {"#-" + std::string(50, '0') + "\n", {{"#-0", true}}},
      // ...and a word too long to be one is cut, still not one.
      {"#" + std::string(40, '9') + "\n", {{"#" + std::string(31, '9'), true}}},
      {"#12x" + std::string(40, '0') + "\n", {{"#12x" + std::string(28, '0'), true}}},
      {std::string(40, 'w') + "\n", {{std::string(32, 'w'), true}}},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
      EXPECT_EQ(split(c.input, 8, chunk), c.lines) << '"' << c.input << "\" in chunks of " << chunk;
    }
  }
}

TEST(LineSplitter, ALineOfAnyLengthIsCountedNotKept) {
  const std::string line = "#9 " + std::string(5000000, 'a');
  const Lines expected = {{"#9", true}, {"version", false}};
  EXPECT_EQ(split(line + "\nversion\n", 4096, 65536), expected);
  const std::string exact = "#1 " + std::string(4093, 'b');
  EXPECT_EQ(split(exact + "\r\n", 4096, 65536), (Lines{{exact, false}}));
  EXPECT_EQ(split(exact + "\r", 4096, 65536), (Lines{{"#1", true}}));
}

TEST(ReadLines, HandsOnEveryLineInOrderThenTheEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string input;
  for (int i = 0; i < 50000; ++i) input += "#" + std::to_string(i) + (i % 1000 ? " v\n" : " v\r\n");
  input += "last\r";
  std::thread feeder([&] {
    std::size_t at = 0;
    while (at < input.size()) {
      // Odd chunk sizes so lines straddle reads.
      ssize_t n = write(fds[1], input.data() + at, std::min<std::size_t>(7777, input.size() - at));
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  Lines lines;
  bool ended = false;
  readLines(
      fds[0], 4096,
      [&](LineBatch batch) {
        EXPECT_FALSE(ended);
        EXPECT_FALSE(batch.empty());
        collect(batch, lines);
      },
      [&] { ended = true; });
  feeder.join();
  close(fds[0]);
  EXPECT_TRUE(ended);
  ASSERT_EQ(lines.size(), 50001u);
  for (int i = 0; i < 50000; ++i) ASSERT_EQ(lines[i], (Line{"#" + std::to_string(i) + " v", false}));
  EXPECT_EQ(lines.back(), (Line{"last\r", false}));
}

}  // namespace
}  // namespace kestrove
