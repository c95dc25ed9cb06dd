#include "platform/macos/gcd_main_loop.h"

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kestrove::platform::macos {

void GcdMainLoop::post(Work work) {
  dispatch_async(dispatch_get_main_queue(), ^{
    @autoreleasepool {
      work();
    }
  });
}

void GcdMainLoop::postAfter(std::chrono::nanoseconds delay, Work work) {
  const std::int64_t nanoseconds = std::max<std::int64_t>(0, delay.count());
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds), dispatch_get_main_queue(), ^{
    @autoreleasepool {
      work();
    }
  });
}

void GcdMainLoop::run() { [[NSApplication sharedApplication] run]; }

// The run loop itself rather than [NSApp run], which would finish launching
// the application (and could show it in the Dock) in one-shot mode.
void GcdMainLoop::runFor(std::chrono::nanoseconds duration) {
  using Seconds = std::chrono::duration<double>;
  const auto end = std::chrono::steady_clock::now() + duration;
  for (;;) {
    const Seconds left = end - std::chrono::steady_clock::now();
    if (left.count() <= 0) return;
    CFRunLoopRunResult result;
    @autoreleasepool {
      result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, left.count(), false);
    }
    // A run loop with no source in the mode returns at once: then waiting is
    // all there is to do.
    if (result == kCFRunLoopRunFinished) {
      std::this_thread::sleep_for(left);
      return;
    }
  }
}

}  // namespace kestrove::platform::macos
