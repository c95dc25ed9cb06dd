#include "protocol/writer.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "protocol/json_encode.h"

namespace kestrove {

Writer::Writer(WriteFn write, ExitFn exit) : write_(std::move(write)), exit_(std::move(exit)) {}

Writer Writer::forStandardOutput() {
  return Writer(
      [](const char* data, std::size_t size, int& error) -> long {
#ifdef _WIN32
        // _write takes an unsigned count; a shorter write is written again.
        long written = _write(1, data, static_cast<unsigned>(size > INT_MAX ? INT_MAX : size));
#else
        ssize_t written = ::write(1, data, size);
#endif
        if (written < 0) error = errno;
        return static_cast<long>(written);
      },
      [](int status) { _exit(status); });
}

void Writer::emit(const JsonObject& object) {
  static const JsonObject kNothing;
  emit(object, kNothing);
}

void Writer::emit(const JsonObject& object, const JsonObject& overrides) {
  std::optional<std::size_t> length = encodeJsonLine(object, overrides, buffer_);
  if (!length) {
    // One attempt, result ignored: the caller is never told.
    int error = 0;
    write_(kFallbackLine.data(), kFallbackLine.size(), error);
    return;
  }
  writeWhole(buffer_.data(), *length);
}

void Writer::writeWhole(const char* bytes, std::size_t size) {
  std::size_t start = 0;
  while (start < size) {
    int error = 0;
    long written = write_(bytes + start, size - start, error);
    if (written > 0) {
      start += static_cast<std::size_t>(written);
    } else if (written < 0 && error == EINTR) {
      continue;
    } else {
      // Nobody is reading any more: nothing further can be said.
      exit_(0);
      return;
    }
  }
}

}  // namespace kestrove
