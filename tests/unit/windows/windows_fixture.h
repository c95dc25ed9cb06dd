#pragma once

// A simulated desktop with one application and a Core over it, for the
// window commands' tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/core.h"
#include "platform/sim/sim_platform.h"
#include "protocol/fail.h"
#include "protocol/json_value.h"
#include "protocol/writer.h"
#include "unit/support/failure_of.h"

namespace kestrove::testing {

inline constexpr char kBundle[] = "com.example.viewer";

// The sim with one more control: work to do right after each attribute write,
// for faults that must begin between a write and the read that checks it.
class WindowsSim : public sim::SimPlatform {
 public:
  std::function<void(std::size_t writesSoFar)> afterWrite;
  std::function<void(std::size_t flagWritesSoFar)> afterFlagWrite;
  // What confirmWrites answers, call by call; kSuccess once they run out.
  std::vector<std::int32_t> confirmations;
  std::size_t confirmCalls = 0;

  std::int32_t confirmWrites(const platform::Element&) override {
    return confirmCalls < confirmations.size() ? confirmations[confirmCalls++] : platform::ax::kSuccess;
  }

  std::int32_t setAttributeValue(const platform::Element& element, const std::string& attribute,
                                 const platform::AxValue& value) override {
    std::int32_t code = sim::SimPlatform::setAttributeValue(element, attribute, value);
    ++writeCalls_;
    if (afterWrite) afterWrite(writeCalls_);
    return code;
  }

  std::int32_t setBoolAttributeValue(const platform::Element& element, const std::string& attribute,
                                     bool value) override {
    std::int32_t code = sim::SimPlatform::setBoolAttributeValue(element, attribute, value);
    ++flagWriteCalls_;
    if (afterFlagWrite) afterFlagWrite(flagWriteCalls_);
    return code;
  }

 private:
  std::size_t writeCalls_ = 0;
  std::size_t flagWriteCalls_ = 0;
};
inline constexpr std::int32_t kPid = 4242;

class WindowsFixture : public ::testing::Test {
 protected:
  WindowsFixture() { sim.addApp(kBundle, kPid); }

  sim::WindowId addWindow(sim::SimWindow window) { return sim.addWindow(kPid, std::move(window)); }

  // A child at (x, y) from the window's corner, `width` x `height`.
  static sim::SimChild child(double x, double y, double width, double height, std::string subrole = "",
                             std::string role = "AXGroup") {
    sim::SimChild c;
    c.anchor = sim::SimChild::Anchor::Fixed;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    c.subrole = std::move(subrole);
    c.role = std::move(role);
    return c;
  }

  static platform::AttributeRead noValue() { return {platform::ax::kNoValue, std::nullopt}; }

  WindowsSim sim;
  Writer writer{[](const char*, std::size_t size, int&) { return static_cast<long>(size); }, [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

// One stream window at (0, 40) 1000 x 700 whose content child sits below a
// title bar of 28, so that every measurement reads "ax_content".
class StreamWindowFixture : public WindowsFixture {
 protected:
  StreamWindowFixture() {
    sim::SimWindow w;
    w.x = 0;
    w.y = 40;
    w.width = 1000;
    w.height = 700;
    w.number = 55;
    w.titlebar = 28;
    sim::SimChild content;
    content.anchor = sim::SimChild::Anchor::Content;
    w.children = {content};
    id = addWindow(w);
    window = sim.windowElement(id);
  }

  static std::vector<std::int64_t> axErrorsOf(const JsonObject& reply) {
    std::vector<std::int64_t> codes;
    for (const JsonValue& v : std::get<JsonArray>(reply.at("axErrors").value))
      codes.push_back(std::get<std::int64_t>(v.value));
    return codes;
  }

  sim::WindowId id;
  platform::Element window;
};

inline const JsonObject& objectAt(const JsonObject& o, const std::string& key) {
  return std::get<JsonObject>(o.at(key).value);
}
inline double numberAt(const JsonObject& o, const std::string& key) {
  return std::get<double>(o.at(key).value);
}

// A rect object's four numbers, for comparing with EXPECT_EQ.
struct RectValues {
  double x, y, width, height;
  bool operator==(const RectValues&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const RectValues& r) {
    return os << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
  }
};
inline RectValues rectAt(const JsonObject& o, const std::string& key) {
  const JsonObject& r = objectAt(o, key);
  return {numberAt(r, "x"), numberAt(r, "y"), numberAt(r, "width"), numberAt(r, "height")};
}

}  // namespace kestrove::testing
