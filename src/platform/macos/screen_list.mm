#include "platform/macos/screen_list.h"

#import <AppKit/AppKit.h>

#include "platform/macos/portable/screen_shapes.h"

namespace kestrove::platform::macos {
namespace {

Rect rectOf(CGRect rect) { return Rect{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height}; }

ScreenNumberEntry numberEntryOf(NSScreen* screen) {
  id number = screen.deviceDescription[@"NSScreenNumber"];
  if (number == nil) return {};
  if (![number isKindOfClass:[NSNumber class]]) return ScreenNumberEntry{ScreenNumberEntry::Kind::Other, 0};
  return ScreenNumberEntry{ScreenNumberEntry::Kind::Number,
                           static_cast<std::int64_t>(static_cast<NSNumber*>(number).integerValue)};
}

}  // namespace

std::vector<Screen> screenList() {
  @autoreleasepool {
    std::vector<Screen> screens;
    for (NSScreen* screen in [NSScreen screens]) {
      screens.push_back(makeScreen(rectOf(screen.frame), rectOf(screen.visibleFrame), numberEntryOf(screen),
                                   static_cast<double>(screen.backingScaleFactor)));
    }
    return screens;
  }
}

Rect mainDisplayBounds() { return rectOf(CGDisplayBounds(CGMainDisplayID())); }

}  // namespace kestrove::platform::macos
