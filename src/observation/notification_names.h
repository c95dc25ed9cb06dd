#pragma once

#include <array>

namespace kestrove::notification {

inline constexpr const char* kWindowCreated = "AXWindowCreated";
inline constexpr const char* kWindowMoved = "AXWindowMoved";
inline constexpr const char* kWindowResized = "AXWindowResized";
inline constexpr const char* kElementDestroyed = "AXUIElementDestroyed";

// Registered on the application element, in this order.
inline constexpr std::array<const char*, 3> kApplicationNotifications = {kWindowCreated, kWindowMoved,
                                                                         kWindowResized};

}  // namespace kestrove::notification
