#include "commands/parse_number.h"

#include <locale.h>
#include <stdlib.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include <string>

namespace kestrove {
namespace {

#ifdef _WIN32
// mingw-w64's own C99 strtod (hexadecimal, infinities and NaN as glibc
// reads them, which msvcrt's does not); the helper never leaves the "C"
// locale, so its decimal point is always '.'.
double strtodC(const char* begin, char** end) { return __mingw_strtod(begin, end); }
#else
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

double strtodC(const char* begin, char** end) { return strtod_l(begin, end, cLocale()); }
#endif

bool isSpaceOrControl(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

}  // namespace

std::optional<double> parseNumber(std::string_view text) {
  if (text.empty() || isSpaceOrControl(text.front())) return std::nullopt;
  // strtod needs a terminator; a NUL inside the text stops it early and so
  // fails the end check below.
  std::string terminated(text);
  const char* begin = terminated.c_str();
  char* end = nullptr;
  double value = strtodC(begin, &end);
  if (end == begin || end != begin + terminated.size()) return std::nullopt;
  return value;
}

}  // namespace kestrove
