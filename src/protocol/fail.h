#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace kestrove {

// The error a command handler raises; becomes an error reply.
class Fail : public std::exception {
 public:
  explicit Fail(std::string code) : code_(std::move(code)) {}
  Fail(std::string code, std::string detail) : code_(std::move(code)), detail_(std::move(detail)) {}

  const std::string& code() const { return code_; }
  const std::optional<std::string>& detail() const { return detail_; }
  const char* what() const noexcept override { return code_.c_str(); }

 private:
  std::string code_;
  std::optional<std::string> detail_;
};

}  // namespace kestrove
