#include "windows/windows_command.h"

#include <optional>

#include "commands/trusted_command.h"
#include "protocol/fail.h"
#include "windows/element_access.h"
#include "windows/window_description.h"

namespace kestrove {

JsonObject windowsCommand(Core& core, const Args& args) {
  if (args.size() != 1 || !isValidBundleId(args[0])) throw Fail("bad_args", "windows <bundleId>");
  platform::Platform& p = core.platform;

  std::optional<platform::RunningApp> app = findRunningApp(p, args[0]);
  if (!app) return JsonObject{{"running", false}, {"trusted", checkTrusted(core)}, {"windows", JsonArray{}}};

  const bool trusted = checkTrusted(core);
  JsonArray windows;
  if (trusted) {
    for (const platform::Element& window : appWindows(p, app->pid)) {
      if (std::optional<JsonObject> described = describeWindow(core, window)) {
        windows.emplace_back(std::move(*described));
      }
    }
  }
  return JsonObject{
      {"running", true}, {"pid", app->pid}, {"trusted", trusted}, {"windows", std::move(windows)}};
}

}  // namespace kestrove
