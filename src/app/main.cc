#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/run_helper.h"
#include "platform/create_platform.h"

int main(int argc, char** argv) {
  // A closed stdout must surface as a failed write, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  auto platform = kestrove::platform::createPlatform();
  auto writer = kestrove::Writer::forStandardOutput();
  kestrove::Core core{*platform, writer, [](int status) { _exit(status); }, {}};

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  int status = kestrove::runHelper(args, core);
  // No teardown: nothing is left that needs it, and other threads may still run.
  _exit(status);
}
