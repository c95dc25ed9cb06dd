#include "platform/x11/property_values.h"

#include <cstring>

namespace kestrove::platform::x11 {

std::optional<std::vector<std::uint32_t>> cardinals(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32) return std::nullopt;
  auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
  int count = xcb_get_property_value_length(reply) / 4;
  return std::vector<std::uint32_t>(items, items + count);
}

std::string text(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return {};
  auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
  int length = xcb_get_property_value_length(reply);
  return std::string(bytes, strnlen(bytes, static_cast<std::size_t>(length)));
}

std::string wmClassClass(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return {};
  auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
  auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply));
  std::size_t instanceEnd = strnlen(bytes, length);
  if (instanceEnd >= length) return {};
  const char* rest = bytes + instanceEnd + 1;
  return std::string(rest, strnlen(rest, length - instanceEnd - 1));
}

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property, std::uint32_t maxItems) {
  return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maxItems);
}

}  // namespace kestrove::platform::x11
