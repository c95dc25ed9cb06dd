#include "protocol/json_encode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrove {
namespace {

// Length of the well-formed UTF-8 sequence at `s[i]`, or 0 when it is not one.
std::size_t utf8SequenceLength(const std::string& s, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  std::size_t left = s.size() - i;
  auto cont = [&](std::size_t k) { return (byte(i + k) & 0xC0) == 0x80; };
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && cont(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !cont(1) || !cont(2)) return 0;
    if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !cont(1) || !cont(2) || !cont(3)) return 0;
    if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

// Bytes that can be copied as they are: printable ASCII but the quote and
// the backslash. A table, because this test runs for every byte written.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

bool isPlain(unsigned char c) { return kPlain[c]; }

// Whether every byte is plain, eight at a time: a byte below 0x20, at or above
// 0x80, a quote or a backslash sets the high bit of its lane.
bool allPlain(const char* at, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  auto hasZeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  while (end - at >= 8) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    std::uint64_t bad = word & kHighs;              // 0x80 and above
    bad |= (word - kOnes * 0x20) & ~word & kHighs;  // below 0x20
    bad |= hasZeroByte(word ^ (kOnes * '"'));
    bad |= hasZeroByte(word ^ (kOnes * '\\'));
    if (bad != 0) return false;
    at += 8;
  }
  for (; at != end; ++at) {
    if (!isPlain(static_cast<unsigned char>(*at))) return false;
  }
  return true;
}

// Appends into a string used as a plain buffer: its size is capacity, and the
// text written so far is the first `size()` bytes. Growing only when full
// keeps the writer's per-byte cost to a store.
class Sink {
 public:
  Sink(std::string& buffer, std::size_t start) : buffer_(buffer), size_(start) {}

  void push_back(char c) {
    room(1);
    buffer_[size_++] = c;
  }
  void append(const char* text, std::size_t length) {
    room(length);
    std::memcpy(buffer_.data() + size_, text, length);
    size_ += length;
  }
  void operator+=(const char* text) { append(text, std::strlen(text)); }
  // `text` between double quotes, with room made once.
  void appendQuoted(const char* text, std::size_t length) {
    room(length + 2);
    char* to = buffer_.data() + size_;
    to[0] = '"';
    std::memcpy(to + 1, text, length);
    to[length + 1] = '"';
    size_ += length + 2;
  }
  std::size_t size() const { return size_; }

 private:
  void room(std::size_t more) {
    if (size_ + more > buffer_.size()) buffer_.resize(std::max(buffer_.size() * 2, size_ + more + 256));
  }

  std::string& buffer_;
  std::size_t size_;
};

bool encodeString(const std::string& s, Sink& out) {
  // Nearly every string is all plain: copy it in one go.
  const char* begin = s.data();
  const char* end = begin + s.size();
  if (allPlain(begin, end)) {
    out.appendQuoted(begin, s.size());
    return true;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy runs of plain bytes at once: nearly every string is all plain.
    std::size_t run = i;
    while (run < s.size() && isPlain(static_cast<unsigned char>(s[run]))) ++run;
    out.append(s.data() + i, run - i);
    i = run;
    if (i == s.size()) break;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      std::size_t n = utf8SequenceLength(s, i);
      if (n == 0) return false;
      out.append(s.data() + i, n);
      i += n;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        out += "\\u00";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    ++i;
  }
  out.push_back('"');
  return true;
}

void encodeInteger(std::int64_t value, Sink& out) {
  char text[24];
  auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, static_cast<std::size_t>(result.ptr - text));
}

bool encodeDouble(double value, Sink& out) {
  if (!std::isfinite(value)) return false;
  // Whole numbers of a sensible size are written without a fraction.
  if (value == std::trunc(value) && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value))) {
    encodeInteger(static_cast<std::int64_t>(value), out);
    return true;
  }
  // Shortest text that reads back as the same double.
  char text[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (precision == 17 || std::strtod(text, nullptr) == value) break;
  }
  out += text;
  return true;
}

bool encodeValue(const JsonValue& value, Sink& out);

bool encodeObject(const JsonObject& object, Sink& out) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, member] : object) {
    if (!first) out.push_back(',');
    first = false;
    if (!encodeString(key, out)) return false;
    out.push_back(':');
    if (!encodeValue(member, out)) return false;
  }
  out.push_back('}');
  return true;
}

bool encodeValue(const JsonValue& value, Sink& out) {
  struct Visitor {
    Sink& out;
    bool operator()(std::nullptr_t) const {
      out += "null";
      return true;
    }
    bool operator()(bool b) const {
      out += b ? "true" : "false";
      return true;
    }
    bool operator()(std::int64_t i) const {
      encodeInteger(i, out);
      return true;
    }
    bool operator()(double d) const { return encodeDouble(d, out); }
    bool operator()(const std::string& s) const { return encodeString(s, out); }
    bool operator()(const JsonArray& array) const {
      out.push_back('[');
      for (std::size_t i = 0; i < array.size(); ++i) {
        if (i > 0) out.push_back(',');
        if (!encodeValue(array[i], out)) return false;
      }
      out.push_back(']');
      return true;
    }
    bool operator()(const JsonObject& object) const { return encodeObject(object, out); }
  };
  return std::visit(Visitor{out}, value.value);
}

bool encodeMerged(const JsonObject& base, const JsonObject& overrides, Sink& out) {
  out.push_back('{');
  auto b = base.begin();
  auto o = overrides.begin();
  bool first = true;
  while (b != base.end() || o != overrides.end()) {
    const JsonObject::value_type* entry;
    if (o == overrides.end() || (b != base.end() && b->first < o->first)) {
      entry = &*b++;
    } else {
      if (b != base.end() && b->first == o->first) ++b;
      entry = &*o++;
    }
    if (!first) out.push_back(',');
    first = false;
    if (!encodeString(entry->first, out)) return false;
    out.push_back(':');
    if (!encodeValue(entry->second, out)) return false;
  }
  out.push_back('}');
  return true;
}

}  // namespace

bool encodeJson(const JsonObject& object, std::string& out) {
  Sink sink(out, out.size());
  const bool encoded = encodeObject(object, sink);
  out.resize(sink.size());
  return encoded;
}

bool encodeJsonMerged(const JsonObject& base, const JsonObject& overrides, std::string& out) {
  Sink sink(out, out.size());
  const bool encoded = encodeMerged(base, overrides, sink);
  out.resize(sink.size());
  return encoded;
}

std::optional<std::size_t> encodeJsonLine(const JsonObject& base, const JsonObject& overrides,
                                          std::string& buffer) {
  Sink sink(buffer, 0);
  if (!encodeMerged(base, overrides, sink)) return std::nullopt;
  sink.push_back('\n');
  return sink.size();
}

}  // namespace kestrove
