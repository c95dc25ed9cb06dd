#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/core.h"
#include "observation/observation.h"
#include "platform/platform.h"

namespace kestrove {

// An observer notification: dropped unless `context` is the active
// observation itself, since a replaced observer may still deliver.
void handleWindowNotification(Core& core, const platform::Element& element, const std::string& notification,
                              const void* context);

// Writes "window_created", "moved" or "resized" for `element`.
void emitWindowEvent(Core& core, const std::string& name, const Observation& obs,
                     const platform::Element& element);

// The termination listener of `obs`; the arguments are taken by value because
// tearing the observation down destroys the listener that holds them.
void onAppTerminated(Core& core, const platform::TerminationNotice& notice, std::int32_t pid,
                     std::shared_ptr<Observation> obs, std::string bundle);

}  // namespace kestrove
