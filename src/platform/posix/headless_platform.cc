// A desktop with no display: untrusted, no screens, nothing running. The
// shipped helper on a machine without a desktop backend.
#include <unistd.h>

#include "platform/create_platform.h"
#include "platform/posix/kernel_version.h"
#include "platform/posix/poll_main_loop.h"

namespace kestrove::platform {
namespace {

class HeadlessPlatform : public Platform {
 public:
  // The helper never forks, so its pid is asked once.
  std::int32_t processId() override { return pid_; }
  OsVersion osVersion() override { return kernelVersion(); }
  void enterBackgroundMode() override {}
  MainLoop& mainLoop() override { return loop_; }
  bool isProcessTrusted() override { return false; }
  bool isProcessTrustedWithPrompt() override { return false; }
  std::int32_t readFocusedApplication() override { return ax::kAPIDisabled; }
  std::vector<RunningApp> runningApplications(const std::string&) override { return {}; }
  Element createApplicationElement(std::int32_t) override { return nullptr; }
  AttributeRead copyAttributeValue(const Element&, const std::string&) override {
    return AttributeRead{ax::kAPIDisabled, std::nullopt};
  }
  SettableRead isAttributeSettable(const Element&, const std::string&) override {
    return SettableRead{ax::kAPIDisabled, false};
  }
  std::optional<AxValue> createValue(AxValueType type, double first, double second) override {
    return AxValue{static_cast<int>(type), first, second};
  }
  std::int32_t setAttributeValue(const Element&, const std::string&, const AxValue&) override {
    return ax::kAPIDisabled;
  }
  std::int32_t setBoolAttributeValue(const Element&, const std::string&, bool) override {
    return ax::kAPIDisabled;
  }
  bool hasWindowNumberFunction() override { return false; }
  WindowNumberRead windowNumber(const Element&) override { return WindowNumberRead{ax::kFailure, 0}; }
  ObserverCreated createObserver(std::int32_t, NotificationCallback) override {
    return ObserverCreated{ax::kAPIDisabled, nullptr};
  }
  std::int32_t addNotification(const Observer&, const Element&, const std::string&, const void*) override {
    return ax::kAPIDisabled;
  }
  void removeNotification(const Observer&, const Element&, const std::string&) override {}
  void attachObserver(const Observer&) override {}
  void detachObserver(const Observer&) override {}
  Token addTerminationListener(std::int32_t, TerminationCallback) override {
    return std::make_shared<TokenRef>();
  }
  void removeTerminationListener(const Token&) override {}
  std::vector<Screen> screens() override { return {}; }
  Rect mainDisplayBounds() override { return Rect{}; }
  Token addGlobalKeyMonitor(KeyCallback) override { return nullptr; }
  void removeKeyMonitor(const Token&) override {}

 private:
  std::int32_t pid_ = static_cast<std::int32_t>(getpid());
  PollMainLoop loop_;
};

}  // namespace

std::unique_ptr<Platform> createPlatform() { return std::make_unique<HeadlessPlatform>(); }

}  // namespace kestrove::platform
