#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/version.h"
#include "platform/platform.h"
#include "protocol/writer.h"
#include "windows/hung_app_gate.h"

namespace kestrove {

class Observation;

// The Escape hold watch's state; see escwatch/.
struct EscWatchState {
  std::uint16_t keyCode = 53;
  platform::Token monitor;  // null when no monitor is installed
  double holdMs = 600.0;
  std::int64_t generation = 0;
  bool fired = false;
  // The monitor was installed while untrusted: it may hear nothing until it
  // is installed again once trust is seen.
  bool monitorBeforeTrust = false;
  // Moves on when a trust recheck starts or stops; a recheck timer acts
  // only while it still has the value it was set with.
  std::int64_t trustRecheckGeneration = 0;
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
  Core(platform::Platform& backend, Writer& out, std::function<void(int status)> onExit,
       HelperState initial = {})
      : gate(backend), writer(out), exit(std::move(onExit)), state(std::move(initial)) {}
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Every call the core makes goes through the gate, which holds the rule
  // for an application that stopped answering (windows/hung_app_gate.h).
  HungAppGate gate;
  platform::Platform& platform = gate;
  Writer& writer;
  std::function<void(int status)> exit;
  HelperState state;
};

using Args = std::vector<std::string>;

}  // namespace kestrove
