#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/version.h"
#include "platform/platform.h"
#include "protocol/writer.h"

namespace kestrove {

class Observation;

// The Escape hold watch's state; see escwatch/.
struct EscWatchState {
  std::uint16_t keyCode = 53;
  platform::Token monitor;  // null when no monitor is installed
  double holdMs = 600.0;
  std::int64_t generation = 0;
  bool fired = false;
};

// Process-wide settings and state, created once at start in this order.
struct HelperState {
  std::string helperVersion = kHelperVersion;
  std::int64_t protocolVersion = 1;
  std::set<std::string, std::less<>> titlebarButtonSubroles = {
      "AXCloseButton", "AXMinimizeButton", "AXZoomButton", "AXFullScreenButton", "AXToolbarButton"};
  std::shared_ptr<Observation> activeObservation;
  EscWatchState esc;
  std::size_t maxLineBytes = 4096;
  // Set once `trusted prompt` has asked the system to prompt the user.
  bool trustPromptRequested = false;
};

// What every handler reaches the world through. Lives for the whole process
// and is only touched on the main thread.
struct Core {
  platform::Platform& platform;
  Writer& writer;
  std::function<void(int status)> exit;
  HelperState state;
};

using Args = std::vector<std::string>;

}  // namespace kestrove
