#pragma once

// The sim's private state, shared by its two source files.

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/sim/sim_element.h"
#include "platform/sim/sim_geometry.h"
#include "platform/sim/sim_platform.h"

namespace kestrove::sim {

class SimObserver : public platform::ObserverRef {
 public:
  struct Registration {
    ElementKey element;
    std::string notification;
    const void* context = nullptr;
  };

  SimObserver(std::int32_t forPid, platform::NotificationCallback onNotification)
      : pid(forPid), callback(std::move(onNotification)) {}

  const Registration* find(const ElementKey& element, const std::string& notification) const {
    for (auto& r : registrations)
      if (r.element == element && r.notification == notification) return &r;
    return nullptr;
  }

  std::int32_t pid;
  platform::NotificationCallback callback;
  bool attached = false;
  std::vector<Registration> registrations;
};

class SimToken : public platform::TokenRef {
 public:
  explicit SimToken(std::uint64_t tokenId) : id(tokenId) {}
  std::uint64_t id;
};

// An app or element that stops answering from its `fromCall`-th call on.
struct Hang {
  std::chrono::nanoseconds delay{0};
  std::size_t fromCall = 0;
  std::size_t calls = 0;  // made so far

  // Counts one call; true when it is one that times out.
  bool take() { return calls++ >= fromCall; }
};

template <typename Result>
struct Fault {
  Result result;
  int remaining = -1;  // < 0: forever
};

struct SimPlatform::Impl {
  // A window on its way to the frame its app was asked for.
  struct FrameAnimation {
    SimRect from;  // where it was when the latest write came
    SimRect to;
    int ticks = 0;  // done since the latest write
  };
  struct WindowState {
    std::int32_t pid = 0;
    SimWindow data;
    std::uint32_t number = 0;
    bool closed = false;
    std::optional<FrameAnimation> animation;
  };
  using FaultKey = std::pair<ElementKey, std::string>;

  std::vector<SimApp> apps;
  std::map<std::int32_t, std::vector<WindowId>> order;
  std::map<WindowId, WindowState> windows;
  WindowId nextWindow = 1;
  std::uint32_t nextNumber = 100;
  std::uint64_t nextToken = 1;

  std::map<FaultKey, Fault<platform::AttributeRead>> readFaults;
  std::map<FaultKey, Fault<platform::SettableRead>> settableFaults;
  std::map<FaultKey, Fault<std::int32_t>> writeFaults;
  std::map<FaultKey, std::int32_t> notificationFaults;
  std::optional<std::pair<std::int32_t, bool>> observerCreateFault;
  std::map<std::int32_t, Hang> appHangs;
  std::map<ElementKey, Hang> elementHangs;

  std::vector<std::weak_ptr<SimObserver>> observers;

  SimApp* findApp(std::int32_t pid);
  WindowState* findWindow(WindowId id);
  // The element's state when it still exists (window open, app running).
  bool isLive(const ElementKey& key);

  template <typename Result>
  static std::optional<Result> takeFault(std::map<FaultKey, Fault<Result>>& faults, const FaultKey& key) {
    auto it = faults.find(key);
    if (it == faults.end()) return std::nullopt;
    Result result = it->second.result;
    if (it->second.remaining > 0 && --it->second.remaining == 0) faults.erase(it);
    return result;
  }
};

}  // namespace kestrove::sim
