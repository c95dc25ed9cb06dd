// kestrove-sim WORLD.json [command args...]: the helper, unchanged, on a
// simulated desktop. A test tool: a bad world file exits 2 with a message on
// stderr and nothing on stdout.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/run_helper.h"
#include "platform/sim/sim_platform.h"
#include "world_loader.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  if (argc < 2) {
    std::fprintf(stderr, "usage: kestrove-sim WORLD.json [command args...]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (!file) {
    std::fprintf(stderr, "kestrove-sim: cannot read %s\n", argv[1]);
    return 2;
  }

  kestrove::sim::SimPlatform sim(kestrove::sim::SimMainLoop::Clock::Real);
  // Nothing here reads the call log, and a long run would only grow it.
  sim.setCallLog(false);
  try {
    kestrove::simdriver::loadWorld(text.str(), sim);
  } catch (const kestrove::simdriver::WorldError& e) {
    std::fprintf(stderr, "kestrove-sim: %s: %s\n", argv[1], e.what());
    return 2;
  }

  auto writer = kestrove::Writer::forStandardOutput();
  kestrove::Core core{sim, writer, [](int status) { _exit(status); }, {}};
  std::vector<std::string> args(argv + 2, argv + argc);
  int status = kestrove::runHelper(args, core);
  _exit(status);
}
