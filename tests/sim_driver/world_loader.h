#pragma once

#include <stdexcept>
#include <string>

#include "platform/sim/sim_platform.h"

namespace kestrove::simdriver {

// What is wrong with a world file, for the driver's stderr.
class WorldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the world described by `text` (see docs/sim-world.md) into `sim` and
// schedules its timeline on sim's loop, from now. Throws WorldError.
void loadWorld(const std::string& text, sim::SimPlatform& sim);

}  // namespace kestrove::simdriver
