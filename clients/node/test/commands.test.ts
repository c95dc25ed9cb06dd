import assert from "node:assert/strict";
import { test } from "node:test";

import { Kestrove, KestroveError, type KestroveEvent } from "kestrove";

import { world } from "./support/binaries.js";
import { sim, simHelper } from "./support/sim.js";
import { collectEvents } from "./support/wait.js";

const viewer = "com.example.viewer";

test("version and screens come back as the reference's payloads, without ok or id", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const version = await helper.version();
  assert.deepEqual(version, {
    coords: "top-left-global-points",
    helper: "kestrove",
    macos: "14.5.0",
    pid: 1000,
    protocol: 1,
    version: "1.0.0",
  });
  const { coords, screens } = await helper.screens();
  assert.equal(coords, "top-left-global-points");
  assert.deepEqual(
    screens.map((s) => [s.id, s.primary, s.frame, s.visibleFrame.y, s.menuBarHeight, s.scale]),
    [
      [1, true, { x: 0, y: 0, width: 1440, height: 900 }, 25, 25, 2],
      [2, false, { x: 1440, y: 0, width: 1920, height: 1080 }, 0, 0, 1],
    ],
  );
});

test("trust: a prompt is asked for, and polling trusted() sees the grant", async (t) => {
  const helper = simHelper(t, "untrusted.json");
  assert.deepEqual(await helper.trusted(), { trusted: false, prompted: false });
  await assert.rejects(helper.place(viewer, { x: 0, y: 25, width: 300, height: 200 }), (error: KestroveError) => {
    assert.equal(error.code, "ax_denied");
    assert.equal(error.detail, undefined);
    return true;
  });
  assert.deepEqual(await helper.trusted({ prompt: true }), { trusted: false, prompted: true });
  // The system does not wait for the user: the grant shows on a later call.
  assert.deepEqual(await helper.trusted(), { trusted: true, prompted: false });
  assert.deepEqual(await helper.trusted({ prompt: true }), { trusted: true, prompted: false });
});

test("windows describes each window, with null for a window without a number", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const reply = await helper.windows(viewer);
  assert.equal(reply.running, true);
  assert.equal(reply.pid, 4101);
  assert.equal(reply.trusted, true);
  const [stream, palette] = reply.windows;
  assert.deepEqual(stream, {
    content: { x: 100, y: 78, width: 1280, height: 720 },
    frame: { x: 100, y: 50, width: 1280, height: 748 },
    fullscreen: false,
    id: 7001,
    main: true,
    minimized: false,
    settable: { position: true, size: true },
    subrole: "AXStandardWindow",
    titlebar: 28,
    titlebarSource: "ax_content",
  });
  assert.equal(palette?.id, null);
  assert.deepEqual(palette?.settable, { position: false, size: true });

  const absent = await helper.windows("com.example.absent");
  assert.deepEqual(absent, { running: false, trusted: true, windows: [] });
  assert.equal("pid" in absent, false);
});

test("place reports the window's number and where it landed", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const cases = [
    {
      name: "granted",
      bundleId: viewer,
      rect: { x: 10, y: 60, width: 500, height: 400 },
      expect: { id: 7001, clamped: false, frame: { x: 10, y: 32, width: 500, height: 428 }, requested: { x: 10, y: 32, width: 500, height: 428 } },
    },
    {
      name: "fractional, kept",
      bundleId: viewer,
      rect: { x: 10.25, y: 60.5, width: 500.75, height: 400 },
      expect: { id: 7001, clamped: false, frame: { x: 10.25, y: 32.5, width: 500.75, height: 428 }, requested: { x: 10.25, y: 32.5, width: 500.75, height: 428 } },
    },
    {
      name: "kept smaller by the app",
      bundleId: "com.example.notes",
      rect: { x: 10, y: 60, width: 500, height: 400 },
      expect: { id: 8001, clamped: true, frame: { x: 10, y: 28, width: 490, height: 422 }, requested: { x: 10, y: 28, width: 500, height: 432 } },
    },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const reply = await helper.place(c.bundleId, c.rect);
      assert.deepEqual(
        { id: reply.id, clamped: reply.clamped, frame: reply.frame, requested: reply.requested },
        c.expect,
      );
      assert.deepEqual(reply.axErrors, [0, 0, 0]);
      assert.equal(reply.titlebarSource, "ax_content");
      assert.equal(reply.content.y, reply.frame.y + reply.titlebar);
    });
  }
});

test("a failed reply rejects with its code, its detail and the command's words; the helper goes on", async (t) => {
  const helper = simHelper(t, "viewer.json");
  const cases: { words: string[]; code: string; detail: string | undefined }[] = [
    { words: ["place", viewer, "abc", "0", "10", "10"], code: "bad_args", detail: "x y w h must be numbers" },
    { words: ["place", viewer, "0", "0", "0.5", "10"], code: "bad_args", detail: "w and h must be >= 1" },
    { words: ["place", "com.example.absent", "0", "0", "10", "10"], code: "not_running", detail: undefined },
    { words: ["place", "com.example.stuck", "0", "30", "10", "10"], code: "place_failed", detail: "AX errors [-25204, -25204, -25204]" },
    { words: ["observe", "com.example.absent"], code: "not_running", detail: undefined },
    { words: ["observe", viewer, "extra"], code: "bad_args", detail: "observe <bundleId>" },
    { words: ["watch-esc", "100"], code: "bad_args", detail: "holdMs 200\u20265000" },
    { words: ["screens", "now"], code: "bad_args", detail: "screens takes no arguments" },
    { words: ["Version"], code: "unknown_command", detail: "Version" },
  ];
  for (const c of cases) {
    await t.test(c.words.join(" "), async () => {
      await assert.rejects(helper.request(c.words), (error: unknown) => {
        assert.ok(error instanceof KestroveError);
        assert.deepEqual([error.code, error.detail, error.words], [c.code, c.detail, c.words]);
        return true;
      });
    });
  }
  assert.equal((await helper.version()).helper, "kestrove");
});

test("request sends any command as words and gives its raw payload", async (t) => {
  const helper = simHelper(t, "viewer.json");
  assert.deepEqual(await helper.request(["version"]), await helper.version());
  const placed = await helper.request(["place", viewer, "0", "25", "640", "480"]);
  assert.equal(placed.id, 7001);
  assert.deepEqual(placed.content, { x: 0, y: 25, width: 640, height: 480 });
  assert.deepEqual(await helper.request(["unobserve"]), { observing: false });
  assert.deepEqual(await helper.request(["quit"]), {});
});

test("events arrive typed, in the helper's order, on `event` and under their own names", async (t) => {
  // Its timeline starts once the helper both observes and watches Escape.
  const helper = simHelper(t, "watched-timeline.json");
  const byName: string[] = [];
  for (const name of ["window_created", "moved", "resized", "window_closed", "app_quit", "esc_long"] as const) {
    helper.on(name, (event) => byName.push(`${name}=${event.event}`));
  }
  const events = collectEvents(helper, 6);
  assert.deepEqual(await helper.observe(viewer), { observing: true, pid: 4101, windows: 1 });
  assert.deepEqual(await helper.watchEsc(300), { watching: true, trusted: true, holdMs: 300 });
  const expected: KestroveEvent[] = [
    { bundleId: viewer, event: "moved", frame: { x: 120, y: 60, width: 800, height: 600 }, id: 7001 },
    { bundleId: viewer, event: "resized", frame: { x: 120, y: 60, width: 640, height: 480 }, id: 7001 },
    { bundleId: viewer, event: "window_created", frame: { x: 400, y: 300, width: 300, height: 200 }, id: 7003 },
    { bundleId: viewer, event: "window_closed", id: 7003 },
    { event: "esc_long", heldMs: 300 },
    { bundleId: viewer, event: "app_quit" },
  ];
  assert.deepEqual(await events, expected);
  assert.deepEqual(byName, expected.map((e) => `${e.event}=${e.event}`));
  assert.deepEqual(await helper.unobserve(), { observing: false });
  assert.deepEqual(await helper.unwatchEsc(), { watching: false });
});

test("Kestrove.run: one command in one-shot mode", async (t) => {
  const options = { path: sim(), args: [world("viewer.json")] };
  const cases: { name: string; words: string[]; check(outcome: unknown): void }[] = [
    {
      name: "a reply",
      words: ["place", viewer, "10", "60", "500", "400"],
      check: (outcome) => assert.equal((outcome as { id: number }).id, 7001),
    },
    {
      name: "a failed reply",
      words: ["observe", viewer],
      check: (outcome) =>
        assert.deepEqual(
          [(outcome as KestroveError).code, (outcome as KestroveError).detail],
          ["loop_only", "observe needs the stdin loop"],
        ),
    },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      c.check(await Kestrove.run(c.words, options).catch((error: unknown) => error));
    });
  }
  await t.test("a helper that writes no reply", async () => {
    // The sim driver refuses a world it cannot read, on stderr, with status 2.
    const error = await Kestrove.run(["version"], { path: sim(), args: ["/nonexistent.json"] }).catch((e: unknown) => e);
    assert.ok(error instanceof KestroveError);
    assert.equal(error.code, "helper_exited");
    assert.deepEqual(error.exit, { code: 2, signal: null });
    assert.match(error.detail ?? "", /exited with code 2; it wrote: .+/);
  });
});
