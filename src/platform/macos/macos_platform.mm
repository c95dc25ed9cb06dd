// The seam over Accessibility, AppKit, CoreGraphics and the main dispatch
// queue. Every rule lives in the core; this only translates.
#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#include <dlfcn.h>
#include <unistd.h>

#include "platform/create_platform.h"
#include "platform/macos/ax_attributes.h"
#include "platform/macos/ax_element.h"
#include "platform/macos/ax_observer.h"
#include "platform/macos/gcd_main_loop.h"
#include "platform/macos/key_monitor.h"
#include "platform/macos/messaging_timeout.h"
#include "platform/macos/portable/os_version.h"
#include "platform/macos/screen_list.h"
#include "platform/macos/workspace_listener.h"

namespace kestrove::platform {
namespace {

using macos::axElementOf;
using macos::CfRef;

// The private window-number function, looked up by name because it is not
// in any header.
using GetWindowFunction = AXError (*)(AXUIElementRef element, CGWindowID* window);

class MacPlatform final : public Platform {
 public:
  MacPlatform()
      : getWindow_(reinterpret_cast<GetWindowFunction>(dlsym(RTLD_DEFAULT, "_AXUIElementGetWindow"))) {
    // Every element this process talks to, including windows and children
    // that applications hand out, gets the short timeout.
    auto systemWide = CfRef<AXUIElementRef>::adopt(AXUIElementCreateSystemWide());
    if (systemWide) AXUIElementSetMessagingTimeout(systemWide.get(), macos::kMessagingTimeoutSeconds);
    // NSScreen needs an initialised AppKit, in one-shot mode too. The
    // activation policy is left alone: only loop mode becomes a background
    // application.
    application_ = [NSApplication sharedApplication];
  }

  std::int32_t processId() override { return static_cast<std::int32_t>(getpid()); }

  OsVersion osVersion() override {
    const NSOperatingSystemVersion version = [NSProcessInfo processInfo].operatingSystemVersion;
    return macos::reportedOsVersion(OsVersion{static_cast<std::int64_t>(version.majorVersion),
                                              static_cast<std::int64_t>(version.minorVersion),
                                              static_cast<std::int64_t>(version.patchVersion)});
  }

  void enterBackgroundMode() override {
    [application_ setActivationPolicy:NSApplicationActivationPolicyProhibited];
    // A windowless application is a candidate for App Nap, which coalesces
    // timers and lowers priority: the Escape hold timer would fire late and
    // replies would lag. Held for the life of loop mode; logout may still
    // end the process without asking.
    activity_ = [[NSProcessInfo processInfo]
        beginActivityWithOptions:(NSActivityUserInitiatedAllowingIdleSystemSleep &
                                  ~(NSActivitySuddenTerminationDisabled |
                                    NSActivityAutomaticTerminationDisabled))
                          reason:@"kestrove answers commands and watches windows and keys"];
  }

  MainLoop& mainLoop() override { return loop_; }

  bool isProcessTrusted() override { return AXIsProcessTrusted(); }

  std::int32_t readFocusedApplication() override {
    auto systemWide = CfRef<AXUIElementRef>::adopt(AXUIElementCreateSystemWide());
    if (!systemWide) return kAXErrorFailure;
    CFTypeRef raw = nullptr;
    const AXError code =
        AXUIElementCopyAttributeValue(systemWide.get(), kAXFocusedApplicationAttribute, &raw);
    // Only the code counts; what came back is released.
    const auto value = CfRef<CFTypeRef>::adopt(raw);
    return static_cast<std::int32_t>(code);
  }

  bool isProcessTrustedWithPrompt() override {
    @autoreleasepool {
      NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
      return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
    }
  }

  std::vector<RunningApp> runningApplications(const std::string& bundleId) override {
    @autoreleasepool {
      NSString* identifier = [[NSString alloc] initWithBytes:bundleId.data()
                                                      length:bundleId.size()
                                                    encoding:NSUTF8StringEncoding];
      if (identifier == nil) return {};
      std::vector<RunningApp> apps;
      for (NSRunningApplication* app in
           [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
        apps.push_back(RunningApp{static_cast<std::int32_t>(app.processIdentifier), app.terminated == YES});
      }
      return apps;
    }
  }

  Element createApplicationElement(std::int32_t pid) override {
    auto app = CfRef<AXUIElementRef>::adopt(AXUIElementCreateApplication(pid));
    if (app) AXUIElementSetMessagingTimeout(app.get(), macos::kMessagingTimeoutSeconds);
    return macos::wrapElement(std::move(app));
  }

  AttributeRead copyAttributeValue(const Element& element, const std::string& attribute) override {
    return macos::copyAttribute(element, attribute);
  }

  SettableRead isAttributeSettable(const Element& element, const std::string& attribute) override {
    return macos::attributeSettable(element, attribute);
  }

  std::optional<AxValue> createValue(AxValueType type, double first, double second) override {
    return macos::createAxValue(type, first, second);
  }

  std::int32_t setAttributeValue(const Element& element, const std::string& attribute,
                                 const AxValue& value) override {
    return macos::setAttribute(element, attribute, value);
  }

  std::int32_t setBoolAttributeValue(const Element& element, const std::string& attribute,
                                     bool value) override {
    return macos::setBoolAttribute(element, attribute, value);
  }

  bool hasWindowNumberFunction() override { return getWindow_ != nullptr; }

  WindowNumberRead windowNumber(const Element& window) override {
    AXUIElementRef ax = axElementOf(window);
    if (getWindow_ == nullptr || ax == nullptr) return WindowNumberRead{kAXErrorIllegalArgument, 0};
    CGWindowID number = 0;
    const AXError code = getWindow_(ax, &number);
    return WindowNumberRead{static_cast<std::int32_t>(code), static_cast<std::uint32_t>(number)};
  }

  ObserverCreated createObserver(std::int32_t pid, NotificationCallback callback) override {
    return macos::AxObserver::create(pid, std::move(callback));
  }

  std::int32_t addNotification(const Observer& observer, const Element& element,
                               const std::string& notification, const void* context) override {
    auto* ours = dynamic_cast<macos::AxObserver*>(observer.get());
    if (ours == nullptr) return kAXErrorInvalidUIElementObserver;
    return ours->add(axElementOf(element), notification, context);
  }

  void removeNotification(const Observer& observer, const Element& element,
                          const std::string& notification) override {
    if (auto* ours = dynamic_cast<macos::AxObserver*>(observer.get()))
      ours->remove(axElementOf(element), notification);
  }

  void attachObserver(const Observer& observer) override {
    if (auto* ours = dynamic_cast<macos::AxObserver*>(observer.get())) ours->attach();
  }

  void detachObserver(const Observer& observer) override {
    if (auto* ours = dynamic_cast<macos::AxObserver*>(observer.get())) ours->detach();
  }

  Token addTerminationListener(std::int32_t pid, TerminationCallback callback) override {
    return macos::addWorkspaceTerminationListener(pid, std::move(callback));
  }

  void removeTerminationListener(const Token& token) override {
    macos::removeWorkspaceTerminationListener(token);
  }

  std::vector<Screen> screens() override { return macos::screenList(); }

  Rect mainDisplayBounds() override { return macos::mainDisplayBounds(); }

  Token addGlobalKeyMonitor(KeyCallback callback) override {
    return macos::addGlobalKeyMonitor(std::move(callback));
  }

  void removeKeyMonitor(const Token& token) override { macos::removeGlobalKeyMonitor(token); }

 private:
  GetWindowFunction getWindow_;
  macos::GcdMainLoop loop_;
  NSApplication* application_ = nil;  // held for the life of the process
  id<NSObject> activity_ = nil;       // keeps App Nap away in loop mode
};

}  // namespace

std::unique_ptr<Platform> createPlatform() { return std::make_unique<MacPlatform>(); }

}  // namespace kestrove::platform
