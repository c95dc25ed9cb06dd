// Loading a sim world whose timeline creates many windows: the cost per
// create must not grow with their number.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/sim/sim_platform.h"
#include "world_loader.h"

namespace {

std::string worldWithCreates(std::int64_t creates) {
  std::string world = R"({"apps": [{"bundleId": "com.example.viewer", "pid": 4101}], "timeline": [)";
  for (std::int64_t i = 0; i < creates; ++i) {
    if (i > 0) world += ",";
    world += R"({"at": )" + std::to_string(i) + R"(, "do": "create", "pid": 4101, "window": {"name": "w)" +
             std::to_string(i) + R"("}})";
  }
  return world + "]}";
}

void BM_LoadWorldWithCreates(benchmark::State& state) {
  const std::string world = worldWithCreates(state.range(0));
  for (auto _ : state) {
    kestrove::sim::SimPlatform sim;
    kestrove::simdriver::loadWorld(world, sim);
    benchmark::DoNotOptimize(sim.loop().pendingTimers());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadWorldWithCreates)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
