#include "platform/x11/bounded_connect.h"

#include <thread>

namespace kestrove::platform::x11 {

BoundedConnect::~BoundedConnect() {
  if (!pending_) return;
  std::lock_guard lock(pending_->mutex);
  if (pending_->done) {
    xcb_disconnect(pending_->result.connection);
  } else {
    pending_->abandoned = true;
  }
}

BoundedConnect::Result BoundedConnect::connect(std::chrono::milliseconds limit) {
  if (!pending_) {
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt] {
      int screen = 0;
      xcb_connection_t* connection = xcb_connect(nullptr, &screen);
      std::unique_lock lock(attempt->mutex);
      if (attempt->abandoned) {
        lock.unlock();
        xcb_disconnect(connection);
        return;
      }
      attempt->result = Result{connection, screen};
      attempt->done = true;
      lock.unlock();
      attempt->finished.notify_all();
    }).detach();
    pending_ = std::move(attempt);
  }
  std::unique_lock lock(pending_->mutex);
  if (!pending_->finished.wait_for(lock, limit, [this] { return pending_->done; })) return Result{};
  Result result = pending_->result;
  lock.unlock();
  pending_.reset();
  return result;
}

}  // namespace kestrove::platform::x11
