#include "platform/macos/ax_observer.h"

#include <dispatch/dispatch.h>

#include <unordered_map>

#include "platform/macos/ax_element.h"
#include "platform/macos/cf_string.h"

namespace kestrove::platform::macos {
namespace {

// AXObserverCreate takes no context of its own, so the callback finds its
// wrapper here. Main thread only.
std::unordered_map<AXObserverRef, AxObserver*>& liveObservers() {
  static auto* observers = new std::unordered_map<AXObserverRef, AxObserver*>();
  return *observers;
}

}  // namespace

ObserverCreated AxObserver::create(std::int32_t pid, NotificationCallback callback) {
  AXObserverRef raw = nullptr;
  const AXError code = AXObserverCreate(pid, &AxObserver::onNotification, &raw);
  auto ref = CfRef<AXObserverRef>::adopt(raw);
  ObserverCreated created;
  created.code = static_cast<std::int32_t>(code);
  if (ref) created.observer = std::make_shared<AxObserver>(std::move(ref), std::move(callback));
  return created;
}

AxObserver::AxObserver(CfRef<AXObserverRef> ref, NotificationCallback callback)
    : ref_(std::move(ref)), callback_(std::move(callback)) {
  liveObservers()[ref_.get()] = this;
}

AxObserver::~AxObserver() {
  detach();
  liveObservers().erase(ref_.get());
  // This may run inside this observer's own callback (the core gives up the
  // observation there); let Accessibility finish with it before it goes.
  AXObserverRef last = ref_.release();
  if (last == nullptr) return;
  dispatch_async(dispatch_get_main_queue(), ^{
    CFRelease(last);
  });
}

std::int32_t AxObserver::add(AXUIElementRef element, const std::string& notification, const void* context) {
  CfRef<CFStringRef> name = makeCfString(notification);
  if (element == nullptr || !name) return kAXErrorIllegalArgument;
  return static_cast<std::int32_t>(
      AXObserverAddNotification(ref_.get(), element, name.get(), const_cast<void*>(context)));
}

void AxObserver::remove(AXUIElementRef element, const std::string& notification) {
  CfRef<CFStringRef> name = makeCfString(notification);
  if (element == nullptr || !name) return;
  AXObserverRemoveNotification(ref_.get(), element, name.get());
}

void AxObserver::attach() {
  if (attached_) return;
  // CFRunLoopAddSource does not accept a null source.
  CFRunLoopSourceRef source = AXObserverGetRunLoopSource(ref_.get());
  if (source == nullptr) return;
  CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopDefaultMode);
  attached_ = true;
}

void AxObserver::detach() {
  if (!attached_) return;
  // Cleared first: from here on no notification reaches the core, even one
  // the run loop has already taken in.
  attached_ = false;
  CFRunLoopSourceRef source = AXObserverGetRunLoopSource(ref_.get());
  if (source != nullptr) CFRunLoopRemoveSource(CFRunLoopGetMain(), source, kCFRunLoopDefaultMode);
}

void AxObserver::onNotification(AXObserverRef observer, AXUIElementRef element, CFStringRef notification,
                                void* context) {
  auto found = liveObservers().find(observer);
  if (found == liveObservers().end() || !found->second->attached_) return;
  // A copy: the callback may end the observation and with it this wrapper.
  NotificationCallback callback = found->second->callback_;
  if (!callback) return;
  // A run-loop source callout has no autorelease pool of its own while
  // -[NSApp run] waits for its next event.
  @autoreleasepool {
    Element concerned = wrapElement(CfRef<AXUIElementRef>::retain(element));
    callback(concerned, toStdString(notification), context);
  }
}

}  // namespace kestrove::platform::macos
