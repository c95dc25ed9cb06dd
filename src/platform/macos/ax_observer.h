#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <string>

#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

namespace kestrove::platform::macos {

// An Accessibility observer and the core's callback. Notifications reach the
// callback only while the observer's run-loop source is on the main run loop.
class AxObserver final : public ObserverRef {
 public:
  static ObserverCreated create(std::int32_t pid, NotificationCallback callback);
  AxObserver(CfRef<AXObserverRef> ref, NotificationCallback callback);
  ~AxObserver() override;
  AxObserver(const AxObserver&) = delete;
  AxObserver& operator=(const AxObserver&) = delete;

  std::int32_t add(AXUIElementRef element, const std::string& notification, const void* context);
  void remove(AXUIElementRef element, const std::string& notification);
  void attach();
  void detach();

 private:
  static void onNotification(AXObserverRef observer, AXUIElementRef element, CFStringRef notification,
                             void* context);

  CfRef<AXObserverRef> ref_;
  NotificationCallback callback_;
  bool attached_ = false;
};

}  // namespace kestrove::platform::macos
