import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { promisify } from "node:util";
import { test } from "node:test";

import { Kestrove, type KestroveEvent, type RestartedInfo } from "kestrove";

import { requireBinary, x11Path } from "./support/binaries.js";
import { readmeExample } from "./support/readme.js";
import { Desktop, xvfbInstalled } from "./support/x11-desktop.js";

const appId = "KtNodeTerm";

/** The first event after now that `match` accepts. */
function waitFor(helper: Kestrove, match: (e: KestroveEvent) => boolean, timeoutMs = 5000): Promise<KestroveEvent> {
  return new Promise((resolve, reject) => {
    const seen: KestroveEvent[] = [];
    const timer = setTimeout(() => {
      helper.off("event", listener);
      reject(new Error(`no matching event in ${timeoutMs} ms; saw ${JSON.stringify(seen)}`));
    }, timeoutMs);
    const listener = (event: KestroveEvent): void => {
      seen.push(event);
      if (!match(event)) return;
      clearTimeout(timer);
      helper.off("event", listener);
      resolve(event);
    };
    helper.on("event", listener);
  });
}

/** Resolves once no event has come for `ms`. */
function quiet(helper: Kestrove, ms: number): Promise<void> {
  return new Promise((resolve) => {
    let timer = setTimeout(done, ms);
    const listener = (): void => {
      clearTimeout(timer);
      timer = setTimeout(done, ms);
    };
    function done(): void {
      helper.off("event", listener);
      resolve();
    }
    helper.on("event", listener);
  });
}

const skip = xvfbInstalled() ? false : "Xvfb is not installed: the X11 desktop tests are skipped";

test("on a throwaway X11 desktop, with a real xterm", { skip }, async (t) => {
  const helperPath = requireBinary(x11Path, "KESTROVE_X11");
  const desktop = await Desktop.start();
  t.after(() => desktop.stop());
  const xterm = await desktop.spawnClient(["xterm", "-class", appId], appId);
  const helper = Kestrove.spawn({ path: helperPath, env: desktop.env });
  t.after(() => helper.close());

  await t.test("windows describes the xterm as xwininfo sees it", async () => {
    const reply = await helper.windows(appId);
    assert.equal(reply.running, true);
    assert.equal(reply.trusted, true);
    assert.equal(reply.pid, xterm.process.pid);
    assert.deepEqual(reply.windows.map((w) => w.id), [xterm.window]);
    assert.deepEqual(reply.windows[0]?.content, await desktop.geometry(xterm.window));
    assert.deepEqual(reply.windows[0]?.frame, await desktop.expectedFrame(xterm.window));
  });

  await t.test("place moves the content area and reports where it landed, with the window's number", async () => {
    const rect = { x: 200, y: 150, width: 640, height: 400 };
    const reply = await helper.place(appId, rect);
    const landed = await desktop.geometry(xterm.window);
    assert.equal(reply.id, xterm.window);
    assert.deepEqual(reply.content, landed);
    assert.deepEqual(reply.frame, await desktop.expectedFrame(xterm.window));
    // A window manager may snap an xterm to whole character cells.
    assert.deepEqual([landed.x, landed.y], [rect.x, rect.y]);
    assert.equal(reply.clamped, landed.width !== rect.width || landed.height !== rect.height);
  });

  await t.test("observe reports a move made from outside, and the events a place causes come after it", async () => {
    const observed = await helper.observe(appId);
    assert.deepEqual(observed, { observing: true, pid: xterm.process.pid, windows: 1 });

    const moved = waitFor(helper, (e) => e.event === "moved");
    await desktop.x("xdotool", "windowmove", "--sync", String(xterm.window), "300", "250");
    const event = await moved;
    assert.equal(event.event, "moved");
    assert.equal("id" in event ? event.id : undefined, xterm.window);
    assert.deepEqual("frame" in event ? event.frame : undefined, await desktop.expectedFrame(xterm.window));

    // A move made from outside may bring more than one event; let them pass.
    await quiet(helper, 300);
    const order: string[] = [];
    helper.on("moved", () => order.push("moved"));
    const next = waitFor(helper, (e) => e.event === "moved");
    await helper.place(appId, { x: 40, y: 60, width: 500, height: 300 });
    order.push("placed");
    await next;
    assert.equal(order[0], "placed");
  });

  await t.test("the README's example runs as written against the X11 helper", async () => {
    const { stdout } = await promisify(execFile)(process.execPath, [readmeExample(), appId], {
      env: { ...process.env, ...desktop.env, KESTROVE_PATH: helperPath },
    });
    assert.match(stdout, /helper: 'kestrove'/);
    assert.match(stdout, new RegExp(`^\\[ ${xterm.window} \\]$`, "m"));
    const landed = await desktop.geometry(xterm.window);
    assert.match(stdout, new RegExp(`^(placed at|clamped to) \\{ height: ${landed.height}, width: ${landed.width}, x: 0, y: 25 \\}$`, "m"));
  });

  await t.test("with restart, a killed helper comes back and observes the xterm again", async () => {
    const supervised = Kestrove.spawn({ path: helperPath, env: desktop.env, restart: { retries: 2, backoffMs: 10 } });
    t.after(() => supervised.close());
    await supervised.observe(appId);
    const first = supervised.pid;
    const back = new Promise<RestartedInfo>((resolve) => supervised.once("restarted", resolve));
    process.kill(first!, "SIGKILL");
    const info = await back;
    assert.deepEqual([info.attempt, info.exit, info.failed], [1, { code: null, signal: "SIGKILL" }, []]);
    assert.notEqual(supervised.pid, first);

    const moved = waitFor(supervised, (e) => e.event === "moved");
    await desktop.x("xdotool", "windowmove", "--sync", String(xterm.window), "120", "140");
    const event = await moved;
    assert.equal("id" in event ? event.id : undefined, xterm.window);
    assert.deepEqual("frame" in event ? event.frame : undefined, await desktop.expectedFrame(xterm.window));
    assert.deepEqual(await supervised.close(), { code: 0, signal: null });
  });

  await t.test("the observed app's quit", async () => {
    const quit = waitFor(helper, (e) => e.event === "app_quit");
    xterm.process.kill("SIGKILL");
    assert.deepEqual(await quit, { event: "app_quit", bundleId: appId });
    assert.deepEqual(await helper.unobserve(), { observing: false });
  });

  await t.test("one-shot run on the same desktop", async () => {
    const reply = await Kestrove.run(["screens"], { path: helperPath, env: desktop.env });
    assert.deepEqual(reply.screens.map((s) => s.primary), [true, false]);
  });
});
