#include "platform/x11/accessibility_bus_address.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>

namespace kestrove::platform::x11 {
namespace {

// Sets an environment variable for one test and puts it back after.
class Environment {
 public:
  Environment(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~Environment() {
    if (old_.empty())
      unsetenv(name_);
    else
      setenv(name_, old_.c_str(), 1);
  }

 private:
  const char* name_;
  std::string old_;
};

auto soon() { return std::chrono::steady_clock::now() + std::chrono::milliseconds(200); }

TEST(AccessibilityBusAddress, TheEnvironmentComesFirstThenTheRootProperty) {
  // No session bus to fall back on: only the first two places can answer.
  Environment session("DBUS_SESSION_BUS_ADDRESS", nullptr);
  Environment runtime("XDG_RUNTIME_DIR", nullptr);
  {
    Environment named("AT_SPI_BUS_ADDRESS", "unix:path=/tmp/from-environment");
    AccessibilityBusAddress address;
    EXPECT_EQ(address.find("unix:path=/tmp/from-root", soon()), "unix:path=/tmp/from-environment");
  }
  Environment unnamed("AT_SPI_BUS_ADDRESS", nullptr);
  AccessibilityBusAddress address;
  EXPECT_EQ(address.find("unix:path=/tmp/from-root", soon()), "unix:path=/tmp/from-root");
  EXPECT_EQ(address.find("", soon()), "");
}

TEST(AccessibilityBusAddress, SessionBusAddressAsDBusClientsTakeIt) {
  {
    Environment session("DBUS_SESSION_BUS_ADDRESS", "unix:path=/tmp/session");
    EXPECT_EQ(sessionBusAddress(), "unix:path=/tmp/session");
  }
  Environment session("DBUS_SESSION_BUS_ADDRESS", nullptr);
  // A runtime folder without a bus socket in it gives none.
  Environment runtime("XDG_RUNTIME_DIR", "/nonexistent-runtime-dir");
  EXPECT_EQ(sessionBusAddress(), "");
}

}  // namespace
}  // namespace kestrove::platform::x11
