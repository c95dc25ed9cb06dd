#include "commands/trusted_command.h"

#include "escwatch/monitor_trust.h"
#include "protocol/fail.h"

namespace kestrove {

bool checkTrusted(Core& core) {
  platform::Platform& platform = core.platform;
  // macOS 13 and later keep the flag false in a process that was running
  // when the user granted trust, while the calls themselves work: one real
  // call decides, and only the interface's own refusal means untrusted.
  const bool trusted =
      platform.isProcessTrusted() || platform.readFocusedApplication() != platform::ax::kAPIDisabled;
  if (trusted) onTrustSeen(core);
  return trusted;
}

JsonObject trustedCommand(Core& core, const Args& args) {
  if (args.size() > 1 || (args.size() == 1 && args[0] != "prompt"))
    throw Fail("bad_args", "trusted [prompt]");
  if (args.empty()) return JsonObject{{"trusted", checkTrusted(core)}, {"prompted", false}};
  // A trusted process never makes the system prompt.
  if (checkTrusted(core)) return JsonObject{{"trusted", true}, {"prompted", false}};
  // The system does not wait for the user, so this is usually still false.
  bool trusted = core.platform.isProcessTrustedWithPrompt();
  core.state.trustPromptRequested = true;
  return JsonObject{{"trusted", trusted}, {"prompted", !trusted}};
}

void requireTrusted(Core& core) {
  if (!checkTrusted(core)) throw Fail("ax_denied");
}

}  // namespace kestrove
