#include "platform/x11/atoms.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kestrove::platform::x11 {
namespace {

constexpr std::array<const char*, static_cast<int>(Atom::Count)> kNames = {
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_PID",
    "_GTK_APPLICATION_ID",
    "_KDE_NET_WM_DESKTOP_FILE",
    "WM_CLASS",
    "_NET_FRAME_EXTENTS",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_FULLSCREEN",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_ALLOWED_ACTIONS",
    "_NET_WM_ACTION_MOVE",
    "_NET_WM_ACTION_RESIZE",
    "_NET_MOVERESIZE_WINDOW",
    "_NET_WORKAREA",
    "_NET_CURRENT_DESKTOP",
    "UTF8_STRING",
    "_GTK_FRAME_EXTENTS",
    "I3_FLOATING_WINDOW",
    "I3_SOCKET_PATH",
    "AT_SPI_BUS",
    "WM_S0",
    "TIMESTAMP",
    "_KESTROVE_BARRIER",
    "_NET_WM_NAME",
    "_NET_REQUEST_FRAME_EXTENTS",
    "_NET_SUPPORTED",
};

}  // namespace

bool Atoms::intern(xcb_connection_t* connection) {
  std::array<xcb_intern_atom_cookie_t, kNames.size()> cookies{};
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    cookies[i] =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(kNames[i])), kNames[i]);
  }
  bool complete = true;
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    auto* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
    values_[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    if (!reply) complete = false;
    std::free(reply);
  }
  return complete;
}

}  // namespace kestrove::platform::x11
