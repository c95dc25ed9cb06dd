import assert from "node:assert/strict";
import { test } from "node:test";

import { Kestrove, type TraceEntry } from "kestrove";

import { world } from "./support/binaries.js";
import { sim } from "./support/sim.js";

// The real helper behind a shell that first writes two lines to stderr.
const noisy = {
  path: "/bin/sh",
  args: ["-c", 'printf "warming up\\nstill warming" >&2; exec "$0" "$@"', sim(), world("viewer.json")],
};

test("trace: every line sent and received, and stderr by line, with direction, time and pid", async (t) => {
  const entries: TraceEntry[] = [];
  const started = Date.now();
  const helper = Kestrove.spawn({ ...noisy, trace: (entry) => entries.push(entry) });
  t.after(() => helper.close());
  await helper.version();
  await helper.place("com.example.viewer", { x: 1, y: 40, width: 300, height: 200 });
  await helper.close();
  const ended = Date.now();

  const by = (direction: TraceEntry["direction"]): string[] =>
    entries.filter((e) => e.direction === direction).map((e) => e.line);
  const cases: [TraceEntry["direction"], (lines: string[]) => void][] = [
    ["send", (lines) => assert.deepEqual(lines, ["#1 version", "place com.example.viewer 1 40 300 200", "#3 quit"])],
    [
      "receive",
      (lines) => {
        assert.equal(lines.length, 3);
        assert.match(lines[0]!, /^\{"coords":"top-left-global-points","helper":"kestrove","id":1,.*"ok":true/);
        assert.match(lines[1]!, /^\{"axErrors":\[0,0,0\],.*"id":7001,/);
        assert.equal(lines[2], '{"id":3,"ok":true}');
      },
    ],
    // The last line has no line feed, and still counts once stderr ends.
    ["stderr", (lines) => assert.deepEqual(lines, ["warming up", "still warming"])],
  ];
  for (const [direction, check] of cases) await t.test(direction, () => check(by(direction)));

  await t.test("times are the clock's, in order of sending and receiving; pid is the helper's", () => {
    const wire = entries.filter((e) => e.direction !== "stderr");
    assert.deepEqual(wire.map((e) => e.direction), ["send", "receive", "send", "receive", "send", "receive"]);
    const times = wire.map((e) => e.time);
    assert.deepEqual(times, [...times].sort((a, b) => a - b));
    for (const e of entries) {
      assert.ok(e.time >= started && e.time <= ended, `${e.direction} ${e.line} at ${e.time}`);
      assert.equal(e.pid, helper.pid);
    }
  });
});

test("trace on Kestrove.run: the reply line and stderr", async () => {
  const entries: TraceEntry[] = [];
  await Kestrove.run(["version"], { ...noisy, trace: (entry) => entries.push(entry) });
  // Two pipes: the order between them is the system's, within one it is kept.
  const seen = entries.map((e) => `${e.direction} ${e.direction === "receive" ? JSON.parse(e.line).helper : e.line}`);
  assert.deepEqual(seen.filter((line) => line.startsWith("stderr")), ["stderr warming up", "stderr still warming"]);
  assert.deepEqual(seen.filter((line) => line.startsWith("receive")), ["receive kestrove"]);
});

test("a trace function that throws becomes one warning; the requests go on", async (t) => {
  const warnings: Error[] = [];
  const onWarning = (warning: Error): void => void warnings.push(warning);
  process.on("warning", onWarning);
  t.after(() => process.off("warning", onWarning));
  const helper = Kestrove.spawn({
    path: sim(),
    args: [world("viewer.json")],
    trace: () => {
      throw new Error("broken sink");
    },
  });
  t.after(() => helper.close());
  assert.equal((await helper.version()).helper, "kestrove");
  assert.equal((await helper.screens()).screens.length, 2);
  await new Promise((resolve) => setImmediate(resolve));
  assert.deepEqual(warnings.filter((w) => w.message === "broken sink").length, 1);
});
