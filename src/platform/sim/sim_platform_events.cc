// Observers, listeners, monitors and the user's actions: everything that
// reaches the core later, on the main loop.
#include <algorithm>
#include <stdexcept>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_platform_impl.h"

namespace kestrove::sim {

namespace ax = platform::ax;
using platform::Element;

namespace {
std::shared_ptr<SimObserver> asSim(const platform::Observer& observer) {
  return std::dynamic_pointer_cast<SimObserver>(observer);
}
}  // namespace

platform::ObserverCreated SimPlatform::createObserver(std::int32_t pid,
                                                      platform::NotificationCallback callback) {
  log("createObserver", std::to_string(pid));
  auto observer = std::make_shared<SimObserver>(pid, std::move(callback));
  if (impl_->observerCreateFault) {
    auto [code, nullObserver] = *impl_->observerCreateFault;
    if (nullObserver) return {code, nullptr};
    impl_->observers.push_back(observer);
    return {code, observer};
  }
  impl_->observers.push_back(observer);
  return {ax::kSuccess, observer};
}

std::int32_t SimPlatform::addNotification(const platform::Observer& observer, const Element& element,
                                          const std::string& notification, const void* context) {
  log("addNotification", notification, describe(element));
  auto sim = asSim(observer);
  auto key = keyOf(element);
  if (!sim) return ax::kInvalidUIElementObserver;
  if (!key) return ax::kIllegalArgument;
  if (!trusted_) return ax::kAPIDisabled;
  if (stalls(*key)) return ax::kCannotComplete;
  auto fault = impl_->notificationFaults.find({*key, notification});
  if (fault != impl_->notificationFaults.end()) return fault->second;
  if (!impl_->isLive(*key)) return ax::kInvalidUIElement;
  if (sim->find(*key, notification) != nullptr) return ax::kNotificationAlreadyRegistered;
  sim->registrations.push_back({*key, notification, context});
  return ax::kSuccess;
}

void SimPlatform::removeNotification(const platform::Observer& observer, const Element& element,
                                     const std::string& notification) {
  log("removeNotification", notification, describe(element));
  auto sim = asSim(observer);
  auto key = keyOf(element);
  if (!sim || !key) return;
  // A hung app holds the removal up as well; it is made all the same.
  if (trusted_) stalls(*key);
  std::erase_if(sim->registrations,
                [&](const auto& r) { return r.element == *key && r.notification == notification; });
}

void SimPlatform::attachObserver(const platform::Observer& observer) {
  log("attachObserver");
  if (auto sim = asSim(observer)) sim->attached = true;
  if (watchListener_) watchListener_("observer");
}

void SimPlatform::detachObserver(const platform::Observer& observer) {
  log("detachObserver");
  if (auto sim = asSim(observer)) sim->attached = false;
}

std::vector<SimRegistration> SimPlatform::registrations(const platform::Observer& observer) const {
  std::vector<SimRegistration> list;
  if (auto sim = asSim(observer))
    for (auto& r : sim->registrations) list.push_back({r.element.describe(), r.notification, r.context});
  return list;
}

bool SimPlatform::isAttached(const platform::Observer& observer) const {
  auto sim = asSim(observer);
  return sim && sim->attached;
}

std::size_t SimPlatform::liveObservers() const {
  return static_cast<std::size_t>(
      std::count_if(impl_->observers.begin(), impl_->observers.end(), [](auto& w) { return !w.expired(); }));
}

void SimPlatform::sendNotification(std::int32_t pid, const Element& registeredOn, const Element& element,
                                   const std::string& name) {
  auto key = keyOf(registeredOn);
  if (!key) return;
  std::erase_if(impl_->observers, [](auto& w) { return w.expired(); });
  for (auto& weak : impl_->observers) {
    auto observer = weak.lock();
    if (observer->pid != pid || observer->find(*key, name) == nullptr) continue;
    // Whether it still counts is decided at delivery: a detach or removal in
    // between must win, as on a real run loop.
    loop_.post([weak, key = *key, element, name] {
      auto live = weak.lock();
      if (!live || !live->attached) return;
      auto* registration = live->find(key, name);
      if (registration == nullptr) return;
      auto callback = live->callback;
      callback(element, name, registration->context);
    });
  }
}

// ---- Listeners and monitors ----

platform::Token SimPlatform::addTerminationListener(std::int32_t pid,
                                                    platform::TerminationCallback callback) {
  log("addTerminationListener", std::to_string(pid));
  auto token = std::make_shared<SimToken>(impl_->nextToken++);
  terminationListeners_[token->id] = TerminationListener{pid, std::move(callback)};
  return token;
}

void SimPlatform::removeTerminationListener(const platform::Token& token) {
  log("removeTerminationListener");
  if (auto sim = std::dynamic_pointer_cast<SimToken>(token)) terminationListeners_.erase(sim->id);
}

platform::Token SimPlatform::addGlobalKeyMonitor(platform::KeyCallback callback) {
  log("addGlobalKeyMonitor");
  if (keyMonitorRefused_) return nullptr;
  auto token = std::make_shared<SimToken>(impl_->nextToken++);
  keyMonitors_[token->id] = KeyMonitor{std::move(callback), !trusted_};
  if (watchListener_) watchListener_("keyMonitor");
  return token;
}

std::size_t SimPlatform::deafKeyMonitorCount() const {
  return static_cast<std::size_t>(
      std::count_if(keyMonitors_.begin(), keyMonitors_.end(), [](const auto& m) { return m.second.deaf; }));
}

void SimPlatform::removeKeyMonitor(const platform::Token& token) {
  log("removeKeyMonitor");
  if (auto sim = std::dynamic_pointer_cast<SimToken>(token)) keyMonitors_.erase(sim->id);
}

void SimPlatform::postTerminationNotice(platform::TerminationNotice notice) {
  postTermination(notice, std::nullopt);
}

void SimPlatform::postTermination(platform::TerminationNotice notice, std::optional<std::int32_t> onlyPid) {
  for (auto& [id, listener] : terminationListeners_) {
    if (onlyPid && listener.pid != *onlyPid) continue;
    loop_.post([this, id = id, notice] {
      auto it = terminationListeners_.find(id);
      if (it == terminationListeners_.end()) return;
      auto callback = it->second.callback;
      callback(notice);
    });
  }
}

void SimPlatform::pressKey(platform::KeyEvent event) {
  for (auto& [id, monitor] : keyMonitors_) {
    if (monitor.deaf) continue;
    loop_.post([this, id = id, event] {
      auto it = keyMonitors_.find(id);
      if (it == keyMonitors_.end()) return;
      auto callback = it->second.callback;
      callback(event);
    });
  }
}

// ---- The user's and the apps' actions ----

void SimPlatform::moveWindow(WindowId id, double x, double y) {
  SimWindow& w = window(id);
  if (w.x == x && w.y == y) return;
  w.x = x;
  w.y = y;
  auto pid = impl_->findWindow(id)->pid;
  sendNotification(pid, applicationElement(pid), windowElement(id), "AXWindowMoved");
}

void SimPlatform::resizeWindow(WindowId id, double width, double height) {
  SimWindow& w = window(id);
  if (w.width == width && w.height == height) return;
  w.width = width;
  w.height = height;
  auto pid = impl_->findWindow(id)->pid;
  sendNotification(pid, applicationElement(pid), windowElement(id), "AXWindowResized");
}

WindowId SimPlatform::createWindow(std::int32_t pid, SimWindow window) {
  WindowId id = addWindow(pid, std::move(window));
  sendNotification(pid, applicationElement(pid), windowElement(id), "AXWindowCreated");
  return id;
}

void SimPlatform::closeWindow(WindowId id) {
  auto* state = impl_->findWindow(id);
  if (state == nullptr) throw std::logic_error("sim: unknown window");
  if (state->closed) return;
  Element element = windowElement(id);
  // Delivery happens after the window is gone, so observers are matched now.
  sendNotification(state->pid, element, element, "AXUIElementDestroyed");
  state->closed = true;
  std::erase(impl_->order[state->pid], id);
}

void SimPlatform::quitApp(std::int32_t pid) {
  auto* app = impl_->findApp(pid);
  if (app == nullptr) throw std::logic_error("sim: unknown app");
  if (app->terminated) return;
  app->terminated = true;
  const platform::TerminationNotice notice{pid};
  switch (app->quitReport) {
    case SimQuitReport::NoticeFirst:
      postTermination(notice, std::nullopt);
      postTermination(notice, pid);
      break;
    case SimQuitReport::TerminatedFirst:
      postTermination(notice, pid);
      postTermination(notice, std::nullopt);
      break;
    case SimQuitReport::TerminatedOnly:
      postTermination(notice, pid);
      break;
  }
}

void SimPlatform::setQuitReport(std::int32_t pid, SimQuitReport report) {
  auto* app = impl_->findApp(pid);
  if (app == nullptr) throw std::logic_error("sim: unknown app");
  app->quitReport = report;
}

}  // namespace kestrove::sim
