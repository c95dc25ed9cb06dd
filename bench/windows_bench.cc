// The window commands in process on the simulated desktop: time per command
// and platform calls per command.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "app/core.h"
#include "platform/sim/sim_platform.h"
#include "protocol/writer.h"
#include "windows/place_command.h"
#include "windows/windows_command.h"

namespace {

using namespace kestrove;

constexpr char kBundle[] = "com.example.viewer";
constexpr std::int32_t kPid = 4242;

struct Desktop {
  explicit Desktop(int windows, int childrenPerWindow) {
    sim.addApp(kBundle, kPid);
    for (int i = 0; i < windows; ++i) {
      sim::SimWindow w;
      w.x = 10.0 * i;
      w.y = 40;
      w.main = i == 0;
      for (int c = 0; c < childrenPerWindow; ++c) {
        sim::SimChild child;
        // A realistic mix: three title-bar buttons, the content, the rest small controls.
        if (c < 3) {
          child.anchor = sim::SimChild::Anchor::TitlebarButton;
          child.subrole = c == 0 ? "AXCloseButton" : c == 1 ? "AXMinimizeButton" : "AXZoomButton";
          child.x = 8 + 20.0 * c;
          child.width = child.height = 14;
        } else if (c == 3) {
          child.anchor = sim::SimChild::Anchor::Content;
        } else {
          child.role = "AXButton";
          child.x = 5.0 * c;
          child.y = 100;
          child.width = child.height = 20;
        }
        w.children.push_back(child);
      }
      sim.addWindow(kPid, w);
    }
    sim.clearCalls();
  }

  sim::SimPlatform sim;
  Writer writer{[](const char*, std::size_t size, int&) { return static_cast<long>(size); }, [](int) {}};
  Core core{sim, writer, [](int) {}, HelperState{}};
};

void reportCalls(benchmark::State& state, std::size_t calls) {
  state.counters["platformCalls/cmd"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kAvgIterations);
}

void BM_WindowsCommand(benchmark::State& state) {
  Desktop desktop(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::size_t calls = 0;
  for (auto _ : state) {
    JsonObject reply = windowsCommand(desktop.core, {kBundle});
    benchmark::DoNotOptimize(reply);
    calls += desktop.sim.calls().size();
    desktop.sim.clearCalls();
  }
  reportCalls(state, calls);
}
BENCHMARK(BM_WindowsCommand)->Args({50, 64})->Args({1, 4})->Unit(benchmark::kMicrosecond);

void BM_PlaceCommand(benchmark::State& state) {
  Desktop desktop(static_cast<int>(state.range(0)), 4);
  std::size_t calls = 0;
  bool flip = false;
  for (auto _ : state) {
    // Alternate targets so that every place really moves the window.
    flip = !flip;
    JsonObject reply = placeCommand(desktop.core, {kBundle, flip ? "100" : "120", "100", "800", "600"});
    benchmark::DoNotOptimize(reply);
    calls += desktop.sim.calls().size();
    desktop.sim.clearCalls();
    desktop.sim.loop().runUntilIdle();
  }
  reportCalls(state, calls);
}
BENCHMARK(BM_PlaceCommand)->Arg(1)->Arg(50)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
