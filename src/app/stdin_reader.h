#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrove {

// Reads file descriptor `fd` to its end and hands its bytes to `onBlock` as
// blocks of complete lines, each followed by its "\n": everything one read
// completed, at a time. A last line without a terminator gets one. Then calls
// `onEnd`. A read error counts as the end.
void readLineBlocks(int fd, const std::function<void(std::string block)>& onBlock,
                    const std::function<void()>& onEnd);

// Calls `onLine` for each line of a block, in order, without its "\n" or
// "\r\n" terminator.
void forEachLine(std::string_view block, const std::function<void(std::string_view line)>& onLine);

// Starts the reader thread of loop mode: stdin lines are posted by value to
// the main loop, which handles them one at a time in order; the end of input
// is posted last.
struct Core;
void startStdinReader(Core& core);

}  // namespace kestrove
