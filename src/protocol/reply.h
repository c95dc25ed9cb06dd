#pragma once

#include <cstdint>
#include <exception>
#include <optional>

#include "protocol/json_value.h"

namespace kestrove {

// The outcome of a command: its payload, or the failure it raised.
struct CommandOutcome {
  JsonObject payload;
  std::exception_ptr failure;  // a Fail, or anything else (then "internal")
};

// The reply for an outcome: payload plus "ok", or "ok" false with "error" and
// "detail"; `requestId` then replaces any "id" the payload held.
JsonObject buildReply(CommandOutcome outcome, std::optional<std::int64_t> requestId = std::nullopt);

// The envelope alone ("ok", "error", "detail", "id"), to be written over the
// payload (Writer::emit with overrides) when the outcome succeeded.
JsonObject replyEnvelope(const CommandOutcome& outcome, std::optional<std::int64_t> requestId = std::nullopt);

bool replyIsOk(const JsonObject& reply);

}  // namespace kestrove
