#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>

#include "platform/posix/poll_main_loop.h"
#include "platform/x11/atoms.h"
#include "platform/x11/bounded_connect.h"
#include "platform/x11/x_watchdog.h"

namespace kestrove::platform::x11 {

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;
using XcbEvent = XcbReply<xcb_generic_event_t>;

// What the server offered at connect time.
struct Extensions {
  bool randr15 = false;
  bool xinput22 = false;
  std::uint8_t xinputOpcode = 0;
  bool xkb = false;
  bool res = false;
};

// The display connection, opened on first need and again after it was lost.
// Events read at any time are queued here and handed out only by
// takeEvents(), so a wait inside a command never loses or reorders them.
// No wait on the server is unbounded: every wait of one main-loop turn
// (connecting, replies, a move's settling) ends within kServerBound of the
// turn's start, and a turn still blocked on the server then loses the
// connection, as if the display had gone.
class Connection {
 public:
  // Far above any answer from a live server, even a busy or remote one, yet
  // well inside the time a controlling program waits for a reply.
  static constexpr std::chrono::milliseconds kServerBound{3000};

  explicit Connection(PollMainLoop& loop);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The live connection, connecting first when there is none; null when no
  // display can be reached.
  xcb_connection_t* get();
  // The live connection without connecting; null when there is none.
  xcb_connection_t* current() const { return connection_; }
  // Drops a connection that has failed; true when it is (still) usable.
  bool checkAlive();

  // Brackets one main-loop turn: only inside one does the watchdog run.
  void beginTurn();
  void endTurn();
  // What is left of the current turn's bound (the whole bound outside a turn).
  std::chrono::milliseconds timeLeft() const;

  xcb_window_t root() const { return root_; }
  const Atoms& atoms() const { return atoms_; }
  const Extensions& extensions() const { return extensions_; }
  // Bumped on every new connection, so state tied to an old one can tell.
  std::uint64_t generation() const { return generation_; }

  // Runs when the fd polls readable, after the events were queued.
  void setReadableHandler(std::function<void()> handler) { onReadable_ = std::move(handler); }
  // Runs when a connection is dropped, and when a new one is made.
  void setLostHandler(std::function<void()> handler) { onLost_ = std::move(handler); }
  void setConnectedHandler(std::function<void()> handler) { onConnected_ = std::move(handler); }

  // Moves every event the library has already read, or can read without
  // blocking, to the queue.
  void readEvents();
  std::deque<XcbEvent> takeEvents();
  bool hasQueuedEvents() const { return !queued_.empty(); }

  // Waits up to `limit` for an event that `matches` accepts, queueing every
  // event read meanwhile (the matching one included). True when it came.
  bool waitForEvent(const std::function<bool(const xcb_generic_event_t&)>& matches,
                    std::chrono::milliseconds limit);

 private:
  void open();
  void drop();
  void negotiateExtensions();
  void armWatchdog();

  PollMainLoop& loop_;
  BoundedConnect connector_;
  XWatchdog watchdog_;
  bool inTurn_ = false;
  std::chrono::steady_clock::time_point turnDeadline_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  Atoms atoms_;
  Extensions extensions_;
  std::uint64_t generation_ = 0;
  std::deque<XcbEvent> queued_;
  std::function<void()> onReadable_;
  std::function<void()> onLost_;
  std::function<void()> onConnected_;
};

}  // namespace kestrove::platform::x11
