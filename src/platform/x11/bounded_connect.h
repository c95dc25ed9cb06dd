#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kestrove::platform::x11 {

// xcb_connect to $DISPLAY with a time limit. A display that accepts the socket
// and never answers would hold xcb_connect forever, so the handshake runs on
// its own thread; one left unfinished is awaited again by the next call
// instead of a second one being started, and is used if it completes then.
class BoundedConnect {
 public:
  BoundedConnect() = default;
  ~BoundedConnect();
  BoundedConnect(const BoundedConnect&) = delete;
  BoundedConnect& operator=(const BoundedConnect&) = delete;

  struct Result {
    xcb_connection_t* connection = nullptr;  // null when the limit passed
    int screen = 0;
  };
  // The caller owns the connection, which may carry an error.
  Result connect(std::chrono::milliseconds limit);

 private:
  struct Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    Result result;
  };
  std::shared_ptr<Attempt> pending_;
};

}  // namespace kestrove::platform::x11
