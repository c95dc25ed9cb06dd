#pragma once

#include <cstddef>
#include <functional>

#include "app/line_batch.h"

namespace kestrove {

// Reads file descriptor `fd` to its end and hands its lines to `onBatch`
// (see LineSplitter): all that one read completed, at a time. Then calls
// `onEnd`. A read error counts as the end.
void readLines(int fd, std::size_t maxLineBytes, const std::function<void(LineBatch batch)>& onBatch,
               const std::function<void()>& onEnd);

// Starts the reader thread of loop mode: stdin lines are posted by value to
// the main loop, which handles them one at a time in order; the end of input
// is posted last. Only a few reads wait in the loop at any time: a caller
// that outruns the helper is held back by the pipe.
struct Core;
void startStdinReader(Core& core);

}  // namespace kestrove
