import assert from "node:assert/strict";
import { performance } from "node:perf_hooks";
import { test } from "node:test";

import { mkdtempSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { Kestrove, KestroveError, type PlacePayload, type Rect } from "kestrove";

import { world } from "./support/binaries.js";
import { sim, simHelper } from "./support/sim.js";

const viewer = "com.example.viewer";

test("10,000 concurrent requests: every reply reaches its own request", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const unexpected: unknown[] = [];
  helper.on("error", (error) => unexpected.push(error));
  // Three kinds, so that a reply handed to the wrong request shows: a hold
  // time echoed back, an unknown command echoed in the detail (with
  // characters of several bytes, which the pipe cuts at random), and a place
  // sent without an id whose geometry names it.
  const count = 10_000;
  const started = performance.now();
  const outcomes = await Promise.all(
    Array.from({ length: count }, (_, i) => {
      switch (i % 3) {
        case 0:
          return helper.watchEsc(200 + (i % 4800)).then((r) => r.holdMs === 200 + (i % 4800));
        case 1:
          return helper.request([`probé-ünïcödé-${i}`]).then(
            () => false,
            (e: KestroveError) => e.code === "unknown_command" && e.detail === `probé-ünïcödé-${i}`.slice(0, 40),
          );
        default:
          return helper
            .place(viewer, { x: i % 1000, y: 30, width: 320 + (i % 500), height: 240 })
            .then((r: PlacePayload) => r.content.x === i % 1000 && r.content.width === 320 + (i % 500) && r.id === 7001);
      }
    }),
  );
  const elapsed = performance.now() - started;
  const wrong = outcomes.flatMap((ok, i) => (ok ? [] : [i]));
  assert.deepEqual(wrong, [], `requests answered wrongly: ${wrong.slice(0, 10).join(", ")}`);
  assert.deepEqual(unexpected, []);
  t.diagnostic(`${count} concurrent requests answered in ${elapsed.toFixed(0)} ms`);
});

test("a place resolves before the events written after it; everything in the helper's order", async (t) => {
  // The helper's output is also copied to a file, to compare with what the
  // client delivered and when.
  const copy = join(mkdtempSync(join(tmpdir(), "kestrove-node-")), "stdout");
  const helper = Kestrove.spawn({
    path: "/bin/sh",
    args: ["-c", '"$0" "$@" | tee "$KESTROVE_COPY"', sim(), world("viewer.json")],
    env: { KESTROVE_COPY: copy },
  });
  t.after(() => helper.close());
  await helper.observe(viewer);
  const log: string[] = [];
  const at = (frame: Rect | undefined): string => `${frame?.x},${frame?.width}`;
  helper.on("event", (event) => {
    if (event.event === "moved" || event.event === "resized") log.push(`${event.event} ${at(event.frame)}`);
  });
  const place = (i: number): Promise<void> =>
    helper.place(viewer, { x: 10 + i, y: 60, width: 400 + i, height: 300 }).then((reply) => {
      log.push(`placed ${at(reply.frame)}`);
    });
  // Sent together, the helper answers them all before their events; sent one
  // by one, each reply is followed by its own events.
  await Promise.all(Array.from({ length: 20 }, (_, i) => place(i)));
  for (let i = 20; i < 30; i++) await place(i);
  await helper.close();

  const written = readFileSync(copy, "utf8")
    .trim()
    .split("\n")
    .map((line) => JSON.parse(line) as { event?: string; axErrors?: unknown; frame?: Rect })
    .flatMap((line) => {
      if (line.event === "moved" || line.event === "resized") return [`${line.event} ${at(line.frame)}`];
      return line.axErrors ? [`placed ${at(line.frame)}`] : [];
    });
  assert.equal(written.filter((entry) => entry.startsWith("placed")).length, 30);
  assert.ok(written.length > 30, "the places caused events");
  assert.deepEqual(log, written);
  for (let i = 20; i < 30; i++) {
    const placed = log.indexOf(`placed ${10 + i},${400 + i}`);
    assert.deepEqual(log.slice(placed, placed + 3), [`placed ${10 + i},${400 + i}`, `resized ${10 + i},${400 + i}`, `moved ${10 + i},${400 + i}`]);
  }
});
