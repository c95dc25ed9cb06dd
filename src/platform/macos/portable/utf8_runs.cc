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

std::optional<std::u16string> utf16OfUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = sequenceLength(text, at);
    if (length == 0) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[at + i])); };
    char32_t code = 0;
    switch (length) {
      case 1:
        code = byte(0);
        break;
      case 2:
        code = ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        break;
      case 3:
        code = ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        break;
      default:
        code = ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
        break;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    at += length;
  }
  return out;
}

}  // namespace kestrove::platform::macos
