#include "platform/x11/connection.h"

#include <poll.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/xinput.h>

#include <algorithm>

#include "platform/x11/xkb_include.h"

namespace kestrove::platform::x11 {

Connection::Connection(PollMainLoop& loop) : loop_(loop) {}

Connection::~Connection() {
  watchdog_.disarm();
  if (connection_) {
    loop_.unwatchFd(xcb_get_file_descriptor(connection_));
    xcb_disconnect(connection_);
  }
}

xcb_connection_t* Connection::get() {
  if (connection_ && !checkAlive()) return nullptr;
  if (!connection_) open();
  return connection_;
}

void Connection::open() {
  auto [connection, screenNumber] = connector_.connect(timeLeft());
  if (!connection) return;
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return;
  }
  const xcb_setup_t* setup = xcb_get_setup(connection);
  auto screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  root_ = screens.data->root;
  ++generation_;
  armWatchdog();
  if (!atoms_.intern(connection_)) {
    drop();
    return;
  }
  negotiateExtensions();
  if (!checkAlive()) return;
  loop_.watchFd(xcb_get_file_descriptor(connection_), [this] {
    beginTurn();
    readEvents();
    if (checkAlive() && onReadable_) onReadable_();
    endTurn();
  });
  if (onConnected_) onConnected_();
}

void Connection::negotiateExtensions() {
  extensions_ = Extensions{};
  xcb_prefetch_extension_data(connection_, &xcb_randr_id);
  xcb_prefetch_extension_data(connection_, &xcb_input_id);
  xcb_prefetch_extension_data(connection_, &xcb_xkb_id);
  xcb_prefetch_extension_data(connection_, &xcb_res_id);
  auto present = [this](xcb_extension_t* id) {
    const auto* data = xcb_get_extension_data(connection_, id);
    return data && data->present;
  };
  // Versions are asked together: one round trip for all four.
  xcb_randr_query_version_cookie_t randr{};
  xcb_input_xi_query_version_cookie_t input{};
  xcb_xkb_use_extension_cookie_t xkb{};
  xcb_res_query_version_cookie_t res{};
  bool hasRandr = present(&xcb_randr_id), hasInput = present(&xcb_input_id);
  bool hasXkb = present(&xcb_xkb_id), hasRes = present(&xcb_res_id);
  if (hasRandr) randr = xcb_randr_query_version(connection_, 1, 5);
  if (hasInput) input = xcb_input_xi_query_version(connection_, 2, 2);
  if (hasXkb) xkb = xcb_xkb_use_extension(connection_, 1, 0);
  if (hasRes) res = xcb_res_query_version(connection_, 1, 2);
  if (hasRandr) {
    XcbReply<xcb_randr_query_version_reply_t> reply(
        xcb_randr_query_version_reply(connection_, randr, nullptr));
    extensions_.randr15 = reply && (reply->major_version > 1 || reply->minor_version >= 5);
  }
  if (hasInput) {
    XcbReply<xcb_input_xi_query_version_reply_t> reply(
        xcb_input_xi_query_version_reply(connection_, input, nullptr));
    extensions_.xinput22 =
        reply && (reply->major_version > 2 || (reply->major_version == 2 && reply->minor_version >= 2));
    extensions_.xinputOpcode = xcb_get_extension_data(connection_, &xcb_input_id)->major_opcode;
  }
  if (hasXkb) {
    XcbReply<xcb_xkb_use_extension_reply_t> reply(xcb_xkb_use_extension_reply(connection_, xkb, nullptr));
    extensions_.xkb = reply && reply->supported;
  }
  if (hasRes) {
    XcbReply<xcb_res_query_version_reply_t> reply(xcb_res_query_version_reply(connection_, res, nullptr));
    extensions_.res = reply && (reply->server_major > 1 || reply->server_minor >= 2);
  }
}

bool Connection::checkAlive() {
  if (!connection_) return false;
  if (!xcb_connection_has_error(connection_)) return true;
  drop();
  return false;
}

void Connection::beginTurn() {
  inTurn_ = true;
  turnDeadline_ = std::chrono::steady_clock::now() + kServerBound;
  armWatchdog();
}

void Connection::endTurn() {
  inTurn_ = false;
  watchdog_.disarm();
}

std::chrono::milliseconds Connection::timeLeft() const {
  if (!inTurn_) return kServerBound;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(turnDeadline_ - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds::zero());
}

void Connection::armWatchdog() {
  if (inTurn_ && connection_) watchdog_.arm(xcb_get_file_descriptor(connection_), turnDeadline_);
}

void Connection::drop() {
  watchdog_.disarm();
  loop_.unwatchFd(xcb_get_file_descriptor(connection_));
  xcb_disconnect(connection_);
  connection_ = nullptr;
  root_ = XCB_WINDOW_NONE;
  extensions_ = Extensions{};
  queued_.clear();
  if (onLost_) onLost_();
}

void Connection::readEvents() {
  if (!connection_) return;
  while (auto* event = xcb_poll_for_event(connection_)) queued_.emplace_back(event);
}

std::deque<XcbEvent> Connection::takeEvents() {
  std::deque<XcbEvent> events;
  events.swap(queued_);
  return events;
}

bool Connection::waitForEvent(const std::function<bool(const xcb_generic_event_t&)>& matches,
                              std::chrono::milliseconds limit) {
  if (!connection_) return false;
  auto deadline = std::chrono::steady_clock::now() + std::min(limit, timeLeft());
  xcb_flush(connection_);
  for (;;) {
    while (auto* event = xcb_poll_for_event(connection_)) {
      queued_.emplace_back(event);
      if (matches(*event)) return true;
    }
    if (xcb_connection_has_error(connection_)) return false;
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left));
  }
}

}  // namespace kestrove::platform::x11
