import assert from "node:assert/strict";
import { chmodSync, mkdtempSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";

import { Kestrove, KestroveError, maxLineBytes, type ExitInfo } from "kestrove";

import { world } from "./support/binaries.js";
import { sim, simHelper } from "./support/sim.js";
import { settledAtOnce, signal, sleep } from "./support/wait.js";

const viewer = "com.example.viewer";

function codeOf(error: unknown): string {
  assert.ok(error instanceof KestroveError, `not a KestroveError: ${String(error)}`);
  return error.code;
}

/** Exit events, counted. */
function exits(helper: Kestrove): ExitInfo[] {
  const seen: ExitInfo[] = [];
  helper.on("exit", (exit) => seen.push(exit));
  return seen;
}

test("invalid_argument: refused before anything is sent", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const unexpected: unknown[] = [];
  helper.on("error", (error) => unexpected.push(error));
  // A line that reached the helper would be answered; its reply, meeting
  // no request, would show as an "error" event.
  // "#1 " counts: nothing is sent before, so the next request has id 1.
  const lineOf = (bytes: number): string[] => ["windows", "b".repeat(bytes - "#1 windows ".length)];
  const cases: [string, () => Promise<unknown>][] = [
    ["no words", () => helper.request([])],
    ["an empty word", () => helper.request(["windows", ""])],
    ["a space", () => helper.windows("com.example viewer")],
    ["a tab", () => helper.windows("com.example\tviewer")],
    ["a carriage return", () => helper.windows("com.example\rviewer")],
    ["a line feed", () => helper.request(["version\nquit"])],
    ["a NUL", () => helper.windows("com.example\0viewer")],
    ["a lone surrogate", () => helper.windows("com.example.\ud800")],
    ["a line of 4097 bytes", () => helper.request(lineOf(maxLineBytes + 1))],
    ["NaN for place", () => helper.place(viewer, { x: Number.NaN, y: 0, width: 10, height: 10 })],
    ["Infinity for place", () => helper.place(viewer, { x: 0, y: 0, width: Infinity, height: 10 })],
    ["NaN hold time", () => helper.watchEsc(Number.NaN)],
    ["a one-shot word with a space", () => Kestrove.run(["windows", "a b"], { path: sim(), args: [world("viewer.json")] })],
  ];
  for (const [name, call] of cases) {
    await t.test(name, async () => {
      const error = await call().then(() => undefined, (e: unknown) => e);
      assert.equal(codeOf(error), "invalid_argument");
    });
  }
  await t.test("a line of exactly 4096 bytes is sent", async () => {
    const error = await helper.request(lineOf(maxLineBytes)).then(() => undefined, (e: unknown) => e);
    assert.equal(codeOf(error), "bad_args");
  });
  assert.equal((await helper.version()).helper, "kestrove");
  assert.deepEqual(unexpected, []);
});

test("spawn_failed: an executable that cannot be started, with the system's reason", async (t) => {
  const dir = mkdtempSync(join(tmpdir(), "kestrove-node-"));
  const notExecutable = join(dir, "helper");
  writeFileSync(notExecutable, "#!/bin/sh\n");
  chmodSync(notExecutable, 0o644);
  const cases = [
    { name: "a path that does not exist", path: join(dir, "missing"), reason: "ENOENT" },
    { name: "a file without execute permission", path: notExecutable, reason: "EACCES" },
    { name: "a directory", path: dir, reason: "EACCES" },
    { name: "a path with a NUL, which never reaches exec", path: `${dir}/\0`, reason: "ERR_INVALID_ARG_VALUE" },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const helper = Kestrove.spawn({ path: c.path });
      const seen = exits(helper);
      for (const call of [() => helper.version(), () => helper.windows(viewer)]) {
        const error = await call().then(() => undefined, (e: unknown) => e);
        assert.equal(codeOf(error), "spawn_failed");
        assert.equal(((error as KestroveError).cause as NodeJS.ErrnoException).code, c.reason);
      }
      assert.deepEqual(await helper.close(), { code: null, signal: null });
      assert.equal(seen.length, 1);
      const oneShot = await Kestrove.run(["version"], { path: c.path }).catch((e: unknown) => e);
      assert.equal(codeOf(oneShot), "spawn_failed");
    });
  }
});

test("timeout: a stopped helper; its late replies are dropped, never given to a later request", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const unexpected: unknown[] = [];
  helper.on("error", (error) => unexpected.push(error));
  await helper.version();
  signal(helper.pid, "SIGSTOP");
  t.after(() => signal(helper.pid, "SIGCONT"));
  // One request with an id, one place (matched by order instead).
  const version = helper.request(["version"], { timeoutMs: 200 });
  const place = helper.place(viewer, { x: 1, y: 30, width: 300, height: 200 }).catch((e: unknown) => e);
  assert.equal(codeOf(await version.catch((e: unknown) => e)), "timeout");
  const screens = helper.screens();
  assert.equal(codeOf(await place), "timeout");
  signal(helper.pid, "SIGCONT");
  const reply = await screens;
  assert.equal(reply.coords, "top-left-global-points");
  assert.equal(reply.screens.length, 2);
  // The place did happen, late: the window is where it was asked to go.
  assert.deepEqual((await helper.windows(viewer)).windows[0]?.content, { x: 1, y: 30, width: 300, height: 200 });
  assert.deepEqual(unexpected, []);
});

// Settling at all shows the stopped helper was killed: its close would never come.
test("timeout in one-shot mode: a helper that stops before it answers is killed", { timeout: 10_000 }, async () => {
  const error = await Kestrove.run(["version"], {
    path: "/bin/sh",
    args: ["-c", 'kill -STOP $$; exec "$0" "$@"', sim(), world("viewer.json")],
    requestTimeoutMs: 300,
  }).catch((e: unknown) => e);
  assert.equal(codeOf(error), "timeout");
});

test("helper_exited: pending requests reject at once, later calls too, and exit is emitted once", async (t) => {
  for (const ending of ["SIGKILL", "SIGTERM"] as const) {
    await t.test(`killed by ${ending} mid-request`, async () => {
      const helper = simHelper(t, "viewer.json");
      const seen = exits(helper);
      await helper.version();
      // Stopped, it cannot answer before the signal arrives.
      signal(helper.pid, "SIGSTOP");
      const pending = [helper.windows(viewer), helper.place(viewer, { x: 0, y: 30, width: 10, height: 10 })];
      await sleep(50);
      helper.kill(ending);
      signal(helper.pid, "SIGCONT");
      for (const outcome of await Promise.allSettled(pending)) {
        assert.equal(outcome.status, "rejected");
        const error = (outcome as PromiseRejectedResult).reason as KestroveError;
        assert.equal(codeOf(error), "helper_exited");
        assert.deepEqual(error.exit, { code: null, signal: ending });
      }
      const later = helper.version();
      assert.equal(await settledAtOnce(later), true);
      assert.equal(codeOf(await later.catch((e: unknown) => e)), "helper_exited");
      assert.deepEqual(await helper.close(), { code: null, signal: ending });
      assert.deepEqual(seen, [{ code: null, signal: ending }]);
    });
  }
  await t.test("quit with requests behind it", async () => {
    const helper = simHelper(t, "viewer.json");
    const seen = exits(helper);
    const [quit, version] = await Promise.allSettled([helper.request(["quit"]), helper.version()]);
    assert.deepEqual(quit, { status: "fulfilled", value: {} });
    assert.equal(codeOf((version as PromiseRejectedResult).reason), "helper_exited");
    assert.deepEqual(((version as PromiseRejectedResult).reason as KestroveError).exit, { code: 0, signal: null });
    assert.deepEqual(seen, [{ code: 0, signal: null }]);
  });
  await t.test("close answers what was asked before it, then ends the helper", async () => {
    const helper = simHelper(t, "viewer.json");
    const seen = exits(helper);
    const before = helper.version();
    const closed = helper.close();
    const after = helper.version().catch((e: unknown) => e);
    assert.equal((await before).helper, "kestrove");
    assert.deepEqual(await closed, { code: 0, signal: null });
    assert.equal(codeOf(await after), "helper_exited");
    assert.equal(await helper.close(), await closed);
    assert.equal(seen.length, 1);
  });
  await t.test("close kills a helper that does not quit", async () => {
    const helper = simHelper(t, "viewer.json", { closeGraceMs: 300 });
    await helper.version();
    signal(helper.pid, "SIGSTOP");
    assert.deepEqual(await helper.close(), { code: null, signal: "SIGKILL" });
  });
});

test("a reply written without an id rejects the oldest request with internal", async (t) => {
  // The helper writes {"ok":false,"error":"internal"}, without the request's
  // id, when it cannot encode a reply. Every value it reports is now checked
  // before encoding, so the real helper runs behind a filter that turns its
  // screens reply into that line.
  const fallback = '{"ok":false,"error":"internal"}';
  const helper = Kestrove.spawn({
    path: "/bin/sh",
    args: ["-c", `"$0" "$@" | sed -u 's/^{"coords":[^{]*"screens":.*$/${fallback}/'`, sim(), world("viewer.json")],
    requestTimeoutMs: 60_000,
  });
  t.after(() => helper.close());
  const [screens, version] = await Promise.allSettled([helper.screens(), helper.version()]);
  assert.equal(codeOf((screens as PromiseRejectedResult).reason), "internal");
  assert.deepEqual(((screens as PromiseRejectedResult).reason as KestroveError).words, ["screens"]);
  assert.equal(version.status, "fulfilled");
  assert.equal((await helper.version()).protocol, 1);
});

test("lines that are not replies or events go to `error` and never bring the caller down", async (t) => {
  // The real helper behind a shell that first writes lines it never would.
  const noise = ["not json", "[1,2]", '{"neither":1}', '{"ok":true,"id":99}'];
  const options = {
    path: "/bin/sh",
    args: ["-c", `printf '%s\\n' ${noise.map((l) => `'${l}'`).join(" ")}; exec "$0" "$@"`, sim(), world("viewer.json")],
  };
  await t.test("with an error listener", async () => {
    const helper = Kestrove.spawn(options);
    t.after(() => helper.close());
    const errors: KestroveError[] = [];
    helper.on("error", (error) => errors.push(error));
    assert.equal((await helper.version()).helper, "kestrove");
    assert.deepEqual(
      errors.map((e) => [e.code, e.line, e.detail]),
      [
        ["bad_line", "not json", "not JSON"],
        ["bad_line", "[1,2]", "not a JSON object"],
        ["bad_line", '{"neither":1}', "neither a reply nor an event"],
        ["bad_line", '{"ok":true,"id":99}', "a reply that answers no waiting request"],
      ],
    );
  });
  await t.test("an event of a name the client does not know reaches `event` only", async () => {
    const helper = Kestrove.spawn({
      path: "/bin/sh",
      args: ["-c", `printf '%s\\n' '{"event":"error"}' '{"event":"exit"}'; exec "$0" "$@"`, sim(), world("viewer.json")],
    });
    t.after(() => helper.close());
    const events: unknown[] = [];
    const others: unknown[] = [];
    helper.on("event", (event) => events.push(event));
    helper.on("exit", (exit) => others.push(exit));
    assert.equal((await helper.version()).helper, "kestrove");
    assert.deepEqual(events, [{ event: "error" }, { event: "exit" }]);
    assert.deepEqual(others, []);
  });
  await t.test("without one: a process warning", async () => {
    const warnings: Error[] = [];
    const onWarning = (warning: Error): void => {
      warnings.push(warning);
    };
    process.on("warning", onWarning);
    t.after(() => process.off("warning", onWarning));
    const helper = Kestrove.spawn(options);
    t.after(() => helper.close());
    assert.equal((await helper.version()).helper, "kestrove");
    await sleep(20);
    assert.equal(warnings.filter((w) => w instanceof KestroveError && w.code === "bad_line").length, noise.length);
  });
});
