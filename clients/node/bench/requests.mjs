// Request throughput and round-trip time through the client, against the sim
// driver. Prints figures; judges nothing.
//   npm run bench            (KESTROVE_SIM or KESTROVE_BUILD_DIR as for the tests)
import { join, resolve } from "node:path";
import { performance } from "node:perf_hooks";
import { fileURLToPath } from "node:url";

import { Kestrove } from "kestrove";

const packageRoot = fileURLToPath(new URL("../", import.meta.url));
const buildDir = resolve(process.env.KESTROVE_BUILD_DIR ?? join(packageRoot, "../../build"));
const sim = resolve(process.env.KESTROVE_SIM ?? join(buildDir, "tests/sim_driver/kestrove-sim"));
const world = join(packageRoot, "test/worlds/viewer.json");
const runs = 5;

/** Runs `body` (which sends `count` requests) on a fresh helper `runs` times; prints the median. */
async function measure(name, count, body) {
  const times = [];
  for (let run = 0; run < runs; run++) {
    const helper = Kestrove.spawn({ path: sim, args: [world], requestTimeoutMs: 60_000 });
    await helper.version();
    const started = performance.now();
    await body(helper);
    times.push(performance.now() - started);
    await helper.close();
  }
  times.sort((a, b) => a - b);
  const median = times[Math.floor(times.length / 2)];
  const rate = ((count / median) * 1000).toFixed(0);
  console.log(`${name}: median ${median.toFixed(1)} ms over ${runs} runs, ${rate} requests/s ` +
    `(min ${times[0].toFixed(1)}, max ${times.at(-1).toFixed(1)})`);
}

await measure("10000 concurrent version", 10_000, (helper) =>
  Promise.all(Array.from({ length: 10_000 }, () => helper.version())));
await measure("10000 concurrent place", 10_000, (helper) =>
  Promise.all(Array.from({ length: 10_000 }, (_, i) =>
    helper.place("com.example.viewer", { x: i % 500, y: 30, width: 400, height: 300 }))));
await measure("2000 sequential version", 2000, async (helper) => {
  for (let i = 0; i < 2000; i++) await helper.version();
});
