#pragma once

#include <cstdint>

#include "app/core.h"
#include "platform/platform.h"

namespace kestrove {

// The key monitor's handler: starts, restarts or cancels a hold of Escape.
void onKeyEvent(Core& core, const platform::KeyEvent& event);
// A hold timer scheduled at generation `generation`; stale once it moved on.
void onHoldTimer(Core& core, std::int64_t generation);
// The configured hold time as the protocol reports it: whole milliseconds.
std::int64_t holdMsReported(const EscWatchState& esc);

}  // namespace kestrove
