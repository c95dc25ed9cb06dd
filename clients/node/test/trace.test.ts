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
  await helper.screens();
  await helper.place("com.example.viewer", { x: 1, y: 40, width: 300, height: 200 });
  await helper.close();
  const ended = Date.now();

  const by = (direction: TraceEntry["direction"]): TraceEntry[] => entries.filter((e) => e.direction === direction);
  // A version the client asks for itself, before any other, is allowed for.
  const ours = (e: TraceEntry): boolean => !/^(#\d+ )?version$/.test(e.line);
  await t.test("send: the lines as written, request ids included", () => {
    assert.deepEqual(
      by("send").filter(ours).map((e) => e.line.replace(/^#\d+ /, "#n ")),
      ["#n screens", "place com.example.viewer 1 40 300 200", "#n quit"],
    );
  });
  await t.test("receive: one line for each line sent, after it, answering its id", () => {
    const sent = by("send");
    const received = by("receive");
    assert.equal(received.length, sent.length);
    for (const [i, line] of sent.entries()) {
      const reply = JSON.parse(received[i]!.line) as Record<string, unknown>;
      const id = /^#(\d+) /.exec(line.line)?.[1];
      // A place carries its window's number where other replies carry the request id.
      assert.equal(reply.id, id === undefined ? 7001 : Number(id), received[i]!.line);
      assert.ok(entries.indexOf(received[i]!) > entries.indexOf(line));
    }
    assert.match(received.find((e) => e.line.includes('"screens"'))?.line ?? "", /"coords":"top-left-global-points"/);
  });
  // The last line has no line feed, and still counts once stderr ends.
  await t.test("stderr: by line", () => assert.deepEqual(by("stderr").map((e) => e.line), ["warming up", "still warming"]));

  await t.test("times are the clock's, in the order of the entries; pid is the helper's", () => {
    const times = entries.filter((e) => e.direction !== "stderr").map((e) => e.time);
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
