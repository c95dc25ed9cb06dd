#include "protocol/writer.h"

#include <unistd.h>

#include <cerrno>

#include "protocol/json_encode.h"

namespace kestrove {

Writer::Writer(WriteFn write, ExitFn exit) : write_(std::move(write)), exit_(std::move(exit)) {}

Writer Writer::forStandardOutput() {
  return Writer(
      [](const char* data, std::size_t size, int& error) -> long {
        ssize_t written = ::write(1, data, size);
        if (written < 0) error = errno;
        return static_cast<long>(written);
      },
      [](int status) { _exit(status); });
}

void Writer::emit(const JsonObject& object) {
  buffer_.clear();
  writeEncoded(encodeJson(object, buffer_));
}

void Writer::emit(const JsonObject& object, const JsonObject& overrides) {
  buffer_.clear();
  writeEncoded(encodeJsonMerged(object, overrides, buffer_));
}

void Writer::writeEncoded(bool encoded) {
  if (!encoded) {
    // One attempt, result ignored: the caller is never told.
    int error = 0;
    write_(kFallbackLine.data(), kFallbackLine.size(), error);
    return;
  }
  buffer_.push_back('\n');
  writeWhole(buffer_);
}

void Writer::writeWhole(const std::string& bytes) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    int error = 0;
    long written = write_(bytes.data() + start, bytes.size() - start, error);
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
