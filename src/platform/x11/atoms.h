#pragma once

#include <xcb/xcb.h>

#include <array>

namespace kestrove::platform::x11 {

// The atoms the backend reads or sends; interned together at connect.
enum class Atom : int {
  NetClientList,
  NetClientListStacking,
  NetActiveWindow,
  NetWmPid,
  GtkApplicationId,
  KdeNetWmDesktopFile,
  WmClass,
  NetFrameExtents,
  NetWmState,
  NetWmStateHidden,
  NetWmStateFullscreen,
  NetWmStateMaximizedVert,
  NetWmStateMaximizedHorz,
  NetWmWindowType,
  NetWmWindowTypeNormal,
  NetWmWindowTypeDialog,
  NetWmWindowTypeUtility,
  NetWmAllowedActions,
  NetWmActionMove,
  NetWmActionResize,
  NetMoveresizeWindow,
  NetWorkarea,
  NetCurrentDesktop,
  Utf8String,
  GtkFrameExtents,
  I3FloatingWindow,
  I3SocketPath,
  AtSpiBus,
  WmS0,
  Timestamp,
  KestroveBarrier,
  NetWmName,
  NetRequestFrameExtents,
  NetSupported,
  Count
};

class Atoms {
 public:
  // One round trip for all of them; false when the connection failed.
  bool intern(xcb_connection_t* connection);
  xcb_atom_t operator[](Atom atom) const { return values_[static_cast<int>(atom)]; }

 private:
  std::array<xcb_atom_t, static_cast<int>(Atom::Count)> values_{};
};

}  // namespace kestrove::platform::x11
