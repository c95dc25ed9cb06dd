// Request throughput, round-trip time and the client's own CPU time per
// request, against the sim driver. Prints figures; judges nothing.
//   npm run bench            (KESTROVE_SIM or KESTROVE_BUILD_DIR as for the tests)
import { join, resolve } from "node:path";
import { performance } from "node:perf_hooks";
import { fileURLToPath } from "node:url";

import { Kestrove } from "kestrove";

const packageRoot = fileURLToPath(new URL("../", import.meta.url));
const buildDir = resolve(process.env.KESTROVE_BUILD_DIR ?? join(packageRoot, "../../build"));
const sim = resolve(process.env.KESTROVE_SIM ?? join(buildDir, "tests/sim_driver/kestrove-sim"));
const world = join(packageRoot, "test/worlds/viewer.json");
const runs = Number(process.env.KESTROVE_BENCH_RUNS ?? 5);

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

/**
 * Runs `body` (which sends `count` requests) on a fresh helper `runs` times
 * and prints the median wall time and the median CPU time this process
 * spent per request: the client's overhead, whatever the helper costs.
 */
async function measure(name, count, body, options = {}) {
  const times = [];
  const cpu = [];
  for (let run = 0; run < runs; run++) {
    const helper = Kestrove.spawn({ path: sim, args: [world], requestTimeoutMs: 60_000, ...options });
    await helper.version();
    const started = performance.now();
    const usage = process.cpuUsage();
    await body(helper);
    const used = process.cpuUsage(usage);
    times.push(performance.now() - started);
    cpu.push((used.user + used.system) / count);
    await helper.close();
  }
  const wall = median(times);
  console.log(
    `${name}: median ${wall.toFixed(1)} ms over ${runs} runs, ${((count / wall) * 1000).toFixed(0)} requests/s ` +
      `(min ${Math.min(...times).toFixed(1)}, max ${Math.max(...times).toFixed(1)}); ` +
      `client CPU ${median(cpu).toFixed(1)} µs/request`,
  );
}

const signal = new AbortController().signal;

await measure("10000 concurrent version", 10_000, (helper) =>
  Promise.all(Array.from({ length: 10_000 }, () => helper.version())));
await measure("10000 concurrent place", 10_000, (helper) =>
  Promise.all(Array.from({ length: 10_000 }, (_, i) =>
    helper.place("com.example.viewer", { x: i % 500, y: 30, width: 400, height: 300 }))));
await measure("2000 sequential version", 2000, async (helper) => {
  for (let i = 0; i < 2000; i++) await helper.version();
});
await measure("10000 concurrent version, each with an AbortSignal", 10_000, (helper) =>
  Promise.all(Array.from({ length: 10_000 }, () => helper.version({ signal }))));
