#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/line_batch.h"

namespace kestrove {

// Cuts stdin's bytes into lines as they come. A line ends at a line feed, and
// a carriage return right before it belongs to the terminator; a last line
// that input ends without a line feed is taken as it stands, a final carriage
// return included (it is then a separator, and counts toward the limit).
//
// A line longer than `maxLineBytes` is never held whole, however long it
// grows: its answer needs only its first word (a request id to echo), so that
// is kept, the rest is counted out and dropped, and memory stays bounded.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t maxLineBytes);

  // Adds `bytes` to the line in hand; each line they complete goes to `out`.
  void feed(std::string_view bytes, LineBatch& out);
  // The end of input: a last line without its line feed goes to `out`.
  void finish(LineBatch& out);

 private:
  void append(std::string_view part);
  void endLine(LineBatch& out, bool atEndOfInput);
  void keepFirstWord(std::string_view part);
  void keep(char c);

  const std::size_t maxLineBytes_;
  std::string line_;   // the line so far, while it may still be within the limit
  bool over_ = false;  // the line in hand is past the limit
  enum class Word { Before, In, After } word_ = Word::Before;
  std::string firstWord_;  // of a line past the limit
};

}  // namespace kestrove
