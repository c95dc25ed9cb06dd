#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrove {

// One stdin line as the reader hands it on.
struct InputLine {
  std::string_view text;
  // The line was longer than the limit: `text` holds only its first word.
  bool overLimit = false;
};

// The lines of one read, in order, handed from the reader thread to the main
// loop as one work item. Held in one string: each line as a flag byte, its
// text and a line feed (a line never holds one).
class LineBatch {
 public:
  void add(std::string_view text, bool overLimit) {
    text_ += overLimit ? kOverLimit : kWithinLimit;
    text_ += text;
    text_ += '\n';
  }
  bool empty() const { return text_.empty(); }

  template <typename OnLine>
  void forEach(OnLine&& onLine) const {
    std::string_view rest = text_;
    while (!rest.empty()) {
      std::size_t end = rest.find('\n');
      onLine(InputLine{rest.substr(1, end - 1), rest[0] == kOverLimit});
      rest.remove_prefix(end + 1);
    }
  }

 private:
  static constexpr char kWithinLimit = '0';
  static constexpr char kOverLimit = '1';
  std::string text_;
};

}  // namespace kestrove
