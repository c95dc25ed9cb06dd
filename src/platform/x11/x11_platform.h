#pragma once

#include <map>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/poll_main_loop.h"
#include "platform/x11/accessibility_reader.h"
#include "platform/x11/connection.h"
#include "platform/x11/desktop_snapshot.h"
#include "platform/x11/key_watch.h"
#include "platform/x11/process_watch.h"
#include "platform/x11/turn_loop.h"
#include "platform/x11/window_events.h"
#include "platform/x11/window_mover.h"

namespace kestrove::platform::x11 {

// The seam over an X display with an EWMH window manager. The display is
// reached only when an operation needs it, so `version` never connects, and
// a lost display is answered as no display until it can be reached again.
class X11Platform : public Platform {
 public:
  X11Platform();
  ~X11Platform() override;

  std::int32_t processId() override;
  OsVersion osVersion() override;
  void enterBackgroundMode() override {}
  MainLoop& mainLoop() override { return turnLoop_; }

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override { return isProcessTrusted(); }
  // The display's answer is the trust itself: no call can tell otherwise.
  std::int32_t readFocusedApplication() override {
    return isProcessTrusted() ? ax::kSuccess : ax::kAPIDisabled;
  }
  std::vector<RunningApp> runningApplications(const std::string& bundleId) override;

  Element createApplicationElement(std::int32_t pid) override;
  AttributeRead copyAttributeValue(const Element& element, const std::string& attribute) override;
  SettableRead isAttributeSettable(const Element& element, const std::string& attribute) override;
  std::optional<AxValue> createValue(AxValueType type, double first, double second) override;
  std::int32_t setAttributeValue(const Element& element, const std::string& attribute,
                                 const AxValue& value) override;
  // X has no Boolean attribute to write.
  std::int32_t confirmWrites(const Element& element) override;
  std::int32_t setBoolAttributeValue(const Element&, const std::string&, bool) override {
    return ax::kAttributeUnsupported;
  }

  bool hasWindowNumberFunction() override { return true; }
  WindowNumberRead windowNumber(const Element& window) override;

  ObserverCreated createObserver(std::int32_t pid, NotificationCallback callback) override;
  std::int32_t addNotification(const Observer& observer, const Element& element,
                               const std::string& notification, const void* context) override;
  void removeNotification(const Observer& observer, const Element& element,
                          const std::string& notification) override;
  void attachObserver(const Observer& observer) override;
  void detachObserver(const Observer& observer) override;

  // Every watched process is reported (createObserver watches the observed one).
  Token addTerminationListener(std::int32_t pid, TerminationCallback callback) override;
  void removeTerminationListener(const Token& token) override;

  std::vector<Screen> screens() override;
  Rect mainDisplayBounds() override;

  Token addGlobalKeyMonitor(KeyCallback callback) override;
  void removeKeyMonitor(const Token& token) override;

  // Drops what was read this turn and hands on the events read meanwhile.
  void endOfTurn();

 private:
  // Every read first waits for the window manager to act on what was written.
  void settleWrites() { mover_.settle(); }
  void deliverEvents();
  void dispatch(const xcb_generic_event_t& event);
  void processExited(std::int32_t pid);

  PollMainLoop loop_;
  TurnLoop turnLoop_;
  Connection connection_;
  DesktopSnapshot snapshot_;
  AccessibilityReader accessibility_;
  WindowMover mover_;
  WindowEvents windowEvents_;
  KeyWatch keyWatch_;
  ProcessWatch processWatch_;
  std::map<std::uint64_t, TerminationCallback> terminationListeners_;
  std::uint64_t nextListenerId_ = 1;
  bool inEndOfTurn_ = false;
};

}  // namespace kestrove::platform::x11
