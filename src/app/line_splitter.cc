#include "app/line_splitter.h"

namespace kestrove {
namespace {

// A request id needs at most 21 bytes ("#", a sign, 19 digits once leading
// zeros are dropped); a longer first word is no id, and neither is what is
// kept of it.
constexpr std::size_t kKeptWordBytes = 32;

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

LineSplitter::LineSplitter(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {
  line_.reserve(maxLineBytes_ + 1);
}

void LineSplitter::feed(std::string_view bytes, LineBatch& out) {
  while (!bytes.empty()) {
    std::size_t newline = bytes.find('\n');
    append(bytes.substr(0, newline));
    if (newline == std::string_view::npos) return;
    endLine(out, false);
    bytes.remove_prefix(newline + 1);
  }
}

void LineSplitter::finish(LineBatch& out) {
  if (over_ || !line_.empty()) endLine(out, true);
}

void LineSplitter::append(std::string_view part) {
  if (!over_) {
    // One byte more than the limit may still be a carriage return that the
    // line feed after it turns into part of the terminator.
    std::size_t room = maxLineBytes_ + 1 - line_.size();
    if (part.size() <= room) {
      line_.append(part);
      return;
    }
    line_.append(part.substr(0, room));
    part.remove_prefix(room);
    over_ = true;
    keepFirstWord(line_);
    line_.clear();
  }
  keepFirstWord(part);
}

void LineSplitter::endLine(LineBatch& out, bool atEndOfInput) {
  if (!over_) {
    std::string_view text = line_;
    if (!atEndOfInput && !text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() <= maxLineBytes_) {
      out.add(text, false);
      line_.clear();
      return;
    }
    keepFirstWord(text);
  }
  out.add(firstWord_, true);
  line_.clear();
  over_ = false;
  word_ = Word::Before;
  firstWord_.clear();
}

void LineSplitter::keepFirstWord(std::string_view part) {
  for (char c : part) {
    if (word_ == Word::After) return;
    if (isSeparator(c)) {
      if (word_ == Word::In) word_ = Word::After;
      continue;
    }
    word_ = Word::In;
    keep(c);
  }
}

void LineSplitter::keep(char c) {
  // An id keeps its value in few bytes: leading zeros go as the digits come
  // ("#000123" is kept as "#123", "#-000" as "#-0").
  const std::string_view word = firstWord_;
  if (isDigit(c) && (word == "#0" || word == "#+0" || word == "#-0")) {
    firstWord_.back() = c;
    return;
  }
  if (firstWord_.size() < kKeptWordBytes) firstWord_ += c;
}

}  // namespace kestrove
