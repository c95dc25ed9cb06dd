// How long one read of the whole desktop takes: the backend's pipelined
// snapshot against the same requests sent one at a time. Built and run by
// bench/x11/bench.sh on a throwaway desktop.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/poll_main_loop.h"
#include "platform/x11/connection.h"
#include "platform/x11/desktop_snapshot.h"
#include "platform/x11/property_values.h"

using namespace kestrove::platform;
using namespace kestrove::platform::x11;

namespace {

// The snapshot's requests, each awaited before the next is sent.
std::size_t readOneAtATime(Connection& connection, const std::vector<xcb_window_t>& clients) {
  xcb_connection_t* c = connection.current();
  const Atoms& atoms = connection.atoms();
  std::size_t replies = 0;
  auto property = [&](xcb_window_t w, xcb_atom_t atom) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, requestProperty(c, w, atom), nullptr));
    replies += reply != nullptr;
  };
  xcb_window_t root = connection.root();
  for (Atom atom : {Atom::NetClientList, Atom::NetClientListStacking, Atom::NetActiveWindow,
                    Atom::NetWorkarea, Atom::NetCurrentDesktop}) {
    property(root, atoms[atom]);
  }
  for (xcb_window_t w : clients) {
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> corner(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
    replies += (geometry != nullptr) + (corner != nullptr);
    for (Atom atom :
         {Atom::NetWmPid, Atom::GtkApplicationId, Atom::KdeNetWmDesktopFile, Atom::NetFrameExtents,
          Atom::NetWmState, Atom::NetWmWindowType, Atom::NetWmAllowedActions}) {
      property(w, atoms[atom]);
    }
    property(w, XCB_ATOM_WM_CLASS);
  }
  return replies;
}

template <typename F>
double microsecondsPerRun(int runs, F&& run) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) run();
  std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count() / runs;
}

}  // namespace

int main() {
  PollMainLoop loop;
  Connection connection(loop);
  if (!connection.get()) {
    std::puts("no display");
    return 1;
  }
  DesktopSnapshot snapshot(connection);
  snapshot.ensureClients();
  std::vector<xcb_window_t> clients = snapshot.clients();
  constexpr int kRuns = 200;
  double pipelined = microsecondsPerRun(kRuns, [&] {
    snapshot.clear();
    snapshot.ensureClients();
  });
  double oneAtATime = microsecondsPerRun(kRuns, [&] { readOneAtATime(connection, clients); });
  std::printf("desktop read, %zu clients, %zu requests: pipelined %.0f us, one at a time %.0f us (%.1fx)\n",
              clients.size(), 5 + clients.size() * 10, pipelined, oneAtATime, oneAtATime / pipelined);
  return 0;
}
