#include "platform/x11/accessibility_bus_address.h"

#include <sys/stat.h>

#include <cstdlib>

namespace kestrove::platform::x11 {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

std::string sessionBusAddress() {
  std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
  if (!address.empty()) return address;
  const std::string runtime = environment("XDG_RUNTIME_DIR");
  if (runtime.empty()) return {};
  const std::string socket = runtime + "/bus";
  struct stat st {};
  if (stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  return "unix:path=" + socket;
}

std::string AccessibilityBusAddress::find(const std::string& rootProperty,
                                          std::chrono::steady_clock::time_point deadline) {
  if (std::string fromEnvironment = environment("AT_SPI_BUS_ADDRESS"); !fromEnvironment.empty())
    return fromEnvironment;
  if (!rootProperty.empty()) return rootProperty;
  if (fromSession_) return *fromSession_;
  if (askedThisTurn_) return {};
  askedThisTurn_ = true;
  if (!session_.open(sessionBusAddress())) return {};
  auto replies = session_.call(
      {BusCall{"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", {}, {}}}, deadline);
  std::optional<std::string> address = replies[0].string();
  if (!address || address->empty()) return {};
  fromSession_ = *address;
  return *address;
}

}  // namespace kestrove::platform::x11
