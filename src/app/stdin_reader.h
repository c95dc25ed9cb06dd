#pragma once

#include <functional>
#include <string>

namespace kestrove {

// Reads file descriptor `fd` to its end and hands every line (terminator
// stripped: "\n" or "\r\n") to `onLine`, then calls `onEnd`. A read error
// counts as the end. A last line without a terminator is still a line.
void readLines(int fd, const std::function<void(std::string line)>& onLine,
               const std::function<void()>& onEnd);

// Starts the reader thread of loop mode: every stdin line is posted by value
// to the main loop, which handles it; the end of input is posted last.
struct Core;
void startStdinReader(Core& core);

}  // namespace kestrove
