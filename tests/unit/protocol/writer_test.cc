#include "protocol/writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <deque>

namespace kestrove {
namespace {

// A scripted stdout: each write takes at most the next scripted amount, or
// fails with the scripted error.
struct ScriptedOutput {
  struct Step {
    long result;  // bytes accepted (capped by what was offered), or -1
    int error = 0;
  };
  std::deque<Step> script;
  std::string written;
  int writes = 0;
  std::optional<int> exitStatus;

  Writer writer() {
    return Writer(
        [this](const char* data, std::size_t size, int& error) -> long {
          ++writes;
          Step step = script.empty() ? Step{static_cast<long>(size)} : script.front();
          if (!script.empty()) script.pop_front();
          if (step.result < 0) {
            error = step.error;
            return -1;
          }
          long n = std::min(step.result, static_cast<long>(size));
          written.append(data, static_cast<std::size_t>(n));
          return n;
        },
        [this](int status) { exitStatus = status; });
  }
};

TEST(Writer, WritesOneLinePerObject) {
  ScriptedOutput out;
  Writer writer = out.writer();
  writer.emit(JsonObject{{"ok", true}});
  writer.emit(JsonObject{{"event", "moved"}});
  EXPECT_EQ(out.written, "{\"ok\":true}\n{\"event\":\"moved\"}\n");
  EXPECT_FALSE(out.exitStatus);
}

TEST(Writer, CompletesShortWritesAndRetriesInterruptedOnes) {
  ScriptedOutput out;
  out.script = {{3}, {-1, EINTR}, {1}, {-1, EINTR}, {100}};
  Writer writer = out.writer();
  writer.emit(JsonObject{{"ok", true}, {"x", 1}});
  EXPECT_EQ(out.written, "{\"ok\":true,\"x\":1}\n");
  EXPECT_EQ(out.writes, 5);
  EXPECT_FALSE(out.exitStatus);
}

TEST(Writer, EndsTheProcessWhenNobodyReads) {
  for (ScriptedOutput::Step failure : {ScriptedOutput::Step{-1, EPIPE}, ScriptedOutput::Step{0}}) {
    ScriptedOutput out;
    out.script = {{2}, failure};
    Writer writer = out.writer();
    writer.emit(JsonObject{{"ok", true}});
    EXPECT_EQ(out.exitStatus, 0);
  }
}

TEST(Writer, WritesTheFallbackLineOnceForAnUnencodableObject) {
  ScriptedOutput out;
  Writer writer = out.writer();
  writer.emit(JsonObject{{"ok", true}, {"id", 7}, {"bad", std::nan("")}});
  EXPECT_EQ(out.written, "{\"ok\":false,\"error\":\"internal\"}\n");
  EXPECT_EQ(out.writes, 1);

  // Its own failure is ignored: no retry, no exit.
  ScriptedOutput failing;
  failing.script = {{-1, EPIPE}};
  Writer failingWriter = failing.writer();
  failingWriter.emit(JsonObject{{"bad", std::string("\xff")}});
  EXPECT_EQ(failing.writes, 1);
  EXPECT_FALSE(failing.exitStatus);
}

}  // namespace
}  // namespace kestrove
