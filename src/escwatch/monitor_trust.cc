#include "escwatch/monitor_trust.h"

#include "commands/trusted_command.h"
#include "escwatch/esc_hold.h"

namespace kestrove {
namespace {

void scheduleTrustRecheck(Core& core, std::int64_t generation) {
  core.platform.mainLoop().postAfter(kTrustRecheckInterval, [&core, generation] {
    const EscWatchState& esc = core.state.esc;
    if (generation != esc.trustRecheckGeneration || !esc.monitorBeforeTrust) return;
    // A check that sees trust reinstalls the monitor and ends the rechecks.
    if (!checkTrusted(core)) scheduleTrustRecheck(core, generation);
  });
}

}  // namespace

platform::Token installKeyMonitor(Core& core) {
  return core.platform.addGlobalKeyMonitor(
      [&core](const platform::KeyEvent& event) { onKeyEvent(core, event); });
}

void keyMonitorInstalled(Core& core, bool trusted) {
  EscWatchState& esc = core.state.esc;
  esc.monitorBeforeTrust = esc.monitor && !trusted;
  if (esc.monitorBeforeTrust) scheduleTrustRecheck(core, ++esc.trustRecheckGeneration);
}

void onTrustSeen(Core& core) {
  EscWatchState& esc = core.state.esc;
  if (!esc.monitorBeforeTrust) return;
  stopTrustRecheck(core);
  if (esc.monitor) core.platform.removeKeyMonitor(esc.monitor);
  // The hold state is kept: the old monitor heard nothing to act on.
  esc.monitor = installKeyMonitor(core);
}

void stopTrustRecheck(Core& core) {
  EscWatchState& esc = core.state.esc;
  esc.monitorBeforeTrust = false;
  ++esc.trustRecheckGeneration;
}

}  // namespace kestrove
