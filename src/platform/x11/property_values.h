#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::platform::x11 {

// The 32-bit items of a property reply; none when the property is missing or
// not of format 32.
std::optional<std::vector<std::uint32_t>> cardinals(const xcb_get_property_reply_t* reply);
// A string property up to its first NUL; empty when missing.
std::string text(const xcb_get_property_reply_t* reply);
// The class half of WM_CLASS ("instance\0class\0"); empty when missing.
std::string wmClassClass(const xcb_get_property_reply_t* reply);

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property, std::uint32_t maxItems = 1024);

}  // namespace kestrove::platform::x11
