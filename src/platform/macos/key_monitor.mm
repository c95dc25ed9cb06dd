#include "platform/macos/key_monitor.h"

#import <AppKit/AppKit.h>

#include "platform/macos/portable/key_translation.h"

namespace kestrove::platform::macos {
namespace {

class MonitorToken final : public TokenRef {
 public:
  explicit MonitorToken(id monitor) : monitor_(monitor) {}
  ~MonitorToken() override { remove(); }
  MonitorToken(const MonitorToken&) = delete;
  MonitorToken& operator=(const MonitorToken&) = delete;

  void remove() {
    if (monitor_ == nil) return;
    [NSEvent removeMonitor:monitor_];
    monitor_ = nil;
  }

 private:
  id monitor_;
};

KeyEvent keyEventOf(NSEvent* event) {
  return translateKeyEvent(event.keyCode, static_cast<std::uint64_t>(event.type),
                           static_cast<std::uint64_t>(event.modifierFlags),
                           [event] { return event.isARepeat == YES; });
}

}  // namespace

Token addGlobalKeyMonitor(KeyCallback callback) {
  @autoreleasepool {
    id monitor = [NSEvent addGlobalMonitorForEventsMatchingMask:(NSEventMaskKeyDown | NSEventMaskKeyUp)
                                                        handler:^(NSEvent* event) {
                                                          // A copy: the callback may remove this monitor.
                                                          KeyCallback run = callback;
                                                          if (run) run(keyEventOf(event));
                                                        }];
    if (monitor == nil) return nullptr;
    return std::make_shared<MonitorToken>(monitor);
  }
}

void removeGlobalKeyMonitor(const Token& token) {
  if (auto* ours = dynamic_cast<MonitorToken*>(token.get())) ours->remove();
}

}  // namespace kestrove::platform::macos
