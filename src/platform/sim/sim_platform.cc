#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "platform/sim/sim_geometry.h"
#include "platform/sim/sim_platform_impl.h"

namespace kestrove::sim {

namespace ax = platform::ax;
using platform::AttributeRead;
using platform::AxValue;
using platform::Element;
using platform::Number;
using platform::SettableRead;
using platform::Value;

SimApp* SimPlatform::Impl::findApp(std::int32_t pid) {
  for (auto& app : apps)
    if (app.pid == pid) return &app;
  return nullptr;
}

SimPlatform::Impl::WindowState* SimPlatform::Impl::findWindow(WindowId id) {
  auto it = windows.find(id);
  return it == windows.end() ? nullptr : &it->second;
}

bool SimPlatform::Impl::isLive(const ElementKey& key) {
  if (key.kind == ElementKey::Kind::Application) {
    auto* app = findApp(key.pid);
    return app != nullptr && !app->terminated;
  }
  auto* window = findWindow(key.window);
  if (window == nullptr || window->closed) return false;
  auto* app = findApp(window->pid);
  if (app == nullptr || app->terminated) return false;
  return key.kind == ElementKey::Kind::Window || key.child < window->data.children.size();
}

SimPlatform::SimPlatform(SimMainLoop::Clock clock) : loop_(clock), impl_(std::make_unique<Impl>()) {}
SimPlatform::~SimPlatform() = default;

void SimPlatform::log(std::string operation, std::string name, std::string element) {
  if (!callLog_) return;
  calls_.push_back(SimCall{std::move(operation), std::move(name), std::move(element)});
}

std::string SimPlatform::describe(const Element& element) {
  auto key = keyOf(element);
  return key ? key->describe() : "foreign";
}

std::size_t SimPlatform::countCalls(std::string_view operation, std::string_view name,
                                    std::string_view element) const {
  return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const SimCall& call) {
    return call.operation == operation && (name.empty() || call.name == name) &&
           (element.empty() || call.element == element);
  }));
}

// ---- Process, trust, screens ----

std::int32_t SimPlatform::processId() {
  log("processId");
  return processId_;
}

platform::OsVersion SimPlatform::osVersion() {
  log("osVersion");
  return osVersion_;
}

void SimPlatform::enterBackgroundMode() {
  log("enterBackgroundMode");
  ++backgroundModeEntered_;
}

platform::MainLoop& SimPlatform::mainLoop() { return loop_; }

bool SimPlatform::isProcessTrusted() {
  log("isProcessTrusted");
  return trusted_ && !trustFlagLate_;
}

bool SimPlatform::isProcessTrustedWithPrompt() {
  log("isProcessTrustedWithPrompt");
  if (trusted_ && !trustFlagLate_) return true;
  ++promptCount_;
  // The system does not wait for the user: a grant shows from the next call.
  if (promptGrants_) trusted_ = true;
  return false;
}

std::int32_t SimPlatform::readFocusedApplication() {
  log("readFocusedApplication");
  if (focusedReadFault_) return *focusedReadFault_;
  if (!trusted_) return ax::kAPIDisabled;
  const bool anyRunning =
      std::any_of(impl_->apps.begin(), impl_->apps.end(), [](const SimApp& app) { return !app.terminated; });
  return anyRunning ? ax::kSuccess : ax::kNoValue;
}

bool SimPlatform::stalls(const ElementKey& key) {
  std::optional<std::chrono::nanoseconds> delay;
  // Both counters move on every call, so "from the nth call" holds for each.
  auto count = [&delay](Hang& hang) {
    if (hang.take()) delay = std::max(delay.value_or(std::chrono::nanoseconds::zero()), hang.delay);
  };
  if (auto it = impl_->elementHangs.find(key); it != impl_->elementHangs.end()) count(it->second);
  if (auto it = impl_->appHangs.find(key.pid); it != impl_->appHangs.end()) count(it->second);
  if (!delay) return false;
  loop_.elapse(*delay);
  return true;
}

void SimPlatform::hangApp(std::int32_t pid, std::chrono::nanoseconds delay, std::size_t fromCall) {
  impl_->appHangs[pid] = Hang{delay, fromCall, 0};
}

void SimPlatform::hangElement(const Element& element, std::chrono::nanoseconds delay, std::size_t fromCall) {
  auto key = keyOf(element);
  if (!key) throw std::logic_error("sim: hang on a non-sim element");
  impl_->elementHangs[*key] = Hang{delay, fromCall, 0};
}

std::vector<platform::Screen> SimPlatform::screens() {
  log("screens");
  return screens_;
}

platform::Rect SimPlatform::mainDisplayBounds() {
  log("mainDisplayBounds");
  return mainDisplayBounds_;
}

// ---- Applications and windows ----

std::int32_t SimPlatform::addApp(const std::string& bundleId, std::int32_t pid) {
  impl_->apps.push_back(SimApp{bundleId, pid, false, std::nullopt, SimQuitReport::NoticeFirst});
  impl_->order[pid];
  return pid;
}

WindowId SimPlatform::addWindow(std::int32_t pid, SimWindow window) {
  if (impl_->findApp(pid) == nullptr) throw std::logic_error("sim: addWindow for an unknown pid");
  WindowId id = impl_->nextWindow++;
  std::uint32_t number = window.number ? *window.number : impl_->nextNumber++;
  impl_->windows[id] = Impl::WindowState{pid, std::move(window), number, false, std::nullopt};
  impl_->order[pid].push_back(id);
  return id;
}

SimWindow& SimPlatform::window(WindowId id) {
  auto* state = impl_->findWindow(id);
  if (state == nullptr) throw std::logic_error("sim: unknown window");
  return state->data;
}

const SimApp& SimPlatform::app(std::int32_t pid) const {
  auto* app = impl_->findApp(pid);
  if (app == nullptr) throw std::logic_error("sim: unknown app");
  return *app;
}

std::vector<WindowId> SimPlatform::windowsOf(std::int32_t pid) const {
  auto it = impl_->order.find(pid);
  return it == impl_->order.end() ? std::vector<WindowId>{} : it->second;
}

std::uint32_t SimPlatform::numberOf(WindowId id) const {
  auto* state = impl_->findWindow(id);
  if (state == nullptr) throw std::logic_error("sim: unknown window");
  return state->number;
}

void SimPlatform::raiseWindow(WindowId id) {
  auto* state = impl_->findWindow(id);
  if (state == nullptr) throw std::logic_error("sim: unknown window");
  auto& list = impl_->order[state->pid];
  auto it = std::find(list.begin(), list.end(), id);
  if (it != list.end()) std::rotate(list.begin(), it, it + 1);
}

Element SimPlatform::applicationElement(std::int32_t pid) const {
  return makeElement(ElementKey{ElementKey::Kind::Application, pid, 0, 0});
}

Element SimPlatform::windowElement(WindowId id) const {
  auto* state = impl_->findWindow(id);
  return makeElement(ElementKey{ElementKey::Kind::Window, state ? state->pid : 0, id, 0});
}

Element SimPlatform::childElement(WindowId id, std::size_t index) const {
  auto* state = impl_->findWindow(id);
  return makeElement(ElementKey{ElementKey::Kind::Child, state ? state->pid : 0, id, index});
}

std::vector<platform::RunningApp> SimPlatform::runningApplications(const std::string& bundleId) {
  log("runningApplications", bundleId);
  std::vector<platform::RunningApp> found;
  for (auto& app : impl_->apps)
    if (app.bundleId == bundleId) found.push_back(platform::RunningApp{app.pid, app.terminated});
  return found;
}

Element SimPlatform::createApplicationElement(std::int32_t pid) {
  Element element = applicationElement(pid);
  log("createApplicationElement", {}, describe(element));
  return element;
}

// ---- Attributes ----

namespace {
AttributeRead found(Value value) { return AttributeRead{ax::kSuccess, std::move(value)}; }
AttributeRead flag(bool on) { return found(Number{on ? 1.0 : 0.0}); }
AttributeRead text(const std::string& s) {
  if (s.empty()) return AttributeRead{ax::kNoValue, std::nullopt};
  return found(s);
}
AttributeRead unsupported() { return AttributeRead{ax::kAttributeUnsupported, std::nullopt}; }
}  // namespace

AttributeRead SimPlatform::copyAttributeValue(const Element& element, const std::string& attribute) {
  auto key = keyOf(element);
  log("copyAttributeValue", attribute, describe(element));
  if (!key) return AttributeRead{ax::kIllegalArgument, std::nullopt};
  if (!trusted_) return AttributeRead{ax::kAPIDisabled, std::nullopt};
  if (stalls(*key)) return AttributeRead{ax::kCannotComplete, std::nullopt};
  if (auto fault = Impl::takeFault(impl_->readFaults, {*key, attribute})) return *fault;
  if (!impl_->isLive(*key)) return AttributeRead{ax::kInvalidUIElement, std::nullopt};

  if (key->kind == ElementKey::Kind::Application) {
    if (attribute == "AXWindows") {
      std::vector<Element> list;
      for (WindowId id : windowsOf(key->pid)) list.push_back(windowElement(id));
      return found(std::move(list));
    }
    if (attribute == "AXRole") return found(std::string("AXApplication"));
    const auto enhanced = impl_->findApp(key->pid)->enhancedUserInterface;
    if (attribute == "AXEnhancedUserInterface" && enhanced) return flag(*enhanced);
    return unsupported();
  }

  const SimWindow& w = impl_->findWindow(key->window)->data;
  if (key->kind == ElementKey::Kind::Child) {
    const SimChild& child = w.children[key->child];
    SimRect r = childRect(w, child);
    if (attribute == "AXPosition") return found(AxValue{1, r.x, r.y});
    if (attribute == "AXSize") return found(AxValue{2, r.width, r.height});
    if (attribute == "AXRole") return text(child.role);
    if (attribute == "AXSubrole") return text(child.subrole);
    return unsupported();
  }

  if (attribute == "AXPosition") return found(AxValue{1, w.x, w.y});
  if (attribute == "AXSize") return found(AxValue{2, w.width, w.height});
  if (attribute == "AXMain") return flag(w.main);
  if (attribute == "AXMinimized") return flag(w.minimized);
  if (attribute == "AXFullScreen") return flag(w.fullScreen);
  if (attribute == "AXRole") return text(w.role);
  if (attribute == "AXSubrole") return text(w.subrole);
  if (attribute == "AXChildren") {
    std::vector<Element> list;
    for (std::size_t i = 0; i < w.children.size(); ++i) list.push_back(childElement(key->window, i));
    return found(std::move(list));
  }
  return unsupported();
}

SettableRead SimPlatform::isAttributeSettable(const Element& element, const std::string& attribute) {
  auto key = keyOf(element);
  log("isAttributeSettable", attribute, describe(element));
  if (!key) return SettableRead{ax::kIllegalArgument, false};
  if (!trusted_) return SettableRead{ax::kAPIDisabled, false};
  if (stalls(*key)) return SettableRead{ax::kCannotComplete, false};
  if (auto fault = Impl::takeFault(impl_->settableFaults, {*key, attribute})) return *fault;
  if (!impl_->isLive(*key)) return SettableRead{ax::kInvalidUIElement, false};
  if (key->kind != ElementKey::Kind::Window) return SettableRead{ax::kSuccess, false};
  const SimWindow& w = impl_->findWindow(key->window)->data;
  if (attribute == "AXPosition") return SettableRead{ax::kSuccess, w.positionSettable};
  if (attribute == "AXSize") return SettableRead{ax::kSuccess, w.sizeSettable};
  return SettableRead{ax::kSuccess, false};
}

std::optional<AxValue> SimPlatform::createValue(platform::AxValueType type, double first, double second) {
  log("createValue", std::to_string(static_cast<int>(type)));
  if (createValueFails_) return std::nullopt;
  return AxValue{static_cast<int>(type), first, second};
}

std::int32_t SimPlatform::setAttributeValue(const Element& element, const std::string& attribute,
                                            const AxValue& value) {
  auto key = keyOf(element);
  log("setAttributeValue", attribute, describe(element));
  auto code = [&]() -> std::int32_t {
    if (!key) return ax::kIllegalArgument;
    if (!trusted_) return ax::kAPIDisabled;
    if (stalls(*key)) return ax::kCannotComplete;
    if (auto fault = Impl::takeFault(impl_->writeFaults, {*key, attribute})) return *fault;
    if (!impl_->isLive(*key)) return ax::kInvalidUIElement;
    if (key->kind != ElementKey::Kind::Window) return ax::kAttributeUnsupported;
    auto& state = *impl_->findWindow(key->window);
    const SimWindow& w = state.data;
    // Writes made while an earlier one is still landing build on where that
    // one goes.
    SimRect to = state.animation ? state.animation->to : SimRect{w.x, w.y, w.width, w.height};
    if (attribute == "AXPosition") {
      if (!w.positionSettable) return ax::kAttributeUnsupported;
      if (value.type != static_cast<int>(platform::AxValueType::Point)) return ax::kIllegalArgument;
      to.x = value.first;
      to.y = clampTop(w.clamp, value.second);
    } else if (attribute == "AXSize") {
      if (!w.sizeSettable) return ax::kAttributeUnsupported;
      if (value.type != static_cast<int>(platform::AxValueType::Size)) return ax::kIllegalArgument;
      std::tie(to.width, to.height) = clampSize(w.clamp, value.first, value.second);
    } else {
      return ax::kAttributeUnsupported;
    }
    if (impl_->findApp(state.pid)->enhancedUserInterface.value_or(false)) {
      animateTo(key->window, to.x, to.y, to.width, to.height);
    } else {
      state.animation.reset();
      changeFrame(key->window, to.x, to.y, to.width, to.height);
    }
    return ax::kSuccess;
  }();
  writes_.push_back(SimWrite{describe(element), attribute, value, code});
  return code;
}

void SimPlatform::changeFrame(WindowId id, double x, double y, double width, double height) {
  auto& state = *impl_->findWindow(id);
  SimWindow& w = state.data;
  const bool moved = x != w.x || y != w.y;
  const bool resized = width != w.width || height != w.height;
  w.x = x;
  w.y = y;
  w.width = width;
  w.height = height;
  if ((moved || resized) && w.titlebarAfterMove) {
    w.titlebar = *w.titlebarAfterMove;
    w.titlebarAfterMove.reset();
  }
  Element app = applicationElement(state.pid);
  if (moved) sendNotification(state.pid, app, windowElement(id), "AXWindowMoved");
  if (resized) sendNotification(state.pid, app, windowElement(id), "AXWindowResized");
}

bool SimPlatform::hasWindowNumberFunction() {
  log("hasWindowNumberFunction");
  return windowNumberFunction_;
}

platform::WindowNumberRead SimPlatform::windowNumber(const Element& window) {
  auto key = keyOf(window);
  log("windowNumber", {}, describe(window));
  if (!windowNumberFunction_) return {ax::kFailure, 0};
  if (key && !trusted_) return {ax::kAPIDisabled, 0};
  if (key && stalls(*key)) return {ax::kCannotComplete, 0};
  if (!key || key->kind != ElementKey::Kind::Window || !impl_->isLive(*key))
    return {ax::kInvalidUIElement, 0};
  auto& state = *impl_->findWindow(key->window);
  if (state.data.numberCode != 0) return {state.data.numberCode, 0};
  return {ax::kSuccess, state.number};
}

// ---- Faults ----

namespace {
ElementKey requireKey(const Element& element) {
  auto key = keyOf(element);
  if (!key) throw std::logic_error("sim: fault on a non-sim element");
  return *key;
}
}  // namespace

void SimPlatform::failRead(const Element& element, const std::string& attribute, AttributeRead result,
                           int times) {
  impl_->readFaults[{requireKey(element), attribute}] = {std::move(result), times};
}

void SimPlatform::failSettable(const Element& element, const std::string& attribute, SettableRead result,
                               int times) {
  impl_->settableFaults[{requireKey(element), attribute}] = {result, times};
}

void SimPlatform::failWrite(const Element& element, const std::string& attribute, std::int32_t code,
                            int times) {
  impl_->writeFaults[{requireKey(element), attribute}] = {code, times};
}

void SimPlatform::failAddNotification(const Element& element, const std::string& notification,
                                      std::int32_t code) {
  impl_->notificationFaults[{requireKey(element), notification}] = code;
}

void SimPlatform::failObserverCreate(std::int32_t code, bool nullObserver) {
  impl_->observerCreateFault = std::make_pair(code, nullObserver);
}

void SimPlatform::clearFaults() {
  impl_->readFaults.clear();
  impl_->settableFaults.clear();
  impl_->writeFaults.clear();
  impl_->notificationFaults.clear();
  impl_->observerCreateFault.reset();
  impl_->appHangs.clear();
  impl_->elementHangs.clear();
  focusedReadFault_.reset();
  createValueFails_ = false;
  keyMonitorRefused_ = false;
}

}  // namespace kestrove::sim
