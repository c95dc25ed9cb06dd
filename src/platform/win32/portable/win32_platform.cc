#include "platform/win32/portable/win32_platform.h"

#include <algorithm>
#include <cmath>

#include "platform/win32/portable/app_identity.h"
#include "platform/win32/portable/screen_shapes.h"
#include "platform/win32/portable/window_shapes.h"

namespace kestrove::platform::win32 {
namespace {

AttributeRead value(Value v) { return AttributeRead{ax::kSuccess, std::move(v)}; }
AttributeRead failure(std::int32_t code) { return AttributeRead{code, std::nullopt}; }
AttributeRead flag(bool on) { return value(Number{on ? 1.0 : 0.0}); }

// Global top-left points are the desktop's pixels: the primary monitor's
// top-left is the origin on Windows, and the helper is per-monitor aware,
// so no rect is scaled on its way in or out.
AttributeRead rectAttribute(const PixelRect& r, const std::string& attribute) {
  if (attribute == "AXPosition")
    return value(AxValue{int(AxValueType::Point), double(r.left), double(r.top)});
  return value(AxValue{int(AxValueType::Size), double(r.width()), double(r.height())});
}

bool isAppNotification(const std::string& n) { return n == kCreated || n == kMoved || n == kResized; }

std::int32_t toPixel(double v) {
  constexpr double kLimit = 1 << 30;
  return static_cast<std::int32_t>(std::lround(std::clamp(v, -kLimit, kLimit)));
}

// An application user model id is "PackageFamilyName!AppId"; only such an
// identifier costs a call per process.
bool mayBeUserModelId(const std::string& bundleId) { return bundleId.find('!') != std::string::npos; }

// A hook or wait held for as long as the token is, or until removed.
class RegistrationToken : public TokenRef {
 public:
  explicit RegistrationToken(Registration registration) : registration_(std::move(registration)) {}
  void release() { registration_.reset(); }

 private:
  Registration registration_;
};

void release(const Token& token) {
  if (auto* registration = dynamic_cast<RegistrationToken*>(token.get())) registration->release();
}

}  // namespace

class Win32Platform::ObserverImpl : public ObserverRef {
 public:
  struct Entry {
    Element element;
    std::string notification;
    const void* context;
  };
  ObserverImpl(std::uint32_t observedPid, NotificationCallback onNotification)
      : pid(observedPid), callback(std::move(onNotification)) {}

  std::uint32_t pid;
  NotificationCallback callback;
  bool attached = false;
  std::vector<Entry> entries;
};

Win32Platform::Win32Platform(Win32Api& api, MainLoop& loop)
    : api_(api), loop_(loop), ownPid_(api.currentProcessId()), events_(api, ownPid_) {}

Win32Platform::~Win32Platform() = default;

std::int32_t Win32Platform::processId() { return static_cast<std::int32_t>(ownPid_); }

OsVersion Win32Platform::osVersion() {
  OsVersion v;
  api_.osVersion(v.major, v.minor, v.patch);
  return v;
}

std::vector<RunningApp> Win32Platform::runningApplications(const std::string& bundleId) {
  std::vector<RunningApp> apps;
  const bool modelId = mayBeUserModelId(bundleId);
  for (const Win32Api::Process& process : api_.processes()) {
    if (process.pid == 0) continue;
    std::optional<std::string> aumid;
    if (modelId) aumid = api_.applicationUserModelId(process.pid);
    if (namesApplication(bundleId, process.exeFile, aumid))
      apps.push_back(RunningApp{static_cast<std::int32_t>(process.pid), false});
  }
  return apps;
}

Element Win32Platform::createApplicationElement(std::int32_t pid) {
  return makeElement(Win32Element::Kind::Application, static_cast<std::uint32_t>(pid),
                     static_cast<std::uint32_t>(pid));
}

std::vector<WindowHandle> Win32Platform::windowsOf(std::uint32_t pid) {
  std::vector<WindowHandle> windows;
  for (const Win32Api::TopLevel& top : api_.topLevelWindows()) {
    if (top.pid != pid) continue;
    bool cloaked = false;
    if (api_.cloaked(top.window, cloaked) != 0) cloaked = false;
    if (isApplicationWindow(api_.windowStyles(top.window), cloaked)) windows.push_back(top.window);
  }
  return windows;
}

AttributeRead Win32Platform::copyAttributeValue(const Element& element, const std::string& attribute) {
  const Win32Element* w = asWin32(element);
  if (!w) return failure(ax::kIllegalArgument);
  switch (w->kind()) {
    case Win32Element::Kind::Application:
      if (attribute == "AXWindows") {
        std::vector<Element> windows;
        for (WindowHandle h : windowsOf(w->pid()))
          windows.push_back(makeElement(Win32Element::Kind::Window, h, w->pid()));
        return value(std::move(windows));
      }
      if (attribute == "AXRole") return value(std::string("AXApplication"));
      return failure(ax::kAttributeUnsupported);
    case Win32Element::Kind::Window:
      return windowAttribute(*w, attribute);
    case Win32Element::Kind::Content:
      return contentAttribute(*w, attribute);
  }
  return failure(ax::kFailure);
}

AttributeRead Win32Platform::windowAttribute(const Win32Element& element, const std::string& attribute) {
  const WindowHandle window = element.window();
  if (!api_.windowExists(window)) return failure(ax::kInvalidUIElement);
  if (attribute == "AXPosition" || attribute == "AXSize") {
    auto frame = windowFrame(api_, window);
    if (!frame) return failure(ax::kInvalidUIElement);
    return rectAttribute(*frame, attribute);
  }
  if (attribute == "AXChildren") {
    std::vector<Element> children;
    auto frame = visibleFrame(api_, window);
    auto client = api_.clientRectOnScreen(window);
    RectResult titleBar = api_.titleBarBounds(window);
    // A client area reaching the frame's top is a title bar the app draws
    // itself (or none); without UI Automation to find it, the window says
    // nothing about it, so that it reads as not measured rather than 0.
    bool measured = frame && client && (client->top > frame->top || titleBar.hresult == 0);
    if (measured) children.push_back(makeElement(Win32Element::Kind::Content, window, element.pid()));
    return value(std::move(children));
  }
  if (attribute == "AXMinimized") return flag(api_.isIconic(window));
  if (attribute == "AXFullScreen") {
    auto frame = visibleFrame(api_, window);
    return flag(frame && !api_.isIconic(window) &&
                isFullScreen(api_.windowStyles(window), *frame, api_.monitors()));
  }
  if (attribute == "AXMain") {
    auto mine = windowsOf(element.pid());
    WindowHandle foreground = api_.foregroundWindow();
    if (std::find(mine.begin(), mine.end(), foreground) != mine.end()) return flag(foreground == window);
    return flag(!mine.empty() && mine.front() == window);
  }
  if (attribute == "AXRole") return value(std::string("AXWindow"));
  if (attribute == "AXSubrole") {
    return value(std::string(api_.windowStyles(window).owned ? "AXDialog" : "AXStandardWindow"));
  }
  return failure(ax::kAttributeUnsupported);
}

// The client area, less a title bar the app draws over it where UI
// Automation finds one.
AttributeRead Win32Platform::contentAttribute(const Win32Element& element, const std::string& attribute) {
  const WindowHandle window = element.window();
  if (!api_.windowExists(window)) return failure(ax::kInvalidUIElement);
  if (attribute == "AXPosition" || attribute == "AXSize") {
    auto frame = windowFrame(api_, window);
    auto client = api_.clientRectOnScreen(window);
    if (!frame || !client) return failure(ax::kInvalidUIElement);
    std::int32_t top = client->top;
    RectResult titleBar = api_.titleBarBounds(window);
    if (titleBar.hresult == 0 && titleBar.rect.bottom > top && titleBar.rect.bottom < frame->bottom)
      top = titleBar.rect.bottom;
    return rectAttribute(PixelRect{frame->left, top, frame->right, frame->bottom}, attribute);
  }
  if (attribute == "AXRole") return value(std::string("AXGroup"));
  if (attribute == "AXChildren") return value(std::vector<Element>{});
  return failure(ax::kAttributeUnsupported);
}

SettableRead Win32Platform::isAttributeSettable(const Element& element, const std::string& attribute) {
  const Win32Element* w = asWin32(element);
  if (!w) return SettableRead{ax::kIllegalArgument, false};
  if (w->kind() == Win32Element::Kind::Application) return SettableRead{ax::kSuccess, false};
  if (!api_.windowExists(w->window())) return SettableRead{ax::kInvalidUIElement, false};
  if (w->kind() != Win32Element::Kind::Window) return SettableRead{ax::kSuccess, false};
  WindowStyles styles = api_.windowStyles(w->window());
  bool iconic = api_.isIconic(w->window()), zoomed = api_.isZoomed(w->window());
  if (attribute == "AXPosition") return SettableRead{ax::kSuccess, canMove(styles, iconic, zoomed)};
  if (attribute == "AXSize") return SettableRead{ax::kSuccess, canResize(styles, iconic, zoomed)};
  if (attribute == "AXMinimized") return SettableRead{ax::kSuccess, true};
  return SettableRead{ax::kSuccess, false};
}

std::optional<AxValue> Win32Platform::createValue(AxValueType type, double first, double second) {
  return AxValue{static_cast<int>(type), first, second};
}

std::int32_t Win32Platform::moveOrResize(const Win32Element& element, const std::string& attribute,
                                         const AxValue& value) {
  const WindowHandle window = element.window();
  const bool move = attribute == "AXPosition";
  if (value.type != int(move ? AxValueType::Point : AxValueType::Size)) return ax::kIllegalArgument;
  if (!std::isfinite(value.first) || !std::isfinite(value.second)) return ax::kIllegalArgument;
  if (!api_.windowExists(window)) return ax::kInvalidUIElement;
  // SetWindowPos sends the window messages: a hung one would stall us.
  if (!api_.answersWithin(window, kAnswerMilliseconds)) {
    return api_.windowExists(window) ? ax::kCannotComplete : ax::kInvalidUIElement;
  }
  auto outer = api_.windowRect(window);
  // The described frame, not the visible one: what was read is what is written.
  auto visible = windowFrame(api_, window);
  if (!outer || !visible) return ax::kInvalidUIElement;
  PixelRect target = *visible;
  if (move) {
    target = PixelRect{toPixel(value.first), toPixel(value.second), 0, 0};
    target.right = target.left + visible->width();
    target.bottom = target.top + visible->height();
  } else {
    if (value.first < 0 || value.second < 0) return ax::kIllegalArgument;
    target.right = target.left + toPixel(value.first);
    target.bottom = target.top + toPixel(value.second);
  }
  PixelRect rect = windowRectFor(target, *outer, *visible);
  CallResult result =
      api_.setWindowPos(window, rect.left, rect.top, rect.width(), rect.height(), move, !move);
  if (result.ok) return ax::kSuccess;
  return axErrorFor(result.lastError);
}

std::int32_t Win32Platform::setAttributeValue(const Element& element, const std::string& attribute,
                                              const AxValue& value) {
  const Win32Element* w = asWin32(element);
  if (!w) return ax::kIllegalArgument;
  if (w->kind() != Win32Element::Kind::Window) {
    if (w->kind() == Win32Element::Kind::Content && !api_.windowExists(w->window()))
      return ax::kInvalidUIElement;
    return ax::kAttributeUnsupported;
  }
  if (attribute != "AXPosition" && attribute != "AXSize") return ax::kAttributeUnsupported;
  return moveOrResize(*w, attribute, value);
}

std::int32_t Win32Platform::setBoolAttributeValue(const Element& element, const std::string& attribute,
                                                  bool on) {
  const Win32Element* w = asWin32(element);
  if (!w) return ax::kIllegalArgument;
  if (w->kind() != Win32Element::Kind::Window || attribute != "AXMinimized") return ax::kAttributeUnsupported;
  if (!api_.windowExists(w->window())) return ax::kInvalidUIElement;
  if (!api_.answersWithin(w->window(), kAnswerMilliseconds)) return ax::kCannotComplete;
  CallResult result = api_.showMinimized(w->window(), on);
  return result.ok ? ax::kSuccess : axErrorFor(result.lastError);
}

WindowNumberRead Win32Platform::windowNumber(const Element& window) {
  const Win32Element* w = asWin32(window);
  if (!w || w->kind() != Win32Element::Kind::Window) return WindowNumberRead{ax::kIllegalArgument, 0};
  if (!api_.windowExists(w->window())) return WindowNumberRead{ax::kInvalidUIElement, 0};
  // HWNDs are 32 bits wide even in 64-bit processes, so that they can be
  // shared with 32-bit ones.
  return WindowNumberRead{ax::kSuccess, static_cast<std::uint32_t>(w->window())};
}

ObserverCreated Win32Platform::createObserver(std::int32_t pid, NotificationCallback callback) {
  if (!eventHook_) {
    eventHook_ = api_.hookWinEvents([this](const WinEvent& event) { deliver(event); });
    if (!eventHook_) return ObserverCreated{ax::kCannotComplete, nullptr};
  }
  auto observer = std::make_shared<ObserverImpl>(static_cast<std::uint32_t>(pid), std::move(callback));
  observers_.push_back(observer);
  return ObserverCreated{ax::kSuccess, observer};
}

std::int32_t Win32Platform::addNotification(const Observer& observer, const Element& element,
                                            const std::string& notification, const void* context) {
  auto* o = dynamic_cast<ObserverImpl*>(observer.get());
  const Win32Element* w = asWin32(element);
  if (!o || !w) return ax::kIllegalArgument;
  bool onApp = w->kind() == Win32Element::Kind::Application && isAppNotification(notification);
  bool onWindow = w->kind() == Win32Element::Kind::Window && notification == kDestroyed;
  if (!onApp && !onWindow) return ax::kNotificationUnsupported;
  if (onApp && w->pid() != o->pid) return ax::kIllegalArgument;
  if (onWindow && !api_.windowExists(w->window())) return ax::kInvalidUIElement;
  for (const auto& e : o->entries) {
    if (e.notification == notification && sameElement(e.element, element))
      return ax::kNotificationAlreadyRegistered;
  }
  events_.adopt(w->pid());
  o->entries.push_back({element, notification, context});
  return ax::kSuccess;
}

void Win32Platform::removeNotification(const Observer& observer, const Element& element,
                                       const std::string& notification) {
  auto* o = dynamic_cast<ObserverImpl*>(observer.get());
  if (!o) return;
  std::erase_if(o->entries, [&](const ObserverImpl::Entry& e) {
    return e.notification == notification && sameElement(e.element, element);
  });
}

void Win32Platform::attachObserver(const Observer& observer) {
  if (auto* o = dynamic_cast<ObserverImpl*>(observer.get())) o->attached = true;
}

void Win32Platform::detachObserver(const Observer& observer) {
  if (auto* o = dynamic_cast<ObserverImpl*>(observer.get())) o->attached = false;
}

void Win32Platform::deliver(const WinEvent& event) {
  std::vector<WindowNotice> notices = events_.translate(event);
  if (notices.empty()) return;
  std::erase_if(observers_, [](const std::weak_ptr<ObserverImpl>& weak) { return weak.expired(); });
  std::vector<std::shared_ptr<ObserverImpl>> live;
  for (auto& weak : observers_)
    if (auto o = weak.lock()) live.push_back(std::move(o));
  for (const WindowNotice& notice : notices) {
    Element window = makeElement(Win32Element::Kind::Window, notice.window, notice.pid);
    for (const auto& o : live) {
      if (o->pid != notice.pid) continue;
      // Copied: a callback may remove registrations.
      std::vector<ObserverImpl::Entry> entries = o->entries;
      for (const auto& e : entries) {
        if (!o->attached || e.notification != notice.notification) continue;
        const Win32Element* target = asWin32(e.element);
        bool matches = target->kind() == Win32Element::Kind::Application ||
                       (target->kind() == Win32Element::Kind::Window && target->window() == notice.window);
        if (matches) o->callback(window, notice.notification, e.context);
      }
    }
  }
}

Token Win32Platform::addTerminationListener(std::int32_t pid, TerminationCallback callback) {
  // A process that cannot be waited for (protected, or gone) gives no
  // notice; the token still stands for the listener.
  Registration wait =
      api_.waitForExit(static_cast<std::uint32_t>(pid),
                       [pid, callback = std::move(callback)] { callback(TerminationNotice{pid}); });
  return std::make_shared<RegistrationToken>(std::move(wait));
}

void Win32Platform::removeTerminationListener(const Token& token) { release(token); }

std::vector<Screen> Win32Platform::screens() { return screenList(api_.monitors()); }

Rect Win32Platform::mainDisplayBounds() { return win32::mainDisplayBounds(api_.monitors()); }

Token Win32Platform::addGlobalKeyMonitor(KeyCallback callback) {
  auto translation = std::make_shared<KeyTranslation>();
  Registration hook =
      api_.hookKeyboard([translation, callback = std::move(callback)](const LowLevelKey& key) {
        callback(translation->translate(key));
      });
  if (!hook) return nullptr;
  return std::make_shared<RegistrationToken>(std::move(hook));
}

void Win32Platform::removeKeyMonitor(const Token& token) { release(token); }

}  // namespace kestrove::platform::win32
