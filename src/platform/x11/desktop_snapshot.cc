#include "platform/x11/desktop_snapshot.h"

#include <xcb/randr.h>
#include <xcb/res.h>

#include <algorithm>

#include "platform/x11/property_values.h"

namespace kestrove::platform::x11 {
namespace {

using PropertyReply = XcbReply<xcb_get_property_reply_t>;

PropertyReply takeProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
  return PropertyReply(xcb_get_property_reply(connection, cookie, nullptr));
}

std::vector<xcb_window_t> windowList(const xcb_get_property_reply_t* reply) {
  auto items = cardinals(reply);
  return items ? std::vector<xcb_window_t>(items->begin(), items->end()) : std::vector<xcb_window_t>{};
}

bool present(const xcb_get_property_reply_t* reply) { return reply && reply->type != XCB_ATOM_NONE; }

std::vector<Monitor> readMonitors(xcb_randr_get_monitors_reply_t* reply) {
  std::vector<Monitor> monitors;
  if (!reply) return monitors;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it)) {
    Monitor monitor;
    monitor.rect =
        RootRect{double(it.data->x), double(it.data->y), double(it.data->width), double(it.data->height)};
    monitor.primary = it.data->primary;
    if (it.data->nOutput > 0) monitor.output = xcb_randr_monitor_info_outputs(it.data)[0];
    monitors.push_back(monitor);
  }
  // Primary first; the others keep the server's order.
  std::stable_partition(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
  return monitors;
}

}  // namespace

void DesktopSnapshot::clear() {
  rootLoaded_ = clientsLoaded_ = rootReadable_ = false;
  clients_.clear();
  stacking_.clear();
  active_ = XCB_WINDOW_NONE;
  monitors_.clear();
  workArea_.reset();
  rootBounds_ = RootRect{};
  accessibilityBus_.clear();
  tilingManager_ = false;
  offersFrameExtentsRequest_ = false;
  info_.clear();
}

bool DesktopSnapshot::ensureRoot() {
  if (rootLoaded_) return rootReadable_;
  xcb_connection_t* c = connection_.get();
  rootLoaded_ = true;
  if (!c) return false;
  const Atoms& atoms = connection_.atoms();
  xcb_window_t root = connection_.root();
  auto clientList = requestProperty(c, root, atoms[Atom::NetClientList], 65536);
  auto stacking = requestProperty(c, root, atoms[Atom::NetClientListStacking], 65536);
  auto active = requestProperty(c, root, atoms[Atom::NetActiveWindow]);
  auto workArea = requestProperty(c, root, atoms[Atom::NetWorkarea]);
  auto desktop = requestProperty(c, root, atoms[Atom::NetCurrentDesktop]);
  auto geometry = xcb_get_geometry(c, root);
  auto a11yBus = requestProperty(c, root, atoms[Atom::AtSpiBus], 256);
  auto i3Socket = requestProperty(c, root, atoms[Atom::I3SocketPath], 1);
  auto supported = requestProperty(c, root, atoms[Atom::NetSupported], 1024);
  xcb_randr_get_monitors_cookie_t monitors{};
  if (connection_.extensions().randr15) monitors = xcb_randr_get_monitors(c, root, 1);

  auto clientReply = takeProperty(c, clientList);
  rootReadable_ = clientReply != nullptr;
  clients_ = windowList(clientReply.get());
  stacking_ = windowList(takeProperty(c, stacking).get());
  auto activeItems = cardinals(takeProperty(c, active).get());
  active_ = activeItems && !activeItems->empty() ? activeItems->front() : xcb_window_t{XCB_WINDOW_NONE};
  auto areas = cardinals(takeProperty(c, workArea).get());
  auto current = cardinals(takeProperty(c, desktop).get());
  std::size_t index = current && !current->empty() ? current->front() : 0;
  if (areas && areas->size() >= 4 * (index + 1)) {
    const auto* a = areas->data() + 4 * index;
    workArea_ = RootRect{double(a[0]), double(a[1]), double(a[2]), double(a[3])};
  }
  accessibilityBus_ = text(takeProperty(c, a11yBus).get());
  // i3 tiles what it does not mark floating.
  tilingManager_ = present(takeProperty(c, i3Socket).get());
  if (auto atomsSupported = cardinals(takeProperty(c, supported).get())) {
    offersFrameExtentsRequest_ = std::find(atomsSupported->begin(), atomsSupported->end(),
                                           atoms[Atom::NetRequestFrameExtents]) != atomsSupported->end();
  }
  XcbReply<xcb_get_geometry_reply_t> rootGeometry(xcb_get_geometry_reply(c, geometry, nullptr));
  if (rootGeometry) rootBounds_ = RootRect{0, 0, double(rootGeometry->width), double(rootGeometry->height)};
  if (connection_.extensions().randr15) {
    XcbReply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(c, monitors, nullptr));
    monitors_ = readMonitors(reply.get());
  }
  if (monitors_.empty() && rootGeometry) monitors_.push_back(Monitor{rootBounds_, true, std::nullopt});
  connection_.checkAlive();
  return rootReadable_;
}

bool DesktopSnapshot::ensureClients() {
  if (!ensureRoot()) return false;
  if (clientsLoaded_) return true;
  clientsLoaded_ = true;
  xcb_connection_t* c = connection_.current();
  if (!c) return false;
  readClients(c);
  readResourcePids(c);
  connection_.checkAlive();
  return true;
}

void DesktopSnapshot::readClients(xcb_connection_t* c) {
  const Atoms& atoms = connection_.atoms();
  struct Cookies {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t corner;
    xcb_get_property_cookie_t pid, gtkId, kdeFile, wmClass, extents, state, type, allowed, shadow, floating,
        title;
    xcb_query_tree_cookie_t tree;
    xcb_get_window_attributes_cookie_t attributes;
  };
  std::vector<Cookies> cookies;
  cookies.reserve(clients_.size());
  // Every request goes out before the first reply is awaited.
  for (xcb_window_t w : clients_) {
    cookies.push_back(Cookies{
        xcb_get_geometry(c, w), xcb_translate_coordinates(c, w, connection_.root(), 0, 0),
        requestProperty(c, w, atoms[Atom::NetWmPid]), requestProperty(c, w, atoms[Atom::GtkApplicationId]),
        requestProperty(c, w, atoms[Atom::KdeNetWmDesktopFile]), requestProperty(c, w, XCB_ATOM_WM_CLASS),
        requestProperty(c, w, atoms[Atom::NetFrameExtents]), requestProperty(c, w, atoms[Atom::NetWmState]),
        requestProperty(c, w, atoms[Atom::NetWmWindowType]),
        requestProperty(c, w, atoms[Atom::NetWmAllowedActions]),
        requestProperty(c, w, atoms[Atom::GtkFrameExtents]),
        requestProperty(c, w, atoms[Atom::I3FloatingWindow]),
        requestProperty(c, w, atoms[Atom::NetWmName], 256), xcb_query_tree(c, w),
        xcb_get_window_attributes(c, w)});
  }
  // Clients without _NET_FRAME_EXTENTS whose manager reparented them: the
  // frame window tells the extents.
  std::vector<FramedClient> framed;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    const Cookies& k = cookies[i];
    ClientInfo info;
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, k.geometry, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> corner(xcb_translate_coordinates_reply(c, k.corner, nullptr));
    auto pid = cardinals(takeProperty(c, k.pid).get());
    auto gtkId = text(takeProperty(c, k.gtkId).get());
    auto kdeFile = text(takeProperty(c, k.kdeFile).get());
    auto wmClass = wmClassClass(takeProperty(c, k.wmClass).get());
    auto extents = cardinals(takeProperty(c, k.extents).get());
    auto state = cardinals(takeProperty(c, k.state).get());
    auto type = cardinals(takeProperty(c, k.type).get());
    auto allowed = cardinals(takeProperty(c, k.allowed).get());
    auto shadow = cardinals(takeProperty(c, k.shadow).get());
    bool floating = present(takeProperty(c, k.floating).get());
    info.title = text(takeProperty(c, k.title).get());
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, k.tree, nullptr));
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, k.attributes, nullptr));
    info.exists = geometry && corner;
    info.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (!info.exists) {
      info_[clients_[i]] = info;
      continue;
    }
    info.content = RootRect{double(corner->dst_x), double(corner->dst_y), double(geometry->width),
                            double(geometry->height)};
    info.border = geometry->border_width;
    if (pid && !pid->empty() && pid->front() > 0 && pid->front() <= 0x7fffffff) {
      info.pid = static_cast<std::int32_t>(pid->front());
    }
    info.appId = !gtkId.empty() ? gtkId : !kdeFile.empty() ? kdeFile : wmClass;
    if (extents && extents->size() >= 4) {
      info.extents = FrameExtents{double((*extents)[0]), double((*extents)[1]), double((*extents)[2]),
                                  double((*extents)[3])};
    } else if (tree && tree->parent != connection_.root()) {
      framed.push_back(FramedClient{clients_[i], tree->parent, double(geometry->border_width)});
      // Where the client sits in its frame, border included.
      info.extents = FrameExtents{double(geometry->x + geometry->border_width), 0,
                                  double(geometry->y + geometry->border_width), 0};
    }
    if (shadow && shadow->size() >= 4) {
      info.shadow = FrameExtents{double((*shadow)[0]), double((*shadow)[1]), double((*shadow)[2]),
                                 double((*shadow)[3])};
    }
    info.tiled = tilingManager_ && !floating;
    if (state) {
      bool vertical = false, horizontal = false;
      for (auto atom : *state) {
        if (atom == atoms[Atom::NetWmStateHidden]) info.hidden = true;
        if (atom == atoms[Atom::NetWmStateFullscreen]) info.fullscreen = true;
        if (atom == atoms[Atom::NetWmStateMaximizedVert]) vertical = true;
        if (atom == atoms[Atom::NetWmStateMaximizedHorz]) horizontal = true;
      }
      info.maximized = vertical && horizontal;
    }
    if (type && !type->empty()) info.windowType = type->front();
    if (allowed) info.allowedActions = std::vector<xcb_atom_t>(allowed->begin(), allowed->end());
    info_[clients_[i]] = info;
  }
  if (!framed.empty()) readFrameWindows(c, framed);
}

void DesktopSnapshot::readFrameWindows(xcb_connection_t* c, const std::vector<FramedClient>& framed) {
  std::vector<xcb_get_geometry_cookie_t> cookies;
  for (const FramedClient& f : framed) cookies.push_back(xcb_get_geometry(c, f.frame));
  for (std::size_t i = 0; i < framed.size(); ++i) {
    XcbReply<xcb_get_geometry_reply_t> frame(xcb_get_geometry_reply(c, cookies[i], nullptr));
    ClientInfo& info = info_[framed[i].client];
    if (!frame) {
      info.extents = FrameExtents{};
      continue;
    }
    // The left and top extents were set from the client's place in the frame.
    double border = framed[i].border;
    info.extents.right = std::max(0.0, frame->width - info.extents.left - info.content.width - border);
    info.extents.bottom = std::max(0.0, frame->height - info.extents.top - info.content.height - border);
  }
}

// Clients without _NET_WM_PID (xeyes, for one) are asked about through the
// X-Resource extension, which knows the pid of every local client.
void DesktopSnapshot::readResourcePids(xcb_connection_t* c) {
  if (!connection_.extensions().res) return;
  std::vector<std::pair<xcb_window_t, xcb_res_query_client_ids_cookie_t>> asked;
  for (auto& [window, info] : info_) {
    if (!info.exists || info.pid) continue;
    xcb_res_client_id_spec_t wanted{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    asked.emplace_back(window, xcb_res_query_client_ids(c, 1, &wanted));
  }
  for (auto& [window, cookie] : asked) {
    XcbReply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c, cookie, nullptr));
    if (!reply) continue;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
      const auto& [id, length] = *it.data;
      if (!(id.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)) continue;
      if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
      std::uint32_t pid = *xcb_res_client_id_value_value(it.data);
      if (pid > 0 && pid <= 0x7fffffff) info_[window].pid = static_cast<std::int32_t>(pid);
      break;
    }
  }
}

const ClientInfo* DesktopSnapshot::client(xcb_window_t window) const {
  auto found = info_.find(window);
  if (found == info_.end() || !found->second.exists) return nullptr;
  return &found->second;
}

}  // namespace kestrove::platform::x11
