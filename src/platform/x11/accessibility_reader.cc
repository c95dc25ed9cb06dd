#include "platform/x11/accessibility_reader.h"

#include <algorithm>
#include <thread>

namespace kestrove::platform::x11 {
namespace {

// What AT-SPI may cost one main-loop turn, well inside the bound on a
// command: an application that stalls is then left out until the next one.
constexpr std::chrono::milliseconds kTurnBudget{1000};
// A window read again after a resize, until its application has laid it out
// (GTK 4 on a loaded machine: several hundred ms).
constexpr std::chrono::milliseconds kLayoutWait{1000};
constexpr std::chrono::milliseconds kLayoutPoll{8};
// The title-bar buttons sit a few levels below the header bar (GTK 4: five).
constexpr int kButtonDepth = 6;
constexpr std::size_t kNodesPerLevel = 64;
// A header bar is no taller than this.
constexpr double kHeaderBarHeight = 100;

const char* const kAccessible = "org.a11y.atspi.Accessible";
const char* const kRootPath = "/org/a11y/atspi/accessible/root";

BusCall method(const std::string& name, const std::string& path, const char* interface, const char* member) {
  return BusCall{name, path, interface, member, std::nullopt, {}};
}

}  // namespace

std::chrono::steady_clock::time_point AccessibilityReader::deadline() {
  if (!turnDeadline_) turnDeadline_ = std::chrono::steady_clock::now() + kTurnBudget;
  return *turnDeadline_;
}

void AccessibilityReader::renewBudget(std::chrono::steady_clock::time_point turnEnd) {
  turnDeadline_ = std::min(std::chrono::steady_clock::now() + kTurnBudget, turnEnd);
}

void AccessibilityReader::endOfTurn() {
  // A bus that stalled may be one the session bus named before it restarted.
  if (stalled_) address_.forget();
  address_.endOfTurn();
  stalled_ = false;
  turnDeadline_.reset();
  connections_.reset();
  read_.clear();
  borders_.clear();
}

void AccessibilityReader::invalidate(xcb_window_t window) { read_.erase(window); }

std::optional<FrameExtents> AccessibilityReader::lastBorder(xcb_window_t window) const {
  auto found = borders_.find(window);
  if (found == borders_.end()) return std::nullopt;
  return found->second;
}

const AccessibleWindow* AccessibilityReader::window(const DesktopSnapshot& snapshot, xcb_window_t window,
                                                    const ClientInfo& info) {
  auto found = read_.find(window);
  if (found == read_.end()) {
    std::optional<AccessibleWindow> result;
    if (!stalled_ && info.pid) {
      if (bus_.open(address_.find(snapshot.accessibilityBus(), deadline())))
        result = read(window, info);
      else
        address_.forget();
    }
    if (result) borders_[window] = result->border;
    found = read_.emplace(window, std::move(result)).first;
  }
  return found->second ? &*found->second : nullptr;
}

std::vector<std::string> AccessibilityReader::namesOf(std::int32_t pid) {
  if (!connections_) {
    connections_.emplace();
    auto listed = bus_.call(
        {method("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames")},
        deadline());
    auto names = listed[0].strings();
    if (!names) {
      stalled_ = true;
      return {};
    }
    std::vector<BusCall> calls;
    std::vector<std::string> unique;
    for (const std::string& name : *names) {
      if (name.empty() || name[0] != ':') continue;
      unique.push_back(name);
      BusCall call = method("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "GetConnectionUnixProcessID");
      call.strings = {name};
      calls.push_back(call);
    }
    auto pids = bus_.call(calls, deadline());
    for (std::size_t i = 0; i < unique.size(); ++i) {
      if (auto p = pids[i].number()) connections_->emplace_back(unique[i], static_cast<std::int32_t>(*p));
    }
  }
  std::vector<std::string> names;
  for (const auto& [name, owner] : *connections_) {
    if (owner == pid) names.push_back(name);
  }
  return names;
}

std::vector<std::vector<AccessibilityReader::Object>> AccessibilityReader::childrenOf(
    const std::vector<Object>& parents) {
  std::vector<BusCall> calls;
  for (const Object& o : parents) calls.push_back(method(o.name, o.path, kAccessible, "GetChildren"));
  auto replies = bus_.call(calls, deadline());
  std::vector<std::vector<Object>> result(parents.size());
  for (std::size_t i = 0; i < parents.size(); ++i) {
    auto listed = replies[i].objects();
    if (!listed) continue;
    for (auto& [name, path] : *listed) result[i].push_back(Object{name, path});
  }
  return result;
}

std::vector<AccessibilityReader::Object> AccessibilityReader::children(const std::vector<Object>& parents) {
  std::vector<Object> result;
  for (auto& list : childrenOf(parents)) {
    for (Object& o : list) result.push_back(std::move(o));
  }
  return result;
}

std::vector<AccessibleNode> AccessibilityReader::describe(const std::vector<Object>& objects) {
  std::vector<BusCall> calls;
  for (const Object& o : objects) {
    calls.push_back(method(o.name, o.path, kAccessible, "GetRole"));
    BusCall extents = method(o.name, o.path, "org.a11y.atspi.Component", "GetExtents");
    extents.number = 1;  // window coordinates
    calls.push_back(extents);
    BusCall name = method(o.name, o.path, "org.freedesktop.DBus.Properties", "Get");
    name.strings = {kAccessible, "Name"};
    calls.push_back(name);
  }
  auto replies = bus_.call(calls, deadline());
  std::vector<AccessibleNode> nodes(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) {
    AccessibleNode& node = nodes[i];
    node.role = replies[3 * i].number().value_or(0);
    if (auto r = replies[3 * i + 1].rect())
      node.rect = RootRect{double((*r)[0]), double((*r)[1]), double((*r)[2]), double((*r)[3])};
    node.name = replies[3 * i + 2].variantString().value_or("");
  }
  return nodes;
}

std::optional<AccessibleWindow> AccessibilityReader::read(xcb_window_t, const ClientInfo& info) {
  std::vector<Object> roots;
  for (const std::string& name : namesOf(*info.pid)) roots.push_back(Object{name, kRootPath});
  if (roots.empty()) return std::nullopt;
  // An application still laying out a move or resize publishes the geometry
  // from before for a moment (GTK: a frame or two): its tree is read again
  // until it agrees with the X window, rather than answered wrongly.
  const auto giveUp = std::chrono::steady_clock::now() + kLayoutWait;
  for (;;) {
    bool behind = false;
    std::optional<AccessibleWindow> shaped = readOnce(roots, info, behind);
    if (shaped || !behind || std::chrono::steady_clock::now() + kLayoutPoll > std::min(giveUp, deadline()))
      return shaped;
    std::this_thread::sleep_for(kLayoutPoll);
  }
}

std::optional<AccessibleWindow> AccessibilityReader::readOnce(const std::vector<Object>& roots,
                                                              const ClientInfo& info, bool& behind) {
  std::vector<Object> frames = children(roots);
  std::vector<AccessibleNode> described = describe(frames);
  // The frame of this window: a top-level window of the size of the client
  // or of its visible part, the one with the window's title first. One with
  // the title but of another size has not caught up yet, nor has an
  // application that publishes no window at all while it shows one (GTK 4
  // just after it mapped it).
  behind = frames.empty();
  std::optional<std::size_t> chosen;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const AccessibleNode& f = described[i];
    if (!isWindowRole(f.role)) continue;
    const bool titled = !info.title.empty() && f.name == info.title;
    if (!frameOrigin(f.rect, info.content, info.shadow)) {
      behind = behind || titled;
      continue;
    }
    if (!chosen || (titled && described[*chosen].name != info.title)) chosen = i;
  }
  if (!chosen) return std::nullopt;
  const Object& frame = frames[*chosen];
  const AccessibleNode& frameNode = described[*chosen];
  std::vector<Object> kids = children({frame});
  if (kids.size() > kNodesPerLevel) kids.resize(kNodesPerLevel);
  std::vector<AccessibleNode> kidNodes = describe(kids);
  // Title-bar buttons, level by level below the header bar: the topmost
  // child short enough to be one (a toolbar of the application's below it
  // is content, not title bar).
  std::vector<AccessibleNode> buttons;
  std::vector<bool> holdsButtons(kids.size(), false);
  std::vector<std::pair<Object, std::size_t>> level;
  std::optional<std::size_t> headerBar;
  for (std::size_t i = 0; i < kids.size(); ++i) {
    const RootRect& r = kidNodes[i].rect;
    if (!laidOut(r) || r.height > kHeaderBarHeight) continue;
    if (!headerBar || r.y < kidNodes[*headerBar].rect.y) headerBar = i;
  }
  if (headerBar) level.emplace_back(kids[*headerBar], *headerBar);
  for (int depth = 0; depth < kButtonDepth && !level.empty(); ++depth) {
    std::vector<Object> parents;
    for (const auto& [object, top] : level) parents.push_back(object);
    std::vector<std::vector<Object>> lists = childrenOf(parents);
    std::vector<std::pair<Object, std::size_t>> below;
    for (std::size_t p = 0; p < lists.size(); ++p) {
      for (Object& child : lists[p]) below.emplace_back(std::move(child), level[p].second);
    }
    if (below.size() > kNodesPerLevel) below.resize(kNodesPerLevel);
    std::vector<Object> belowObjects;
    for (const auto& [object, top] : below) belowObjects.push_back(object);
    std::vector<AccessibleNode> belowNodes = describe(belowObjects);
    level.clear();
    for (std::size_t i = 0; i < below.size(); ++i) {
      if (isPushButton(belowNodes[i].role)) {
        buttons.push_back(belowNodes[i]);
        holdsButtons[below[i].second] = true;
      } else {
        level.push_back(below[i]);
      }
    }
  }
  // The child that holds the window's buttons is its header bar: a bar
  // across the top like a macOS window's toolbar, not its content.
  for (std::size_t i = 0; i < kids.size(); ++i) {
    if (holdsButtons[i]) kidNodes[i].role = atspiRole::kToolBar;
  }
  auto shaped = shapeWindow(frameNode, kidNodes, buttons, info.content, info.shadow);
  // Children not laid out inside the window yet: the same.
  behind = behind || !shaped;
  return shaped;
}

}  // namespace kestrove::platform::x11
