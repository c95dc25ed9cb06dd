#pragma once

#include <memory>

#include "platform/platform.h"

namespace kestrove::platform {

// The backend the helper was built with (one per shipped build).
std::unique_ptr<Platform> createPlatform();

}  // namespace kestrove::platform
