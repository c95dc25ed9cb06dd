#include "app/run_helper.h"

#include "app/stdin_reader.h"
#include "app/utf8_text.h"
#include "commands/dispatcher.h"
#include "commands/trusted_command.h"
#include "protocol/reply.h"

namespace kestrove {

int runHelper(const std::vector<std::string>& args, Core& core) {
  if (args.empty()) {
    core.platform.enterBackgroundMode();
    startStdinReader(core);
    core.platform.mainLoop().run();
    core.exit(0);
    return 0;
  }
  std::vector<std::string> words;
  words.reserve(args.size());
  for (const auto& arg : args) words.push_back(toValidUtf8(arg));
  CommandOutcome outcome;
  core.platform.mainLoop().runTurn([&] {
    try {
      outcome.payload = runCommand(core, words, false);
    } catch (...) {
      outcome.failure = std::current_exception();
    }
  });
  if (core.state.trustPromptRequested) core.platform.mainLoop().runFor(kTrustPromptDelivery);
  JsonObject reply = buildReply(std::move(outcome));
  const bool ok = replyIsOk(reply);
  core.writer.emit(reply);
  return ok ? 0 : 1;
}

}  // namespace kestrove
