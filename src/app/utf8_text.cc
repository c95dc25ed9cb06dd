#include "app/utf8_text.h"

namespace kestrove {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the longest prefix at `i` that could start a well-formed sequence,
// and whether it is complete.
struct Scan {
  std::size_t length;
  bool valid;
};

Scan scanSequence(std::string_view s, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return {1, true};
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false};
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= s.size()) return {k, false};
    unsigned char c = byte(i + k);
    bool ok = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (!ok) return {k, false};
  }
  return {k, true};
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    Scan scan = scanSequence(bytes, i);
    if (!scan.valid) return false;
    i += scan.length;
  }
  return true;
}

std::string toValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  // Fast path: most input is plain ASCII.
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return std::string(bytes);
  std::string out(bytes.substr(0, i));
  while (i < bytes.size()) {
    Scan scan = scanSequence(bytes, i);
    if (scan.valid) {
      out.append(bytes.substr(i, scan.length));
    } else {
      out.append(kReplacement);
    }
    i += scan.length;
  }
  return out;
}

}  // namespace kestrove
