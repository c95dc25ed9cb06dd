#pragma once

// Each Accessibility call waits up to the messaging timeout for the
// application it asks, so a command against an application that hangs
// partway would pay that once per remaining call, and the one main thread
// with it. The gate stands between the core and the platform: once a call
// on an application's elements fails with kAXErrorCannotComplete, the rest
// of that command (or event) makes no further calls to that application and
// answers each as the timeout would have. What was read stays; what was not
// is unreadable, as for any failed read.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kestrove {

class HungAppGate final : public platform::Platform {
 public:
  explicit HungAppGate(platform::Platform& backend) : backend_(backend) {}
  HungAppGate(const HungAppGate&) = delete;
  HungAppGate& operator=(const HungAppGate&) = delete;

  // A command or an event begins: every application is asked again.
  void beginScope() { unresponsive_.clear(); }
  // Whether the element's application stopped answering in this scope.
  bool isUnresponsive(const platform::Element& element) const;
  // The platform itself, for the one call that must reach an application
  // that stopped answering: putting back a setting the command changed.
  platform::Platform& backend() { return backend_; }

  // ---- platform::Platform: element calls are gated, the rest passes ----
  std::int32_t processId() override { return backend_.processId(); }
  platform::OsVersion osVersion() override { return backend_.osVersion(); }
  void enterBackgroundMode() override { backend_.enterBackgroundMode(); }
  platform::MainLoop& mainLoop() override { return backend_.mainLoop(); }
  bool isProcessTrusted() override { return backend_.isProcessTrusted(); }
  bool isProcessTrustedWithPrompt() override { return backend_.isProcessTrustedWithPrompt(); }
  std::int32_t readFocusedApplication() override { return backend_.readFocusedApplication(); }
  std::vector<platform::RunningApp> runningApplications(const std::string& bundleId) override {
    return backend_.runningApplications(bundleId);
  }
  platform::Element createApplicationElement(std::int32_t pid) override {
    return backend_.createApplicationElement(pid);
  }
  platform::AttributeRead copyAttributeValue(const platform::Element& element,
                                             const std::string& attribute) override;
  platform::SettableRead isAttributeSettable(const platform::Element& element,
                                             const std::string& attribute) override;
  std::optional<platform::AxValue> createValue(platform::AxValueType type, double first,
                                               double second) override {
    return backend_.createValue(type, first, second);
  }
  std::int32_t setAttributeValue(const platform::Element& element, const std::string& attribute,
                                 const platform::AxValue& value) override;
  std::int32_t setBoolAttributeValue(const platform::Element& element, const std::string& attribute,
                                     bool value) override;
  // Reports what the backend already saw of the writes; it asks the
  // application nothing, so it is neither gated nor a sign of a hang.
  std::int32_t confirmWrites(const platform::Element& element) override {
    return backend_.confirmWrites(element);
  }
  bool hasWindowNumberFunction() override { return backend_.hasWindowNumberFunction(); }
  platform::WindowNumberRead windowNumber(const platform::Element& window) override;
  platform::ObserverCreated createObserver(std::int32_t pid,
                                           platform::NotificationCallback callback) override {
    return backend_.createObserver(pid, std::move(callback));
  }
  std::int32_t addNotification(const platform::Observer& observer, const platform::Element& element,
                               const std::string& notification, const void* context) override;
  void removeNotification(const platform::Observer& observer, const platform::Element& element,
                          const std::string& notification) override;
  void attachObserver(const platform::Observer& observer) override { backend_.attachObserver(observer); }
  void detachObserver(const platform::Observer& observer) override { backend_.detachObserver(observer); }
  platform::Token addTerminationListener(std::int32_t pid, platform::TerminationCallback callback) override {
    return backend_.addTerminationListener(pid, std::move(callback));
  }
  void removeTerminationListener(const platform::Token& token) override {
    backend_.removeTerminationListener(token);
  }
  std::vector<platform::Screen> screens() override { return backend_.screens(); }
  platform::Rect mainDisplayBounds() override { return backend_.mainDisplayBounds(); }
  platform::Token addGlobalKeyMonitor(platform::KeyCallback callback) override {
    return backend_.addGlobalKeyMonitor(std::move(callback));
  }
  void removeKeyMonitor(const platform::Token& token) override { backend_.removeKeyMonitor(token); }

 private:
  // An element's application: its pid, or none for a backend that cannot
  // tell, whose elements then count as one application.
  using AppKey = std::optional<std::int32_t>;
  static AppKey appOf(const platform::Element& element);
  // Takes the code a call answered; a timeout marks the application.
  std::int32_t note(const platform::Element& element, std::int32_t code);

  platform::Platform& backend_;
  std::vector<AppKey> unresponsive_;
};

}  // namespace kestrove
