#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace kestrove::platform::x11 {

// One method call on the accessibility bus, with at most the arguments the
// reader needs: none, a number, or one or two strings.
struct BusCall {
  std::string destination;
  std::string path;
  std::string interface;
  std::string member;
  std::optional<std::uint32_t> number;
  std::vector<std::string> strings;
};

// A method reply; empty when the call failed or timed out.
class BusReply {
 public:
  BusReply() = default;
  explicit BusReply(sd_bus_message* message) : message_(message) {}
  ~BusReply();
  BusReply(BusReply&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
  BusReply& operator=(BusReply&& other) noexcept;
  BusReply(const BusReply&) = delete;
  BusReply& operator=(const BusReply&) = delete;

  explicit operator bool() const { return message_ != nullptr; }
  std::optional<std::uint32_t> number();
  std::optional<std::string> string();
  // A variant holding a string (a property read).
  std::optional<std::string> variantString();
  std::optional<std::vector<std::string>> strings();
  // An array of (bus name, object path): AT-SPI object references.
  std::optional<std::vector<std::pair<std::string, std::string>>> objects();
  // Four 32-bit integers in a struct: x, y, width, height.
  std::optional<std::vector<std::int32_t>> rect();

 private:
  sd_bus_message* message_ = nullptr;
};

// A client connection to the accessibility bus. Calls go out together and
// their replies are awaited together, each wait bounded by the deadline it
// is given, so a stalled application costs at most that.
class AccessibilityBus {
 public:
  AccessibilityBus() = default;
  ~AccessibilityBus();
  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  // Connected to `address`, connecting (again) when needed; false when the
  // library or the bus cannot be had.
  bool open(const std::string& address);
  std::vector<BusReply> call(const std::vector<BusCall>& calls,
                             std::chrono::steady_clock::time_point deadline);

 private:
  void close();

  sd_bus* bus_ = nullptr;
  std::string address_;
};

}  // namespace kestrove::platform::x11
