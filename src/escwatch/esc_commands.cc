#include "escwatch/esc_commands.h"

#include <cmath>
#include <optional>

#include "commands/parse_number.h"
#include "commands/trusted_command.h"
#include "escwatch/esc_hold.h"
#include "escwatch/monitor_trust.h"
#include "protocol/fail.h"

namespace kestrove {
namespace {

constexpr double kMinHoldMs = 200;
constexpr double kMaxHoldMs = 5000;

}  // namespace

JsonObject watchEscCommand(Core& core, const Args& args) {
  EscWatchState& esc = core.state.esc;
  if (args.size() > 1) throw Fail("bad_args", "watch-esc [holdMs]");
  if (args.size() == 1) {
    const std::optional<double> holdMs = parseNumber(args[0]);
    if (!holdMs || !std::isfinite(*holdMs) || *holdMs < kMinHoldMs || *holdMs > kMaxHoldMs) {
      throw Fail("bad_args",
                 "holdMs 200\u2026"
                 "5000");
    }
    esc.holdMs = *holdMs;
  }
  // Before the install, so that the monitor is known to come before trust
  // or after it; trust seen now also renews a monitor installed before it.
  const bool trusted = checkTrusted(core);
  // One monitor at most: a second watch-esc only changes the hold time.
  if (!esc.monitor) {
    esc.monitor = installKeyMonitor(core);
    keyMonitorInstalled(core, trusted);
  }
  return JsonObject{
      {"watching", esc.monitor != nullptr}, {"trusted", trusted}, {"holdMs", holdMsReported(esc)}};
}

JsonObject unwatchEscCommand(Core& core) {
  EscWatchState& esc = core.state.esc;
  if (esc.monitor) {
    core.platform.removeKeyMonitor(esc.monitor);
    esc.monitor = nullptr;
  }
  stopTrustRecheck(core);
  // Makes a pending hold timer stale.
  ++esc.generation;
  return JsonObject{{"watching", false}};
}

}  // namespace kestrove
