#pragma once

#include <string>
#include <vector>

#include "app/core.h"

namespace kestrove {

// The helper after process start: one-shot when `args` is non-empty (returns
// the exit status), otherwise loop mode (never returns).
int runHelper(const std::vector<std::string>& args, Core& core);

}  // namespace kestrove
