#include "app/stdin_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace kestrove {
namespace {

std::vector<std::string> linesOf(const std::string& input) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
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
  std::vector<std::string> lines;
  bool ended = false;
  readLineBlocks(
      fds[0],
      [&](std::string block) {
        EXPECT_FALSE(block.empty());
        EXPECT_EQ(block.back(), '\n');
        forEachLine(block, [&](std::string_view line) { lines.emplace_back(line); });
      },
      [&] { ended = true; });
  feeder.join();
  close(fds[0]);
  EXPECT_TRUE(ended);
  return lines;
}

TEST(ReadLineBlocks, StripsTerminatorsAndKeepsALastUnterminatedLine) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(linesOf(""), Lines{});
  EXPECT_EQ(linesOf("a\nb\r\n\nc"), (Lines{"a", "b", "", "c"}));
  EXPECT_EQ(linesOf("a\r\r\n"), (Lines{"a\r"}));
  EXPECT_EQ(linesOf("x\ry\n"), (Lines{"x\ry"}));
}

TEST(ReadLineBlocks, ReadsAVeryLongLineWhole) {
  std::string big(300000, 'q');
  auto lines = linesOf(big + "\nend\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], big);
  EXPECT_EQ(lines[1], "end");
}

}  // namespace
}  // namespace kestrove
