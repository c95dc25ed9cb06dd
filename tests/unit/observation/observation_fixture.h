#pragma once

// A simulated desktop with two applications and a Core over it whose writer
// keeps every line, for the observation tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core.h"
#include "observation/observation.h"
#include "observation/observe_command.h"
#include "platform/sim/sim_platform.h"
#include "protocol/fail.h"
#include "unit/support/failure_of.h"
#include "protocol/json_value.h"
#include "protocol/writer.h"

namespace kestrove::obs_testing {

inline constexpr char kViewer[] = "com.example.viewer";
inline constexpr char kEditor[] = "com.example.editor";
inline constexpr std::int32_t kViewerPid = 4242;
inline constexpr std::int32_t kEditorPid = 5151;

class ObservationFixture : public ::testing::Test {
 protected:
  ObservationFixture() {
    sim.addApp(kViewer, kViewerPid);
    sim.addApp(kEditor, kEditorPid);
  }

  sim::WindowId addWindow(std::int32_t pid, double x = 10, double y = 40,
                          std::optional<std::uint32_t> number = {}) {
    sim::SimWindow w;
    w.x = x;
    w.y = y;
    w.number = number;
    return sim.addWindow(pid, w);
  }

  JsonObject observe(const std::string& bundle) { return observeCommand(core, {bundle}); }
  Observation* active() const { return core.state.activeObservation.get(); }
  void settle() { sim.loop().runUntilIdle(); }

  // The registrations of the active observation's observer, as "element notification".
  std::vector<std::string> registrationsOf(const platform::Observer& observer) const {
    std::vector<std::string> out;
    for (const sim::SimRegistration& r : sim.registrations(observer))
      out.push_back(r.element + " " + r.notification);
    std::sort(out.begin(), out.end());
    return out;
  }

  sim::SimPlatform sim;
  std::vector<std::string> lines;
  // Runs as each line is written, to see the state the line was written in.
  std::function<void(const std::string& line)> onWrite;
  Writer writer{[this](const char* data, std::size_t size, int&) {
                  std::string line(data, size);
                  if (!line.empty() && line.back() == '\n') line.pop_back();
                  lines.push_back(line);
                  if (onWrite) onWrite(line);
                  return static_cast<long>(size);
                },
                [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

using kestrove::testing::failureOf;

}  // namespace kestrove::obs_testing
