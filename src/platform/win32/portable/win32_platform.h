#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/portable/event_translation.h"
#include "platform/win32/portable/key_translation.h"
#include "platform/win32/portable/win32_api.h"
#include "platform/win32/portable/win32_element.h"

namespace kestrove::platform::win32 {

// The Windows desktop in the Accessibility shapes, over the Win32 layer:
// every call goes through `api`, so the same code runs against Windows, Wine
// and the tests' fake.
class Win32Platform : public Platform {
 public:
  // How long a window may take to answer before a write to it counts as
  // timed out, as a hung application's does on macOS.
  static constexpr std::uint32_t kAnswerMilliseconds = 250;

  Win32Platform(Win32Api& api, MainLoop& loop);
  ~Win32Platform() override;

  std::int32_t processId() override;
  OsVersion osVersion() override;
  void enterBackgroundMode() override {}
  MainLoop& mainLoop() override { return loop_; }
  bool isProcessTrusted() override { return true; }
  bool isProcessTrustedWithPrompt() override { return true; }
  std::int32_t readFocusedApplication() override { return ax::kSuccess; }
  std::vector<RunningApp> runningApplications(const std::string& bundleId) override;
  Element createApplicationElement(std::int32_t pid) override;
  AttributeRead copyAttributeValue(const Element& element, const std::string& attribute) override;
  SettableRead isAttributeSettable(const Element& element, const std::string& attribute) override;
  std::optional<AxValue> createValue(AxValueType type, double first, double second) override;
  std::int32_t setAttributeValue(const Element& element, const std::string& attribute,
                                 const AxValue& value) override;
  std::int32_t setBoolAttributeValue(const Element& element, const std::string& attribute,
                                     bool value) override;
  bool hasWindowNumberFunction() override { return true; }
  WindowNumberRead windowNumber(const Element& window) override;
  ObserverCreated createObserver(std::int32_t pid, NotificationCallback callback) override;
  std::int32_t addNotification(const Observer& observer, const Element& element,
                               const std::string& notification, const void* context) override;
  void removeNotification(const Observer& observer, const Element& element,
                          const std::string& notification) override;
  void attachObserver(const Observer& observer) override;
  void detachObserver(const Observer& observer) override;
  Token addTerminationListener(std::int32_t pid, TerminationCallback callback) override;
  void removeTerminationListener(const Token& token) override;
  std::vector<Screen> screens() override;
  Rect mainDisplayBounds() override;
  Token addGlobalKeyMonitor(KeyCallback callback) override;
  void removeKeyMonitor(const Token& token) override;

 private:
  class ObserverImpl;
  std::vector<WindowHandle> windowsOf(std::uint32_t pid);
  AttributeRead windowAttribute(const Win32Element& element, const std::string& attribute);
  AttributeRead contentAttribute(const Win32Element& element, const std::string& attribute);
  std::int32_t moveOrResize(const Win32Element& element, const std::string& attribute, const AxValue& value);
  void deliver(const WinEvent& event);

  Win32Api& api_;
  MainLoop& loop_;
  std::uint32_t ownPid_;
  EventTranslation events_;
  Registration eventHook_;
  std::vector<std::weak_ptr<ObserverImpl>> observers_;
};

}  // namespace kestrove::platform::win32
