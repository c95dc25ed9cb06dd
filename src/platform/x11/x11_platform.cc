#include "platform/x11/x11_platform.h"

#include <unistd.h>

#include "platform/create_platform.h"
#include "platform/posix/kernel_version.h"
#include "platform/x11/element_attributes.h"
#include "platform/x11/screen_list.h"
#include "platform/x11/window_mover.h"

namespace kestrove::platform::x11 {
namespace {

class ListenerToken : public TokenRef {
 public:
  explicit ListenerToken(std::uint64_t tokenId) : id(tokenId) {}
  std::uint64_t id;
};

}  // namespace

X11Platform::X11Platform()
    : turnLoop_(
          loop_, [this] { connection_.beginTurn(); }, [this] { endOfTurn(); }),
      connection_(loop_),
      snapshot_(connection_),
      mover_(connection_, snapshot_, accessibility_),
      windowEvents_(connection_, snapshot_,
                    [this](std::chrono::milliseconds delay, std::function<void()> work) {
                      turnLoop_.postAfter(delay, [this, work = std::move(work)] {
                        // Events read by now come first (the map among them).
                        deliverEvents();
                        work();
                      });
                    }),
      keyWatch_(connection_),
      processWatch_(loop_, [this](std::int32_t pid) {
        connection_.beginTurn();
        // Its windows close before the application quits, as on macOS.
        windowEvents_.awaitWindowsOf(pid);
        deliverEvents();
        processExited(pid);
        endOfTurn();
      }) {
  connection_.setReadableHandler([this] { endOfTurn(); });
  connection_.setLostHandler([this] {
    snapshot_.clear();
    mover_.connectionLost();
    windowEvents_.connectionLost();
    keyWatch_.connectionLost();
  });
  connection_.setConnectedHandler([this] { keyWatch_.connected(); });
}

X11Platform::~X11Platform() = default;

std::int32_t X11Platform::processId() { return static_cast<std::int32_t>(getpid()); }

OsVersion X11Platform::osVersion() { return kernelVersion(); }

void X11Platform::endOfTurn() {
  if (inEndOfTurn_) return;
  inEndOfTurn_ = true;
  settleWrites();
  deliverEvents();
  connection_.checkAlive();
  accessibility_.endOfTurn();
  connection_.endTurn();
  inEndOfTurn_ = false;
}

void X11Platform::deliverEvents() {
  snapshot_.clear();
  connection_.readEvents();
  while (connection_.hasQueuedEvents()) {
    for (auto& event : connection_.takeEvents()) dispatch(*event);
    snapshot_.clear();
    connection_.readEvents();
  }
}

void X11Platform::dispatch(const xcb_generic_event_t& event) {
  if (event.response_type == 0) return;  // an error for a window that went away meanwhile
  if (keyWatch_.handle(event)) return;
  windowEvents_.handle(event);
}

bool X11Platform::isProcessTrusted() {
  settleWrites();
  if (!snapshot_.ensureClients()) return false;
  const auto& clients = snapshot_.clients();
  if (clients.empty()) return true;
  if (!snapshot_.client(clients.front())) return false;
  // An untrusted cookie may still read other clients' windows (Xvfb 21.1
  // lets it), but the server refuses it any ConfigureWindow on them, and its
  // messages never reach the manager. An empty ConfigureWindow changes
  // nothing: the manager answers it with the geometry the window has.
  xcb_connection_t* c = connection_.current();
  if (!c) return false;
  XcbReply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_configure_window_checked(c, clients.front(), 0, nullptr)));
  return !error || error->error_code != XCB_ACCESS;
}

std::vector<RunningApp> X11Platform::runningApplications(const std::string& bundleId) {
  settleWrites();
  std::vector<RunningApp> apps;
  if (!snapshot_.ensureClients()) return apps;
  for (xcb_window_t w : snapshot_.clients()) {
    const ClientInfo* info = snapshot_.client(w);
    if (!info || !info->pid || info->appId != bundleId) continue;
    std::int32_t pid = *info->pid;
    bool seen = false;
    for (const auto& app : apps) seen = seen || app.pid == pid;
    if (!seen) apps.push_back(RunningApp{pid, ProcessWatch::isGone(pid)});
  }
  return apps;
}

Element X11Platform::createApplicationElement(std::int32_t pid) {
  return makeElement(X11Element::Kind::Application, static_cast<std::uint32_t>(pid));
}

AttributeRead X11Platform::copyAttributeValue(const Element& element, const std::string& attribute) {
  const X11Element* x = asX11(element);
  if (!x) return AttributeRead{ax::kIllegalArgument, std::nullopt};
  settleWrites();
  if (!snapshot_.ensureClients()) return AttributeRead{ax::kCannotComplete, std::nullopt};
  ElementContext context{snapshot_, connection_.atoms(), accessibility_};
  return readAttribute(context, *x, attribute);
}

SettableRead X11Platform::isAttributeSettable(const Element& element, const std::string& attribute) {
  const X11Element* x = asX11(element);
  if (!x) return SettableRead{ax::kIllegalArgument, false};
  settleWrites();
  if (!snapshot_.ensureClients()) return SettableRead{ax::kCannotComplete, false};
  return readSettable(snapshot_, connection_.atoms(), *x, attribute);
}

std::optional<AxValue> X11Platform::createValue(AxValueType type, double first, double second) {
  return AxValue{static_cast<int>(type), first, second};
}

std::int32_t X11Platform::setAttributeValue(const Element& element, const std::string& attribute,
                                            const AxValue& value) {
  const X11Element* x = asX11(element);
  if (!x) return ax::kIllegalArgument;
  if (x->kind() != X11Element::Kind::Window) return ax::kAttributeUnsupported;
  return mover_.write(x->window(), attribute, value);
}

std::int32_t X11Platform::confirmWrites(const Element& element) {
  settleWrites();
  const X11Element* x = asX11(element);
  if (!x || x->kind() != X11Element::Kind::Window) return ax::kSuccess;
  return mover_.takeUnconfirmed(x->window()) ? ax::kCannotComplete : ax::kSuccess;
}

WindowNumberRead X11Platform::windowNumber(const Element& window) {
  settleWrites();
  const X11Element* x = asX11(window);
  if (!x || x->kind() != X11Element::Kind::Window) return WindowNumberRead{ax::kIllegalArgument, 0};
  if (!snapshot_.ensureClients()) return WindowNumberRead{ax::kCannotComplete, 0};
  if (!snapshot_.client(x->window())) return WindowNumberRead{ax::kInvalidUIElement, 0};
  return WindowNumberRead{ax::kSuccess, x->window()};
}

ObserverCreated X11Platform::createObserver(std::int32_t pid, NotificationCallback callback) {
  if (!connection_.get()) return ObserverCreated{ax::kCannotComplete, nullptr};
  processWatch_.watch(pid);
  auto observer =
      std::make_shared<X11Observer>(pid, std::move(callback), [this, pid] { processWatch_.unwatch(pid); });
  windowEvents_.track(observer);
  return ObserverCreated{ax::kSuccess, observer};
}

std::int32_t X11Platform::addNotification(const Observer& observer, const Element& element,
                                          const std::string& notification, const void* context) {
  auto* x = dynamic_cast<X11Observer*>(observer.get());
  if (!x) return ax::kInvalidUIElementObserver;
  return windowEvents_.add(*x, element, notification, context);
}

void X11Platform::removeNotification(const Observer& observer, const Element& element,
                                     const std::string& notification) {
  if (auto* x = dynamic_cast<X11Observer*>(observer.get())) windowEvents_.remove(*x, element, notification);
}

void X11Platform::attachObserver(const Observer& observer) {
  if (auto* x = dynamic_cast<X11Observer*>(observer.get())) x->attached = true;
}

void X11Platform::detachObserver(const Observer& observer) {
  if (auto* x = dynamic_cast<X11Observer*>(observer.get())) x->attached = false;
}

Token X11Platform::addTerminationListener(std::int32_t, TerminationCallback callback) {
  std::uint64_t id = nextListenerId_++;
  terminationListeners_[id] = std::move(callback);
  return std::make_shared<ListenerToken>(id);
}

void X11Platform::removeTerminationListener(const Token& token) {
  if (auto* listener = dynamic_cast<ListenerToken*>(token.get())) terminationListeners_.erase(listener->id);
}

void X11Platform::processExited(std::int32_t pid) {
  // Copied: a listener may remove itself.
  std::vector<std::pair<std::uint64_t, TerminationCallback>> listeners(terminationListeners_.begin(),
                                                                       terminationListeners_.end());
  for (auto& [id, callback] : listeners) {
    if (terminationListeners_.count(id)) callback(TerminationNotice{pid});
  }
}

std::vector<Screen> X11Platform::screens() {
  settleWrites();
  if (!snapshot_.ensureRoot() && snapshot_.monitors().empty()) return {};
  return screenList(snapshot_);
}

Rect X11Platform::mainDisplayBounds() {
  snapshot_.ensureRoot();
  return x11::mainDisplayBounds(snapshot_);
}

Token X11Platform::addGlobalKeyMonitor(KeyCallback callback) { return keyWatch_.add(std::move(callback)); }

void X11Platform::removeKeyMonitor(const Token& token) { keyWatch_.remove(token); }

}  // namespace kestrove::platform::x11

namespace kestrove::platform {

std::unique_ptr<Platform> createPlatform() { return std::make_unique<x11::X11Platform>(); }

}  // namespace kestrove::platform
