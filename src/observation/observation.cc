#include "observation/observation.h"

#include <algorithm>
#include <utility>

#include "observation/notification_names.h"
#include "windows/element_access.h"

namespace kestrove {

Observation::Observation(platform::Platform& platform, std::string bundleId, std::int32_t processId,
                         platform::Observer axObserver)
    : bundle(std::move(bundleId)),
      pid(processId),
      observer(std::move(axObserver)),
      appEl(platform.createApplicationElement(processId)),
      platform_(platform) {}

void Observation::watchWindow(const platform::Element& element) {
  const bool known = std::any_of(watched.begin(), watched.end(), [&](const WatchedWindow& entry) {
    return platform::sameElement(entry.element, element);
  });
  if (known) return;
  if (platform_.addNotification(observer, element, notification::kElementDestroyed, context()) !=
      platform::ax::kSuccess) {
    return;
  }
  watched.push_back(WatchedWindow{element, windowNumber(platform_, element)});
}

std::optional<WatchedWindow> Observation::unwatchWindow(const platform::Element& element) {
  const auto entry = std::find_if(watched.begin(), watched.end(), [&](const WatchedWindow& candidate) {
    return platform::sameElement(candidate.element, element);
  });
  if (entry == watched.end()) return std::nullopt;
  platform_.removeNotification(observer, entry->element, notification::kElementDestroyed);
  WatchedWindow found = *entry;
  watched.erase(entry);
  return found;
}

void Observation::teardown() {
  for (const WatchedWindow& entry : watched) {
    platform_.removeNotification(observer, entry.element, notification::kElementDestroyed);
  }
  watched.clear();
  for (const char* name : notification::kApplicationNotifications) {
    platform_.removeNotification(observer, appEl, name);
  }
  platform_.detachObserver(observer);
  if (quitToken) {
    // Removing the listener drops the reference it holds to this observation;
    // the caller still holds one, so `this` outlives the call.
    platform::Token token = std::move(quitToken);
    quitToken = nullptr;
    platform_.removeTerminationListener(token);
  }
}

}  // namespace kestrove
