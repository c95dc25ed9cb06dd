#include "commands/version_command.h"

namespace kestrove {

std::string macosVersion(Core& core) {
  platform::OsVersion v = core.platform.osVersion();
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

JsonObject versionCommand(Core& core) {
  return JsonObject{
      {"version", core.state.helperVersion},
      {"protocol", core.state.protocolVersion},
      {"helper", "kestrove"},
      {"pid", static_cast<std::int64_t>(core.platform.processId())},
      {"macos", macosVersion(core)},
      {"coords", "top-left-global-points"},
  };
}

}  // namespace kestrove
