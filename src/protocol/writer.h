#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace kestrove {

// The only thing that writes to standard output: one object, one line.
class Writer {
 public:
  // Same contract as write(2): bytes written, or -1 with the error number in
  // `error`.
  using WriteFn = std::function<long(const char* data, std::size_t size, int& error)>;
  // Ends the process; never returns in the helper (tests may throw from it).
  using ExitFn = std::function<void(int status)>;

  Writer(WriteFn write, ExitFn exit);
  // Writes to file descriptor 1 and ends the process with _exit.
  static Writer forStandardOutput();

  void emit(const JsonObject& object);
  // Writes `object` with the entries of `overrides` in place of its own.
  void emit(const JsonObject& object, const JsonObject& overrides);

  static constexpr std::string_view kFallbackLine = "{\"ok\":false,\"error\":\"internal\"}\n";

 private:
  void writeWhole(const char* bytes, std::size_t size);

  WriteFn write_;
  ExitFn exit_;
  std::string buffer_;  // scratch: its size is its capacity
};

}  // namespace kestrove
