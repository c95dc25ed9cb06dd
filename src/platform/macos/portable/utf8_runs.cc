#include "platform/macos/portable/utf8_runs.h"

namespace kestrove::platform::macos {
namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed sequence at `at` (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF), or 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const std::size_t left = text.size() - at;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(byte(i))) return 0;
  }
  return length;
}

}  // namespace

std::vector<Utf8Piece> splitUtf8(std::string_view text) {
  std::vector<Utf8Piece> pieces;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = sequenceLength(text, at);
    if (length == 0) {
      pieces.push_back(Utf8Piece{at, 1, false});
      ++at;
      continue;
    }
    if (!pieces.empty() && pieces.back().valid) {
      pieces.back().length += length;
    } else {
      pieces.push_back(Utf8Piece{at, length, true});
    }
    at += length;
  }
  return pieces;
}

std::size_t utf8OffsetOfUtf16Index(std::string_view run, std::size_t utf16Index) {
  std::size_t at = 0;
  std::size_t units = 0;
  while (at < run.size() && units < utf16Index) {
    std::size_t length = sequenceLength(run, at);
    if (length == 0) length = 1;   // not expected in a well-formed run
    units += length == 4 ? 2 : 1;  // four-byte sequences are surrogate pairs
    at += length;
  }
  return at;
}

}  // namespace kestrove::platform::macos
