#!/usr/bin/env node
// Places an app's window, then prints its events as JSON lines until Ctrl-C.
//
//   node examples/follow-window.mjs BUNDLE_ID [X Y WIDTH HEIGHT] [-- HELPER_ARGS...]
//
// The helper is $KESTROVE_PATH, else `kestrove` on PATH. Words after "--" go
// to the helper first; the sim driver takes its world file there:
//   KESTROVE_PATH=../../build/tests/sim_driver/kestrove-sim \
//     node examples/follow-window.mjs com.example.viewer 0 25 1280 720 -- test/worlds/timeline.json
import { Kestrove, KestroveError } from "kestrove";

const argv = process.argv.slice(2);
const split = argv.includes("--") ? argv.indexOf("--") : argv.length;
const [bundleId, ...numbers] = argv.slice(0, split);
if (!bundleId || (numbers.length !== 0 && numbers.length !== 4) || numbers.some((n) => !Number.isFinite(Number(n)))) {
  console.error("usage: follow-window.mjs BUNDLE_ID [X Y WIDTH HEIGHT] [-- HELPER_ARGS...]");
  process.exit(2);
}
const [x, y, width, height] = numbers.length === 4 ? numbers.map(Number) : [0, 25, 1280, 720];

const helper = Kestrove.spawn({ args: argv.slice(split + 1) });
let stopping = false;
helper.on("event", (event) => console.log(JSON.stringify(event)));
helper.on("error", (error) => console.error(`unreadable output: ${error.line}`));
helper.on("exit", ({ code, signal }) => {
  if (stopping) return;
  console.error(`the helper ended (${signal ?? `code ${code}`})`);
  process.exit(1);
});
process.once("SIGINT", async () => {
  stopping = true;
  await helper.close();
  process.exit(0);
});

try {
  if (!(await helper.trusted()).trusted) {
    // The system asks the user and does not wait for the answer: ask once, then poll.
    await helper.trusted({ prompt: true });
    console.error("waiting for Accessibility trust…");
    while (!(await helper.trusted()).trusted) await new Promise((resolve) => setTimeout(resolve, 1000));
  }
  const observed = await helper.observe(bundleId);
  const placed = await helper.place(bundleId, { x, y, width, height });
  console.log(JSON.stringify({ placed: placed.content, clamped: placed.clamped, id: placed.id }));
  console.error(`following ${bundleId} (pid ${observed.pid}); Ctrl-C to stop`);
} catch (error) {
  if (!(error instanceof KestroveError)) throw error;
  console.error(`${error.code}${error.detail ? `: ${error.detail}` : ""}`);
  stopping = true;
  await helper.close();
  process.exit(1);
}
