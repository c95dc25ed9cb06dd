import assert from "node:assert/strict";
import { mkdtempSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test, type TestContext } from "node:test";

import { Kestrove, KestroveError, type ExitInfo, type KestroveEvent, type RestartedInfo, type SpawnOptions } from "kestrove";

import { world } from "./support/binaries.js";
import { sim } from "./support/sim.js";
import { collectEvents, signal } from "./support/wait.js";

const viewer = "com.example.viewer";

/**
 * A sim helper that restarts, with the commands sent to each of its helpers
 * by pid: request ids left off, and `version` too, which is how a client
 * learns that a helper answers rather than something to restore.
 */
function supervised(t: TestContext, worldName: string, options: SpawnOptions = {}) {
  const sent = new Map<number, string[]>();
  const helper = Kestrove.spawn({
    path: sim(),
    args: [world(worldName)],
    restart: { retries: 3, backoffMs: 10 },
    trace: (entry) => {
      if (entry.direction !== "send" || entry.pid === undefined) return;
      const command = entry.line.replace(/^#\d+ /, "");
      if (command !== "version") sent.set(entry.pid, [...(sent.get(entry.pid) ?? []), command]);
    },
    ...options,
  });
  t.after(() => helper.close());
  const restarts: RestartedInfo[] = [];
  const exits: ExitInfo[] = [];
  helper.on("restarted", (info) => restarts.push(info));
  helper.on("exit", (exit) => exits.push(exit));
  const restarted = (): Promise<RestartedInfo> => new Promise((resolve) => helper.once("restarted", resolve));
  return { helper, sent, restarts, exits, restarted };
}

test("restart: a helper killed mid-stream comes back with its observation and Escape watch; waiting requests are not sent again", async (t) => {
  const { helper, sent, restarts, exits, restarted } = supervised(t, "timeline.json");
  await helper.observe(viewer);
  await helper.watchEsc(300);
  await collectEvents(helper, 1);
  const first = helper.pid!;
  // Stopped, it cannot answer the place before it is killed.
  signal(first, "SIGSTOP");
  const place = helper.place(viewer, { x: 0, y: 30, width: 200, height: 100 }).catch((e: unknown) => e);
  const back = restarted();
  signal(first, "SIGKILL");
  const error = (await place) as KestroveError;
  assert.equal(error.code, "helper_exited");
  assert.deepEqual(error.exit, { code: null, signal: "SIGKILL" });

  const info = await back;
  assert.equal(info.attempt, 1);
  assert.deepEqual(info.exit, { code: null, signal: "SIGKILL" });
  assert.equal(info.reason.code, "helper_exited");
  assert.deepEqual(info.failed, []);
  assert.notEqual(helper.pid, first);
  assert.deepEqual(sent.get(helper.pid!), ["observe com.example.viewer", "watch-esc 300"]);
  // The new helper's own timeline, seen through the restored observation
  // and watch: its first window event, and the Escape hold at 300 ms. (How
  // many window events come between depends on how busy the machine is: a
  // window created and closed within 20 ms may be gone before it is watched.)
  const seen: KestroveEvent[] = [];
  const onEvent = (event: KestroveEvent): void => void seen.push(event);
  helper.on("event", onEvent);
  const esc = await new Promise<KestroveEvent>((resolve) => helper.once("esc_long", resolve));
  helper.off("event", onEvent);
  assert.deepEqual(esc, { event: "esc_long", heldMs: 300 });
  assert.deepEqual(seen[0], { bundleId: viewer, event: "moved", frame: { x: 120, y: 60, width: 800, height: 600 }, id: 7001 });
  assert.equal((await helper.version()).helper, "kestrove");
  assert.deepEqual(await helper.close(), { code: 0, signal: null });
  assert.deepEqual(exits, [{ code: 0, signal: null }]);
  assert.equal(restarts.length, 1);
});

test("restart: what is asked again follows what was last in force", async (t) => {
  const cases: { name: string; before(helper: Kestrove): Promise<unknown>; asked: string[] }[] = [
    { name: "nothing observed or watched", before: async () => {}, asked: [] },
    {
      name: "the observed app quit: only the watch",
      before: async (helper) => {
        const quit = new Promise((resolve) => helper.once("app_quit", resolve));
        await helper.observe(viewer);
        await helper.watchEsc(700);
        await quit;
      },
      asked: ["watch-esc 700"],
    },
    {
      name: "unobserve and unwatch-esc",
      before: async (helper) => {
        await helper.observe(viewer);
        await helper.watchEsc();
        await helper.unobserve();
        await helper.unwatchEsc();
      },
      asked: [],
    },
    {
      name: "a failed observe keeps the earlier one; the helper's default hold time is asked by value",
      before: async (helper) => {
        await helper.observe(viewer);
        await helper.watchEsc();
        await assert.rejects(helper.observe("com.example.absent"), { code: "not_running" });
      },
      asked: ["observe com.example.viewer", "watch-esc 600"],
    },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const { helper, sent, restarted } = supervised(t, "timeline.json");
      await c.before(helper);
      const back = restarted();
      signal(helper.pid, "SIGKILL");
      assert.deepEqual((await back).failed, []);
      assert.deepEqual(sent.get(helper.pid!) ?? [], c.asked);
    });
  }
});

test("restart: an observation the new helper refuses is reported in `failed` and not asked for again", async (t) => {
  // The simulated trust does not outlive its helper: the new one starts untrusted.
  const { helper, sent, restarted } = supervised(t, "untrusted.json");
  await helper.trusted({ prompt: true });
  await helper.observe(viewer);
  let back = restarted();
  signal(helper.pid, "SIGKILL");
  const info = await back;
  assert.deepEqual(info.failed.map((e) => [e.code, e.words]), [["ax_denied", ["observe", viewer]]]);
  assert.deepEqual(sent.get(helper.pid!), ["observe com.example.viewer"]);
  back = restarted();
  signal(helper.pid, "SIGKILL");
  await back;
  assert.deepEqual(sent.get(helper.pid!) ?? [], []);
});

test("restart: the attempts in a row, and when they count again from one", async (t) => {
  const cases = [
    { name: "by default, a second restart soon after is attempt 2", resetAfterMs: undefined, attempts: [1, 2] },
    { name: "with resetAfterMs 0 every restart is attempt 1", resetAfterMs: 0, attempts: [1, 1] },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const { helper, restarts, restarted } = supervised(t, "viewer.json", {
        restart: { retries: 3, backoffMs: 10, resetAfterMs: c.resetAfterMs },
      });
      for (let i = 0; i < c.attempts.length; i++) {
        await helper.version();
        const back = restarted();
        signal(helper.pid, "SIGKILL");
        await back;
      }
      assert.deepEqual(restarts.map((r) => r.attempt), c.attempts);
    });
  }
});

test("restart options that are not counts are refused before anything starts", () => {
  const cases: [string, Record<string, unknown>][] = [
    ["retries NaN", { retries: Number.NaN }],
    ["retries -1", { retries: -1 }],
    ["retries 1.5", { retries: 1.5 }],
    ["retries missing", {}],
    ["backoffMs Infinity", { retries: 1, backoffMs: Infinity }],
    ["resetAfterMs -5", { retries: 1, resetAfterMs: -5 }],
  ];
  for (const [name, restart] of cases) {
    assert.throws(
      () => Kestrove.spawn({ path: "/nonexistent/kestrove", restart: restart as never }),
      (error: unknown) => error instanceof KestroveError && error.code === "invalid_argument",
      name,
    );
  }
});

// Each of these ends with one `exit`; a fault here shows as one that never comes.
test("restart: giving up, and the ends that are meant", { timeout: 120_000 }, async (t) => {
  await t.test("a helper that keeps ending is started 1 + retries times, then exit is emitted once", async () => {
    const counter = join(mkdtempSync(join(tmpdir(), "kestrove-node-")), "starts");
    const helper = Kestrove.spawn({
      path: "/bin/sh",
      args: ["-c", 'echo started >> "$0"; exit 3', counter],
      restart: { retries: 2, backoffMs: 5 },
    });
    const exited = new Promise<ExitInfo>((resolve) => helper.once("exit", resolve));
    const restarts: RestartedInfo[] = [];
    helper.on("restarted", (info) => restarts.push(info));
    assert.deepEqual(await exited, { code: 3, signal: null });
    assert.equal(readFileSync(counter, "utf8"), "started\n".repeat(3));
    assert.deepEqual(restarts, []);
    await assert.rejects(helper.version(), { code: "helper_exited" });
  });
  await t.test("a new helper that does not answer is ended and counts as an attempt", async () => {
    // The first start runs the sim driver; every later one stops before it answers.
    const marker = join(mkdtempSync(join(tmpdir(), "kestrove-node-")), "started");
    const helper = Kestrove.spawn({
      path: "/bin/sh",
      args: ["-c", 'if [ -e "$0" ]; then kill -STOP $$; fi; touch "$0"; exec "$1" "$2"', marker, sim(), world("viewer.json")],
      requestTimeoutMs: 300,
      restart: { retries: 1, backoffMs: 5 },
    });
    const restarts: RestartedInfo[] = [];
    helper.on("restarted", (info) => restarts.push(info));
    const exited = new Promise<ExitInfo>((resolve) => helper.once("exit", resolve));
    await helper.version();
    signal(helper.pid, "SIGKILL");
    assert.deepEqual(await exited, { code: null, signal: "SIGKILL" });
    assert.deepEqual(restarts, []);
  });
  await t.test("an executable that cannot be started: spawn_failed, then exit once", async () => {
    const helper = Kestrove.spawn({ path: "/nonexistent/kestrove", restart: { retries: 2, backoffMs: 5 } });
    const exited = new Promise<ExitInfo>((resolve) => helper.once("exit", resolve));
    await assert.rejects(helper.version(), { code: "spawn_failed" });
    assert.deepEqual(await exited, { code: null, signal: null });
  });
  await t.test("kill() ends it for good", async () => {
    const { helper, exits, restarts } = supervised(t, "viewer.json");
    await helper.version();
    const exited = new Promise((resolve) => helper.once("exit", resolve));
    helper.kill();
    await exited;
    assert.deepEqual(exits, [{ code: null, signal: "SIGKILL" }]);
    assert.deepEqual(restarts, []);
  });
  await t.test("close() while a restart waits: none follows; close gives the last end", async () => {
    const { helper, exits } = supervised(t, "viewer.json", { restart: { retries: 3, backoffMs: 60_000 } });
    await helper.version();
    const pending = helper.version({ timeoutMs: Infinity }).catch((e: unknown) => e);
    signal(helper.pid, "SIGSTOP");
    signal(helper.pid, "SIGKILL");
    // Its rejection comes as the end is handled, which schedules the restart.
    assert.equal(((await pending) as KestroveError).code, "helper_exited");
    assert.deepEqual(exits, []);
    assert.deepEqual(await helper.close(), { code: null, signal: "SIGKILL" });
    assert.deepEqual(exits, [{ code: null, signal: "SIGKILL" }]);
  });
});
