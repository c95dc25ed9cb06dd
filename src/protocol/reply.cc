#include "protocol/reply.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject buildReply(CommandOutcome outcome, std::optional<std::int64_t> requestId) {
  JsonObject reply;
  if (!outcome.failure) {
    reply = std::move(outcome.payload);
    reply["ok"] = true;
  } else {
    reply["ok"] = false;
    try {
      std::rethrow_exception(outcome.failure);
    } catch (const Fail& fail) {
      reply["error"] = fail.code();
      if (fail.detail()) reply["detail"] = *fail.detail();
    } catch (...) {
      reply["error"] = "internal";
    }
  }
  if (requestId) reply["id"] = *requestId;
  return reply;
}

bool replyIsOk(const JsonObject& reply) {
  auto found = reply.find("ok");
  if (found == reply.end()) return false;
  const bool* ok = std::get_if<bool>(&found->second.value);
  return ok != nullptr && *ok;
}

}  // namespace kestrove
