#include "platform/macos/gcd_main_loop.h"

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <cstdint>

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

}  // namespace kestrove::platform::macos
