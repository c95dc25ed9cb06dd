#include "escwatch/esc_hold.h"

#include <chrono>

#include "protocol/json_value.h"

namespace kestrove {
namespace {

// Escape with any of these is someone else's shortcut, not a hold.
constexpr std::uint64_t kShortcutModifiers =
    platform::modifier::kControl | platform::modifier::kOption | platform::modifier::kCommand;

void scheduleHoldTimer(Core& core, std::int64_t generation) {
  const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double, std::milli>(core.state.esc.holdMs));
  core.platform.mainLoop().postAfter(delay, [&core, generation] { onHoldTimer(core, generation); });
}

}  // namespace

std::int64_t holdMsReported(const EscWatchState& esc) { return static_cast<std::int64_t>(esc.holdMs); }

void onKeyEvent(Core& core, const platform::KeyEvent& event) {
  EscWatchState& esc = core.state.esc;
  if (event.keyCode != esc.keyCode) return;
  if (event.isDown) {
    // Auto-repeat neither restarts nor cancels the hold.
    if (event.isRepeat) return;
    if ((event.modifierFlags & kShortcutModifiers) != 0) return;
    const std::int64_t generation = ++esc.generation;
    esc.fired = false;
    scheduleHoldTimer(core, generation);
    return;
  }
  ++esc.generation;
  esc.fired = false;
}

void onHoldTimer(Core& core, std::int64_t generation) {
  EscWatchState& esc = core.state.esc;
  if (generation != esc.generation || esc.fired || !esc.monitor) return;
  esc.fired = true;
  core.writer.emit(JsonObject{{"event", "esc_long"}, {"heldMs", holdMsReported(esc)}});
}

}  // namespace kestrove
