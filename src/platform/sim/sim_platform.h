#pragma once

// An in-memory desktop behind the platform seam: real state, real
// consequences (a write moves the window and the move notification follows on
// the main loop), and faults as data. Test controls live here, never on
// platform::Platform. Everything but SimMainLoop::post is main-thread only.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_element.h"
#include "platform/sim/sim_main_loop.h"
#include "platform/sim/sim_world.h"

namespace kestrove::sim {

// One platform call as the sim saw it.
struct SimCall {
  std::string operation;  // the Platform method's name, e.g. "copyAttributeValue"
  std::string name;       // attribute, notification or bundle id; empty when none
  std::string element;    // describe(element) of the element concerned; empty when none
  bool operator==(const SimCall&) const = default;
};

// One setAttributeValue call and the code it returned.
struct SimWrite {
  std::string element;
  std::string attribute;
  platform::AxValue value;
  std::int32_t code = 0;
};

// One setBoolAttributeValue call and the code it returned.
struct SimFlagWrite {
  std::string element;
  std::string attribute;
  bool value = false;
  std::int32_t code = 0;
};

// One (element, notification) registration held by an observer.
struct SimRegistration {
  std::string element;
  std::string notification;
  const void* context = nullptr;
};

class SimPlatform : public platform::Platform {
 public:
  explicit SimPlatform(SimMainLoop::Clock clock = SimMainLoop::Clock::Virtual);
  ~SimPlatform() override;
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  // ---- platform::Platform ----
  std::int32_t processId() override;
  platform::OsVersion osVersion() override;
  void enterBackgroundMode() override;
  platform::MainLoop& mainLoop() override;
  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override;
  std::int32_t readFocusedApplication() override;
  std::vector<platform::RunningApp> runningApplications(const std::string& bundleId) override;
  platform::Element createApplicationElement(std::int32_t pid) override;
  platform::AttributeRead copyAttributeValue(const platform::Element& element,
                                             const std::string& attribute) override;
  platform::SettableRead isAttributeSettable(const platform::Element& element,
                                             const std::string& attribute) override;
  std::optional<platform::AxValue> createValue(platform::AxValueType type, double first,
                                               double second) override;
  std::int32_t setAttributeValue(const platform::Element& element, const std::string& attribute,
                                 const platform::AxValue& value) override;
  std::int32_t setBoolAttributeValue(const platform::Element& element, const std::string& attribute,
                                     bool value) override;
  bool hasWindowNumberFunction() override;
  platform::WindowNumberRead windowNumber(const platform::Element& window) override;
  platform::ObserverCreated createObserver(std::int32_t pid,
                                           platform::NotificationCallback callback) override;
  std::int32_t addNotification(const platform::Observer& observer, const platform::Element& element,
                               const std::string& notification, const void* context) override;
  void removeNotification(const platform::Observer& observer, const platform::Element& element,
                          const std::string& notification) override;
  void attachObserver(const platform::Observer& observer) override;
  void detachObserver(const platform::Observer& observer) override;
  platform::Token addTerminationListener(std::int32_t pid, platform::TerminationCallback callback) override;
  void removeTerminationListener(const platform::Token& token) override;
  std::vector<platform::Screen> screens() override;
  platform::Rect mainDisplayBounds() override;
  platform::Token addGlobalKeyMonitor(platform::KeyCallback callback) override;
  void removeKeyMonitor(const platform::Token& token) override;

  // ---- The loop ----
  SimMainLoop& loop() { return loop_; }

  // ---- Process and system ----
  void setProcessId(std::int32_t pid) { processId_ = pid; }
  void setOsVersion(platform::OsVersion version) { osVersion_ = version; }
  // How many times enterBackgroundMode was called.
  int backgroundModeEntered() const { return backgroundModeEntered_; }
  void setWindowNumberFunctionPresent(bool present) { windowNumberFunction_ = present; }

  // ---- Trust ----
  // Whether Accessibility is open to the process. While it is not, every
  // call on an element answers kAXErrorAPIDisabled and a key monitor
  // installed then stays deaf for its whole life, even once trust comes.
  void setTrusted(bool trusted) { trusted_ = trusted; }
  // The trust flag lags: isProcessTrusted (and the prompting variant)
  // answer false whatever the trust, as macOS 13 and later do in a process
  // that was running when the user granted trust, while the Accessibility
  // calls themselves work.
  void setTrustFlagLate(bool late) { trustFlagLate_ = late; }
  // readFocusedApplication answers `code` instead of what the trust gives
  // (kAXErrorAPIDisabled when untrusted, else 0, or kAXErrorNoValue when no
  // app runs); none: the real answer again.
  void failFocusedApplicationRead(std::optional<std::int32_t> code) { focusedReadFault_ = code; }
  // Whether a prompt makes the user grant trust. The grant shows from the
  // next call on: the prompting call itself still answers untrusted, since
  // the system does not wait for the user.
  void setPromptGrants(bool grants) { promptGrants_ = grants; }
  // Prompts requested so far (calls of isProcessTrustedWithPrompt while untrusted).
  int promptCount() const { return promptCount_; }

  // ---- Screens (bottom-left platform coordinates, primary first) ----
  void setScreens(std::vector<platform::Screen> screens) { screens_ = std::move(screens); }
  void setMainDisplayBounds(platform::Rect bounds) { mainDisplayBounds_ = bounds; }

  // ---- Applications and windows ----
  // Adds a running application (several may share a bundle id); runningApplications
  // lists them in the order added. Returns `pid`.
  std::int32_t addApp(const std::string& bundleId, std::int32_t pid);
  // Adds a window at the end of the app's AXWindows, silently (no notification).
  WindowId addWindow(std::int32_t pid, SimWindow window);
  // The window's current state; mutate it directly for changes that raise no
  // notification (flags, settable, clamping, children, title bar).
  SimWindow& window(WindowId id);
  const SimApp& app(std::int32_t pid) const;
  // The app's windows in AXWindows order (closed ones are gone).
  std::vector<WindowId> windowsOf(std::int32_t pid) const;
  // The window number the window-number function gives (assigned when none was set).
  std::uint32_t numberOf(WindowId id) const;
  // Moves the window to the front of its app's AXWindows.
  void raiseWindow(WindowId id);

  // ---- AXEnhancedUserInterface (sim_enhanced_interface.cc) ----
  // None: the app has no such attribute (reads and writes answer
  // kAXErrorAttributeUnsupported). While it is true, as with an assistive app
  // running, a size or position write to one of the app's windows returns at
  // once and the window gets there over kFrameAnimationTicks ticks of
  // kFrameAnimationTick, each tick a frame change with its notifications.
  static constexpr int kFrameAnimationTicks = 5;
  static constexpr std::chrono::milliseconds kFrameAnimationTick{40};
  void setEnhancedUserInterface(std::int32_t pid, std::optional<bool> value);
  std::optional<bool> enhancedUserInterface(std::int32_t pid) const;

  // Fresh element objects, equal (ElementRef::equals) to every other element
  // for the same app, window or child.
  platform::Element applicationElement(std::int32_t pid) const;
  platform::Element windowElement(WindowId id) const;
  platform::Element childElement(WindowId id, std::size_t index) const;
  // "app 42", "window 3", "window 3 child 1"; "foreign" for a non-sim element.
  static std::string describe(const platform::Element& element);

  // ---- What users and apps do (notifications follow on the main loop) ----
  // The user moves or resizes a window: no clamping; AXWindowMoved /
  // AXWindowResized on the app element when the frame changed.
  void moveWindow(WindowId id, double x, double y);
  void resizeWindow(WindowId id, double width, double height);
  // The app opens a window (end of AXWindows): AXWindowCreated on the app element.
  WindowId createWindow(std::int32_t pid, SimWindow window);
  // The window closes: it leaves AXWindows, its elements become invalid, and
  // AXUIElementDestroyed follows on the window element.
  void closeWindow(WindowId id);
  // The app quits: terminated flag set, its elements become invalid, and
  // every termination listener gets a notice with its pid, and each
  // listener added for that pid a second one as its running-application
  // record turns terminated, in the order the app's quitReport says (only
  // the second for an app that quits without the workspace notice).
  void quitApp(std::int32_t pid);
  void setQuitReport(std::int32_t pid, SimQuitReport report);
  // A termination notice as given, e.g. one without an application.
  void postTerminationNotice(platform::TerminationNotice notice);
  // A key event for every installed key monitor.
  void pressKey(platform::KeyEvent event);
  // Told "observer" when an observer is attached and "keyMonitor" when a key
  // monitor is installed, so that a scripted timeline can start once the
  // helper watches rather than at a fixed time from launch.
  void setWatchListener(std::function<void(std::string_view what)> listener) {
    watchListener_ = std::move(listener);
  }
  // A notification as the system would send it: to observers of `pid` that
  // registered (`registeredOn`, `name`), with `element` as the element.
  void sendNotification(std::int32_t pid, const platform::Element& registeredOn,
                        const platform::Element& element, const std::string& name);

  // ---- Faults (data, per element and attribute) ----
  // Reads of `attribute` on `element` answer `result` as given (any code, with
  // or without a value, a value of any kind). `times` < 0: every read;
  // otherwise the next `times` reads, then the real answer again.
  void failRead(const platform::Element& element, const std::string& attribute,
                platform::AttributeRead result, int times = -1);
  void failSettable(const platform::Element& element, const std::string& attribute,
                    platform::SettableRead result, int times = -1);
  // Writes return `code` and change nothing.
  void failWrite(const platform::Element& element, const std::string& attribute, std::int32_t code,
                 int times = -1);
  void failAddNotification(const platform::Element& element, const std::string& notification,
                           std::int32_t code);
  void clearFaults();
  void setCreateValueFails(bool fails) { createValueFails_ = fails; }
  // createObserver answers `code` and, when `nullObserver`, no observer.
  void failObserverCreate(std::int32_t code, bool nullObserver);
  // addGlobalKeyMonitor answers null.
  void refuseKeyMonitor(bool refuse) { keyMonitorRefused_ = refuse; }
  // The app (or one element) stops answering: from its `fromCall`-th call
  // on (0: the next one; counted over calls on any of the app's elements,
  // or on that element), every call on an element takes `delay` of virtual
  // time, with nothing else running meanwhile, and fails with
  // kAXErrorCannotComplete, as a call does when the messaging timeout runs
  // out. Writes made then change nothing. clearFaults ends it.
  void hangApp(std::int32_t pid, std::chrono::nanoseconds delay, std::size_t fromCall = 0);
  void hangElement(const platform::Element& element, std::chrono::nanoseconds delay,
                   std::size_t fromCall = 0);

  // ---- Inspection ----
  const std::vector<SimCall>& calls() const { return calls_; }
  // Calls of `operation` (and, when given, with this name and element).
  std::size_t countCalls(std::string_view operation, std::string_view name = {},
                         std::string_view element = {}) const;
  void clearCalls() { calls_.clear(); }
  // On from the start. A long run that nobody inspects (the sim driver) turns
  // it off, so that memory follows the helper and not the log.
  void setCallLog(bool on) { callLog_ = on; }
  const std::vector<SimWrite>& writes() const { return writes_; }
  const std::vector<SimFlagWrite>& flagWrites() const { return flagWrites_; }
  std::vector<SimRegistration> registrations(const platform::Observer& observer) const;
  bool isAttached(const platform::Observer& observer) const;
  // Observers created and still alive (held by someone).
  std::size_t liveObservers() const;
  std::size_t keyMonitorCount() const { return keyMonitors_.size(); }
  // Installed monitors that hear nothing, having been installed untrusted.
  std::size_t deafKeyMonitorCount() const;
  std::size_t terminationListenerCount() const { return terminationListeners_.size(); }

 private:
  struct Impl;

  struct TerminationListener {
    std::int32_t pid = 0;
    platform::TerminationCallback callback;
  };
  struct KeyMonitor {
    platform::KeyCallback callback;
    bool deaf = false;
  };
  std::function<void(std::string_view)> watchListener_;

  void log(std::string operation, std::string name = {}, std::string element = {});
  // Whether a call on the element times out (the time is spent here).
  bool stalls(const ElementKey& key);
  // A termination report to every listener (`onlyPid`: to those added for it).
  void postTermination(platform::TerminationNotice notice, std::optional<std::int32_t> onlyPid);
  // A frame change the app makes after a write: notifications, and the
  // title bar that follows a move.
  void changeFrame(WindowId id, double x, double y, double width, double height);
  // The write lands over the next ticks instead of at once.
  void animateTo(WindowId id, double x, double y, double width, double height);
  void animationTick(WindowId id);

  SimMainLoop loop_;
  std::int32_t processId_ = 1000;
  platform::OsVersion osVersion_{14, 5, 0};
  int backgroundModeEntered_ = 0;
  bool windowNumberFunction_ = true;
  bool trusted_ = true;
  bool trustFlagLate_ = false;
  std::optional<std::int32_t> focusedReadFault_;
  bool promptGrants_ = false;
  int promptCount_ = 0;
  std::vector<platform::Screen> screens_;
  platform::Rect mainDisplayBounds_{0, 0, 1440, 900};
  bool createValueFails_ = false;
  bool keyMonitorRefused_ = false;
  std::map<std::uint64_t, TerminationListener> terminationListeners_;
  std::map<std::uint64_t, KeyMonitor> keyMonitors_;
  std::vector<SimCall> calls_;
  bool callLog_ = true;
  std::vector<SimWrite> writes_;
  std::vector<SimFlagWrite> flagWrites_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrove::sim
