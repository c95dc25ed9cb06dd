#include "commands/version_command.h"

#include <charconv>

namespace kestrove {

std::string macosVersion(Core& core) {
  platform::OsVersion v = core.platform.osVersion();
  char text[72];
  char* at = text;
  for (std::int64_t part : {v.major, v.minor, v.patch}) {
    if (at != text) *at++ = '.';
    at = std::to_chars(at, text + sizeof text, part).ptr;
  }
  return std::string(text, at);
}

JsonObject versionCommand(Core& core) {
  // Built in place: this is the command a controlling program polls most.
  JsonObject payload;
  payload.reserve(9);  // room for the reply's "ok" and "id" too
  payload.emplace("coords", "top-left-global-points");
  payload.emplace("helper", "kestrove");
  payload.emplace("macos", macosVersion(core));
  payload.emplace("pid", static_cast<std::int64_t>(core.platform.processId()));
  payload.emplace("protocol", core.state.protocolVersion);
  payload.emplace("version", core.state.helperVersion);
  return payload;
}

}  // namespace kestrove
