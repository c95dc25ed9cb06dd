#include "commands/dispatcher.h"

#include <array>
#include <string_view>

#include "commands/graphemes.h"
#include "commands/trusted_command.h"
#include "commands/version_command.h"
#include "displays/screens_command.h"
#include "escwatch/esc_commands.h"
#include "observation/observe_command.h"
#include "protocol/fail.h"
#include "windows/place_command.h"
#include "windows/windows_command.h"

namespace kestrove {
namespace {

constexpr std::array<std::string_view, 6> kLoopOnlyNames = {"observe",     "unobserve", "watch-esc",
                                                            "unwatch-esc", "quit",      "selftest-esc"};
constexpr std::size_t kUnknownNameShown = 40;

bool isLoopOnly(std::string_view name) {
  for (auto loopOnly : kLoopOnlyNames) {
    if (name == loopOnly) return true;
  }
  return false;
}

}  // namespace

void requireNoArgs(const Args& args, const std::string& name) {
  if (!args.empty()) throw Fail("bad_args", name + " takes no arguments");
}

JsonObject runCommand(Core& core, const std::vector<std::string>& words, bool loop) {
  if (words.empty()) throw Fail("bad_args", "empty command");
  // Every application is asked afresh by each command.
  core.gate.beginScope();
  const std::string& name = words[0];
  const Args rest(words.begin() + 1, words.end());

  if (name == "version") {
    requireNoArgs(rest, name);
    return versionCommand(core);
  }
  if (name == "trusted") return trustedCommand(core, rest);
  if (name == "screens") {
    requireNoArgs(rest, name);
    return screensCommand(core);
  }
  if (name == "windows") return windowsCommand(core, rest);
  if (name == "place") return placeCommand(core, rest);

  // Before any argument check: a loop-only command is refused whole.
  if (isLoopOnly(name) && !loop) throw Fail("loop_only", name + " needs the stdin loop");

  if (loop) {
    if (name == "observe") return observeCommand(core, rest);
    if (name == "unobserve") {
      requireNoArgs(rest, name);
      endActiveObservation(core);
      return JsonObject{{"observing", false}};
    }
    if (name == "watch-esc") return watchEscCommand(core, rest);
    if (name == "unwatch-esc") {
      requireNoArgs(rest, name);
      return unwatchEscCommand(core);
    }
    if (name == "quit") {
      requireNoArgs(rest, name);
      return JsonObject{};
    }
  }
  throw Fail("unknown_command", firstGraphemes(name, kUnknownNameShown));
}

}  // namespace kestrove
