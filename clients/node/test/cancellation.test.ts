import assert from "node:assert/strict";
import { getEventListeners } from "node:events";
import { mkdtempSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";

import { Kestrove, KestroveError, type TraceEntry } from "kestrove";

import { world } from "./support/binaries.js";
import { sim, simHelper } from "./support/sim.js";
import { processGone, settledAtOnce, signal } from "./support/wait.js";

const viewer = "com.example.viewer";

function abortedWith(error: unknown, reason: unknown, words: readonly string[]): void {
  assert.ok(error instanceof KestroveError, `not a KestroveError: ${String(error)}`);
  assert.equal(error.code, "aborted");
  assert.equal(error.cause, reason);
  assert.deepEqual(error.words, words);
}

test("signal: a request aborted before, while or after it waits", async (t) => {
  const sent: string[] = [];
  const helper = simHelper(t, "viewer.json", {
    trace: (entry: TraceEntry) => {
      if (entry.direction === "send") sent.push(entry.line);
    },
  });
  const unexpected: unknown[] = [];
  helper.on("error", (error) => unexpected.push(error));
  await helper.version();

  await t.test("aborted before it is sent: rejects at once and sends nothing", async () => {
    const reason = new Error("gone");
    const calls = [
      { words: ["windows", viewer], call: (s: AbortSignal) => helper.windows(viewer, { signal: s }) },
      { words: ["place", viewer, "0", "30", "10", "10"], call: (s: AbortSignal) => helper.place(viewer, { x: 0, y: 30, width: 10, height: 10 }, { signal: s }) },
    ];
    for (const { words, call } of calls) {
      const before = sent.length;
      const reply = call(AbortSignal.abort(reason));
      assert.equal(await settledAtOnce(reply), true);
      abortedWith(await reply.catch((e: unknown) => e), reason, words);
      assert.equal(sent.length, before);
    }
  });

  // Stopped, the helper cannot answer before the abort; once it goes on,
  // the late replies must be dropped rather than answer later requests.
  const whileWaiting = [
    { name: "with an id", words: ["watch-esc", "250"] },
    { name: "a place, matched by order", words: ["place", viewer, "5", "40", "300", "200"] },
  ];
  for (const c of whileWaiting) {
    await t.test(`aborted while it waits (${c.name}): rejects at once; its late reply is dropped`, async () => {
      signal(helper.pid, "SIGSTOP");
      const controller = new AbortController();
      const reply = helper.request(c.words, { signal: controller.signal });
      const later = helper.request(["version"]);
      controller.abort();
      assert.equal(await settledAtOnce(reply), true);
      abortedWith(await reply.catch((e: unknown) => e), controller.signal.reason, c.words);
      signal(helper.pid, "SIGCONT");
      assert.equal((await later).helper, "kestrove");
    });
  }

  await t.test("one signal shared by many requests: one listener, gone once they settle; an abort rejects those still waiting", async () => {
    const warnings: Error[] = [];
    const onWarning = (warning: Error): void => void warnings.push(warning);
    process.on("warning", onWarning);
    t.after(() => process.off("warning", onWarning));
    const controller = new AbortController();
    const answered = await Promise.all(Array.from({ length: 50 }, () => helper.version({ signal: controller.signal })));
    assert.equal(answered.length, 50);
    assert.equal(getEventListeners(controller.signal, "abort").length, 0);

    signal(helper.pid, "SIGSTOP");
    const waiting = Array.from({ length: 50 }, (_, i) => helper.request(["watch-esc", String(200 + i)], { signal: controller.signal }));
    assert.equal(getEventListeners(controller.signal, "abort").length, 1);
    controller.abort();
    const outcomes = await Promise.allSettled(waiting);
    signal(helper.pid, "SIGCONT");
    assert.deepEqual(new Set(outcomes.map((o) => o.status === "rejected" && (o.reason as KestroveError).code)), new Set(["aborted"]));
    assert.equal(getEventListeners(controller.signal, "abort").length, 0);
    assert.equal((await helper.version()).helper, "kestrove");
    assert.deepEqual(warnings.filter((w) => w.name === "MaxListenersExceededWarning"), []);
  });

  await t.test("aborted after its reply: nothing changes", async () => {
    const controller = new AbortController();
    const reply = await helper.screens({ signal: controller.signal });
    controller.abort();
    assert.equal(reply.screens.length, 2);
    assert.deepEqual((await helper.unwatchEsc()), { watching: false });
  });

  await t.test("timed out, then aborted: stays a timeout", async () => {
    signal(helper.pid, "SIGSTOP");
    const controller = new AbortController();
    const reply = helper.version({ timeoutMs: 100, signal: controller.signal }).catch((e: unknown) => e);
    const error = await reply;
    controller.abort();
    signal(helper.pid, "SIGCONT");
    assert.equal((error as KestroveError).code, "timeout");
    assert.equal((await helper.version()).protocol, 1);
  });

  // The aborted place did happen: the window is where that place put it.
  assert.deepEqual((await helper.windows(viewer)).windows[0]?.content, { x: 5, y: 40, width: 300, height: 200 });
  assert.deepEqual(unexpected, []);
});

test("signal on Kestrove.run: aborted before, nothing is started; aborted while it runs, the helper is killed", async (t) => {
  await t.test("before", async () => {
    const marker = join(mkdtempSync(join(tmpdir(), "kestrove-node-")), "started");
    const reason = new Error("not now");
    const reply = Kestrove.run(["version"], {
      path: "/bin/sh",
      args: ["-c", 'touch "$0"', marker],
      signal: AbortSignal.abort(reason),
    });
    assert.equal(await settledAtOnce(reply), true);
    abortedWith(await reply.catch((e: unknown) => e), reason, ["version"]);
    assert.equal(existsSync(marker), false);
  });
  await t.test("while it runs", async () => {
    const controller = new AbortController();
    let pid: number | undefined;
    // The helper says it has started, on stderr, then stops: only the abort can end it.
    const reply = Kestrove.run(["version"], {
      path: "/bin/sh",
      args: ["-c", 'echo started >&2; kill -STOP $$; exec "$0" "$@"', sim(), world("viewer.json")],
      requestTimeoutMs: Infinity,
      signal: controller.signal,
      trace: (entry) => {
        if (entry.direction !== "stderr" || entry.line !== "started") return;
        pid = entry.pid;
        controller.abort();
      },
    });
    abortedWith(await reply.catch((e: unknown) => e), controller.signal.reason, ["version"]);
    assert.ok(pid !== undefined);
    await processGone(pid);
  });
});
