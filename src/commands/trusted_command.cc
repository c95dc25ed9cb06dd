#include "commands/trusted_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject trustedCommand(Core& core, const Args& args) {
  if (args.size() > 1 || (args.size() == 1 && args[0] != "prompt"))
    throw Fail("bad_args", "trusted [prompt]");
  auto& platform = core.platform;
  if (args.empty()) return JsonObject{{"trusted", platform.isProcessTrusted()}, {"prompted", false}};
  // A trusted process never makes the system prompt.
  if (platform.isProcessTrusted()) return JsonObject{{"trusted", true}, {"prompted", false}};
  // The system does not wait for the user, so this is usually still false.
  bool trusted = platform.isProcessTrustedWithPrompt();
  core.state.trustPromptRequested = true;
  return JsonObject{{"trusted", trusted}, {"prompted", !trusted}};
}

void requireTrusted(Core& core) {
  if (!core.platform.isProcessTrusted()) throw Fail("ax_denied");
}

}  // namespace kestrove
