#include "protocol/reply.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject replyEnvelope(const CommandOutcome& outcome, std::optional<std::int64_t> requestId) {
  JsonObject envelope;
  envelope.reserve(4);
  if (!outcome.failure) {
    envelope.emplace("ok", true);
  } else {
    envelope.emplace("ok", false);
    try {
      std::rethrow_exception(outcome.failure);
    } catch (const Fail& fail) {
      envelope.emplace("error", fail.code());
      if (fail.detail()) envelope.emplace("detail", *fail.detail());
    } catch (...) {
      envelope.emplace("error", "internal");
    }
  }
  if (requestId) envelope.emplace("id", *requestId);
  return envelope;
}

JsonObject buildReply(CommandOutcome outcome, std::optional<std::int64_t> requestId) {
  JsonObject envelope = replyEnvelope(outcome, requestId);
  // A failed reply holds no payload keys.
  JsonObject reply = outcome.failure ? JsonObject{} : std::move(outcome.payload);
  for (auto& [key, value] : envelope) reply.insert_or_assign(key, std::move(value));
  return reply;
}

bool replyIsOk(const JsonObject& reply) {
  auto found = reply.find("ok");
  if (found == reply.end()) return false;
  const bool* ok = std::get_if<bool>(&found->second.value);
  return ok != nullptr && *ok;
}

}  // namespace kestrove
