#pragma once

#include <string>
#include <vector>

#include "app/core.h"
#include "protocol/json_value.h"

namespace kestrove {

// Runs one command (`words[0]` and its arguments) and returns its payload, or
// throws the Fail that refuses it. `loop` is true for stdin lines.
JsonObject runCommand(Core& core, const std::vector<std::string>& words, bool loop);

// Refuses arguments where a command takes none.
void requireNoArgs(const Args& args, const std::string& name);

}  // namespace kestrove
