#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/core.h"
#include "app/run_helper.h"
#include "platform/create_platform.h"

namespace {

void prepareStandardStreams() {
#ifdef _WIN32
  // Text mode would write CR before every LF and drop CRs read.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#else
  // A closed stdout must surface as a failed write, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
  auto platform = kestrove::platform::createPlatform();
  auto writer = kestrove::Writer::forStandardOutput();
  kestrove::Core core{*platform, writer, [](int status) { _exit(status); }, {}};

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  int status = kestrove::runHelper(args, core);
  // No teardown: nothing is left that needs it, and other threads may still run.
  _exit(status);
}
