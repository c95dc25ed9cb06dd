#include "observation/observe_command.h"

#include <memory>
#include <string>
#include <utility>

#include "commands/trusted_command.h"
#include "observation/notification_names.h"
#include "observation/observation.h"
#include "observation/window_events.h"
#include "protocol/fail.h"
#include "windows/element_access.h"

namespace kestrove {
namespace {

constexpr const char* kUsage = "observe <bundleId>";

int registerApplicationNotifications(platform::Platform& platform, const Observation& obs) {
  int registered = 0;
  // All three are tried: any one of them is worth observing for.
  for (const char* name : notification::kApplicationNotifications) {
    if (platform.addNotification(obs.observer, obs.appEl, name, obs.context()) == platform::ax::kSuccess) {
      ++registered;
    }
  }
  return registered;
}

}  // namespace

JsonObject observeCommand(Core& core, const Args& args) {
  if (args.size() != 1 || !isValidBundleId(args[0])) throw Fail("bad_args", kUsage);
  const std::string& bundle = args[0];
  requireTrusted(core);
  const std::optional<platform::RunningApp> target = findRunningApp(core.platform, bundle);
  if (!target) throw Fail("not_running");

  endActiveObservation(core);

  const std::int32_t pid = target->pid;
  platform::ObserverCreated created = core.platform.createObserver(
      pid, [&core](const platform::Element& element, const std::string& notification, const void* context) {
        handleWindowNotification(core, element, notification, context);
      });
  if (created.code != platform::ax::kSuccess || !created.observer) throw Fail("observe_failed");

  auto obs = std::make_shared<Observation>(core.platform, bundle, pid, std::move(created.observer));
  if (registerApplicationNotifications(core.platform, *obs) == 0) {
    throw Fail("observe_failed", "no AX notification could be added");
  }
  core.platform.attachObserver(obs->observer);
  for (const platform::Element& window : appWindows(core.platform, pid)) obs->watchWindow(window);

  // Also reports this application when the workspace posts nothing for it
  // (background and agent applications); the first report ends the
  // observation and a second finds it gone.
  obs->quitToken = core.platform.addTerminationListener(
      pid, [&core, pid, obs, bundle](const platform::TerminationNotice& notice) {
        onAppTerminated(core, notice, pid, obs, bundle);
      });
  core.state.activeObservation = obs;
  return JsonObject{
      {"observing", true}, {"pid", pid}, {"windows", static_cast<std::int64_t>(obs->watched.size())}};
}

void endActiveObservation(Core& core) {
  if (core.state.activeObservation) core.state.activeObservation->teardown();
  core.state.activeObservation = nullptr;
}

}  // namespace kestrove
