#include "protocol/reply.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/fail.h"
#include "protocol/writer.h"

namespace kestrove {
namespace {

CommandOutcome failedWith(auto error) { return CommandOutcome{{}, std::make_exception_ptr(error)}; }

TEST(Reply, PayloadGetsOkTrueEvenIfItSaidOtherwise) {
  JsonObject reply = buildReply(CommandOutcome{JsonObject{{"ok", false}, {"n", 1}}, nullptr});
  EXPECT_EQ(reply, (JsonObject{{"ok", true}, {"n", 1}}));
  EXPECT_TRUE(replyIsOk(reply));
}

TEST(Reply, FailureCarriesCodeAndDetailOnlyWhenGiven) {
  EXPECT_EQ(buildReply(failedWith(Fail("ax_denied"))), (JsonObject{{"ok", false}, {"error", "ax_denied"}}));
  EXPECT_EQ(buildReply(failedWith(Fail("bad_args", "empty command")), 5),
            (JsonObject{{"ok", false}, {"error", "bad_args"}, {"detail", "empty command"}, {"id", 5}}));
}

TEST(Reply, AnyOtherFailureIsInternalWithoutDetail) {
  EXPECT_EQ(buildReply(failedWith(std::runtime_error("boom"))),
            (JsonObject{{"ok", false}, {"error", "internal"}}));
  EXPECT_EQ(buildReply(failedWith(42)), (JsonObject{{"ok", false}, {"error", "internal"}}));
}

TEST(Reply, RequestIdReplacesThePayloadsId) {
  JsonObject reply = buildReply(CommandOutcome{JsonObject{{"id", 123456}}, nullptr}, 9);
  EXPECT_EQ(reply.at("id"), JsonValue(std::int64_t{9}));
  EXPECT_EQ(buildReply(CommandOutcome{JsonObject{{"id", 123456}}, nullptr}).at("id"), JsonValue(123456));
}

TEST(Reply, OkMustBeTheBooleanTrue) {
  EXPECT_FALSE(replyIsOk(JsonObject{}));
  EXPECT_FALSE(replyIsOk(JsonObject{{"ok", 1}}));
  EXPECT_FALSE(replyIsOk(JsonObject{{"ok", "true"}}));
}

// The loop writes the envelope over the payload without merging them: the
// line must be the one the merged reply would give.
TEST(Reply, EnvelopeWrittenOverPayloadEqualsTheBuiltReply) {
  std::string written;
  Writer writer(
      [&](const char* data, std::size_t size, int&) {
        written.append(data, size);
        return static_cast<long>(size);
      },
      [](int) {});
  const JsonObject payload{{"a", 1}, {"id", 77}, {"ok", false}, {"zz", JsonObject{{"ok", 1}}}};
  const CommandOutcome outcomes[] = {
      {payload, nullptr},
      {JsonObject{}, nullptr},
      {payload, std::make_exception_ptr(Fail("bad_args", "x"))},
      {payload, std::make_exception_ptr(7)},
  };
  for (const auto& outcome : outcomes) {
    for (std::optional<std::int64_t> id : {std::optional<std::int64_t>{}, std::optional<std::int64_t>{3}}) {
      written.clear();
      writer.emit(buildReply(outcome, id));
      const std::string built = written;
      written.clear();
      static const JsonObject kNone;
      writer.emit(outcome.failure ? kNone : outcome.payload, replyEnvelope(outcome, id));
      EXPECT_EQ(written, built);
    }
  }
  EXPECT_EQ(written, "{\"error\":\"internal\",\"id\":3,\"ok\":false}\n");
}

}  // namespace
}  // namespace kestrove
