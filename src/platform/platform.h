#pragma once

// The seam between the portable core and a desktop backend (macOS, X11, sim).
//
// A backend only translates: every value keeps the platform's own failure
// shape (an error code, code 0 with no value, a value of an unexpected kind)
// so that the rules about what counts as "none" live once, in the core.
// Everything here is called on the main thread, except MainLoop::post.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/main_loop.h"

namespace kestrove::platform {

// Accessibility error codes, with the values macOS uses, so that a reply's
// "axErrors" reads the same on every desktop.
namespace ax {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFailure = -25200;
inline constexpr std::int32_t kIllegalArgument = -25201;
inline constexpr std::int32_t kInvalidUIElement = -25202;
inline constexpr std::int32_t kInvalidUIElementObserver = -25203;
inline constexpr std::int32_t kCannotComplete = -25204;
inline constexpr std::int32_t kAttributeUnsupported = -25205;
inline constexpr std::int32_t kActionUnsupported = -25206;
inline constexpr std::int32_t kNotificationUnsupported = -25207;
inline constexpr std::int32_t kNotImplemented = -25208;
inline constexpr std::int32_t kNotificationAlreadyRegistered = -25209;
inline constexpr std::int32_t kNotificationNotRegistered = -25210;
inline constexpr std::int32_t kAPIDisabled = -25211;
inline constexpr std::int32_t kNoValue = -25212;
}  // namespace ax

// A backend's reference to an application or window element (or a child).
// Held through Element, so copies share one reference and the last one
// releases it.
class ElementRef {
 public:
  virtual ~ElementRef() = default;
  // Whether both denote the same element (CFEqual on macOS).
  virtual bool equals(const ElementRef& other) const = 0;
  // The process of the application the element belongs to, asked of the
  // element itself (AXUIElementGetPid on macOS: no message to that
  // application); none when the backend cannot tell, and then every such
  // element counts as one application.
  virtual std::optional<std::int32_t> processId() const { return std::nullopt; }
};
using Element = std::shared_ptr<const ElementRef>;

inline bool sameElement(const Element& a, const Element& b) {
  if (!a || !b) return a == b;
  return a.get() == b.get() || a->equals(*b);
}

// AXValue types, numbered as the platform numbers them.
enum class AxValueType : int { Point = 1, Size = 2 };

// A point, size or other AXValue as read or to be written. `type` keeps the
// platform number so a value of another type (a rect, say) can be told apart.
struct AxValue {
  int type = 0;
  double first = 0;   // x or width
  double second = 0;  // y or height
};

// A number value (Booleans are numbers on macOS).
struct Number {
  double value = 0;
};

// A list whose entries are not all elements.
struct NonElementList {};

// Any value of a kind the core never expects (a dictionary, a URL, ...).
struct OtherValue {};

using Value = std::variant<std::string, Number, AxValue, std::vector<Element>, NonElementList, OtherValue>;

// AXUIElementCopyAttributeValue: the code and what came back, which may be
// nothing even with code 0, and may come back with a nonzero code.
struct AttributeRead {
  std::int32_t code = ax::kSuccess;
  std::optional<Value> value;
};

// AXUIElementIsAttributeSettable: the code and the flag.
struct SettableRead {
  std::int32_t code = ax::kSuccess;
  bool settable = false;
};

// The private window-number function: a code and the number it filled in.
struct WindowNumberRead {
  std::int32_t code = ax::kSuccess;
  std::uint32_t number = 0;
};

struct RunningApp {
  std::int32_t pid = 0;
  bool terminated = false;
};

// Rectangle in the platform's own screen coordinates (bottom-left origin on
// macOS); the core converts.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct Screen {
  Rect frame;
  Rect visibleFrame;
  // The display number; none when the platform has none or it is not a number.
  std::optional<std::int64_t> number;
  double scale = 1;
};

// Modifier bits, with the platform's values.
namespace modifier {
inline constexpr std::uint64_t kShift = 0x20000;
inline constexpr std::uint64_t kControl = 0x40000;
inline constexpr std::uint64_t kOption = 0x80000;
inline constexpr std::uint64_t kCommand = 0x100000;
}  // namespace modifier

struct KeyEvent {
  std::uint16_t keyCode = 0;  // Escape is 53 on every backend
  bool isDown = false;        // a key-down; anything else is a key-up
  bool isRepeat = false;      // auto-repeat; meaningful for key-downs only
  std::uint64_t modifierFlags = 0;
};

// A termination notice; `pid` is none when the notice did not carry the
// application (no user info, no application entry, or not an application).
struct TerminationNotice {
  std::optional<std::int32_t> pid;
};

struct OsVersion {
  std::int64_t major = 0;
  std::int64_t minor = 0;
  std::int64_t patch = 0;
};

// Observer and listener tokens: opaque, reference-counted.
class ObserverRef {
 public:
  virtual ~ObserverRef() = default;
};
using Observer = std::shared_ptr<ObserverRef>;

class TokenRef {
 public:
  virtual ~TokenRef() = default;
};
using Token = std::shared_ptr<TokenRef>;

struct ObserverCreated {
  std::int32_t code = ax::kSuccess;
  Observer observer;  // may be null even with code 0
};

// Called on the main thread with the element concerned, the notification name
// and the context it was registered with.
using NotificationCallback =
    std::function<void(const Element& element, const std::string& notification, const void* context)>;
using TerminationCallback = std::function<void(const TerminationNotice&)>;
using KeyCallback = std::function<void(const KeyEvent&)>;

class Platform {
 public:
  virtual ~Platform() = default;

  // Process
  virtual std::int32_t processId() = 0;
  virtual OsVersion osVersion() = 0;
  // Loop mode begins: become a background application (no Dock icon, no menu).
  virtual void enterBackgroundMode() = 0;
  virtual MainLoop& mainLoop() = 0;

  // Trust
  virtual bool isProcessTrusted() = 0;
  // Asks the system to prompt the user when untrusted; does not wait.
  virtual bool isProcessTrustedWithPrompt() = 0;
  // One real Accessibility call that needs trust: the code of reading the
  // focused application from the system-wide element. kAXErrorAPIDisabled
  // when the interface is closed to this process; anything else (the
  // application, no value, a timeout) when it is open.
  virtual std::int32_t readFocusedApplication() = 0;

  // Running applications with this bundle identifier, in the platform's order.
  virtual std::vector<RunningApp> runningApplications(const std::string& bundleId) = 0;

  // Elements
  virtual Element createApplicationElement(std::int32_t pid) = 0;
  virtual AttributeRead copyAttributeValue(const Element& element, const std::string& attribute) = 0;
  virtual SettableRead isAttributeSettable(const Element& element, const std::string& attribute) = 0;
  // AXValueCreate: none when the value cannot be created.
  virtual std::optional<AxValue> createValue(AxValueType type, double first, double second) = 0;
  virtual std::int32_t setAttributeValue(const Element& element, const std::string& attribute,
                                         const AxValue& value) = 0;
  // Whether the writes to `element` since the last call were seen to take
  // effect, asked once they have been read back: kSuccess, or
  // kCannotComplete when the time ran out first. A write's code is final
  // when it returns on macOS and in the simulation; a backend that hands
  // writes to another program (a window manager) learns only later.
  virtual std::int32_t confirmWrites(const Element& element) {
    (void)element;
    return ax::kSuccess;
  }
  // AXUIElementSetAttributeValue with a Boolean value.
  virtual std::int32_t setBoolAttributeValue(const Element& element, const std::string& attribute,
                                             bool value) = 0;

  // The private window-number function, which may be missing.
  virtual bool hasWindowNumberFunction() = 0;
  virtual WindowNumberRead windowNumber(const Element& window) = 0;

  // Observers: notifications reach the callback on the main thread while the
  // observer is attached, and never after it is detached.
  virtual ObserverCreated createObserver(std::int32_t pid, NotificationCallback callback) = 0;
  virtual std::int32_t addNotification(const Observer& observer, const Element& element,
                                       const std::string& notification, const void* context) = 0;
  virtual void removeNotification(const Observer& observer, const Element& element,
                                  const std::string& notification) = 0;
  virtual void attachObserver(const Observer& observer) = 0;
  virtual void detachObserver(const Observer& observer) = 0;

  // Application termination: the callback runs on the main thread once per
  // terminating application until the token is removed, and for `pid` in
  // any case, also where the platform's general notice leaves it out
  // (macOS posts none for background and agent applications). `pid` may
  // then be reported twice; the core keeps the first.
  virtual Token addTerminationListener(std::int32_t pid, TerminationCallback callback) = 0;
  virtual void removeTerminationListener(const Token& token) = 0;

  // Screens, primary first; the main display's bounds for an empty list.
  virtual std::vector<Screen> screens() = 0;
  virtual Rect mainDisplayBounds() = 0;

  // A system-wide key monitor for key-down and key-up; null when none could be
  // installed. The callback runs on the main thread.
  virtual Token addGlobalKeyMonitor(KeyCallback callback) = 0;
  virtual void removeKeyMonitor(const Token& token) = 0;
};

}  // namespace kestrove::platform
