import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { writeFileSync } from "node:fs";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { test } from "node:test";

import { Kestrove, type ExitInfo } from "kestrove";

import { packageRoot, world } from "./support/binaries.js";
import { sim } from "./support/sim.js";
import { processGone, signal } from "./support/wait.js";

test("disposal: await using closes, using kills, both end the helper once", async (t) => {
  const cases: { name: string; use(seen: ExitInfo[]): Promise<Kestrove>; exit: ExitInfo }[] = [
    {
      name: "await using",
      use: async (seen) => {
        await using helper = Kestrove.spawn({ path: sim(), args: [world("viewer.json")] });
        helper.on("exit", (exit) => seen.push(exit));
        await helper.version();
        return helper;
      },
      exit: { code: 0, signal: null },
    },
    {
      name: "using",
      use: async (seen) => {
        using helper = Kestrove.spawn({ path: sim(), args: [world("viewer.json")] });
        helper.on("exit", (exit) => seen.push(exit));
        await helper.version();
        return helper;
      },
      exit: { code: null, signal: "SIGKILL" },
    },
    {
      name: "Symbol.asyncDispose after close, as a second disposal",
      use: async (seen) => {
        const helper = Kestrove.spawn({ path: sim(), args: [world("viewer.json")] });
        helper.on("exit", (exit) => seen.push(exit));
        await helper.version();
        await helper.close();
        await helper[Symbol.asyncDispose]();
        return helper;
      },
      exit: { code: 0, signal: null },
    },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const seen: ExitInfo[] = [];
      const helper = await c.use(seen);
      assert.deepEqual(await helper.close(), c.exit);
      assert.deepEqual(seen, [c.exit]);
      await assert.rejects(helper.version(), { code: "helper_exited" });
    });
  }
});

test("unref: Node exits while the helper idles, waits for a reply still due, and ref undoes it", { timeout: 60_000 }, async (t) => {
  // Each script runs in its own Node, which must end by itself: what keeps
  // it running is the point. It prints what it saw, one JSON line each.
  const cases: { name: string; body: string; expect: unknown[]; kill?: boolean }[] = [
    {
      name: "an idle helper no longer keeps Node running",
      body: "await helper.version(); helper.unref(); say({ pid: helper.pid });",
      expect: ["pid"],
    },
    {
      name: "a reply still due keeps it running until it comes, without a timeout",
      body:
        'helper.unref(); say({ pid: helper.pid }); const r = await helper.request(["version"], { timeoutMs: Infinity }); say({ helper: r.helper });',
      expect: ["pid", { helper: "kestrove" }],
    },
    {
      name: "ref after unref: Node runs until the helper ends",
      body: 'helper.unref().ref(); helper.on("exit", (e) => say({ exit: e.signal })); say({ pid: helper.pid });',
      expect: ["pid", { exit: "SIGKILL" }],
      kill: true,
    },
  ];
  for (const [i, c] of cases.entries()) {
    await t.test(c.name, async () => {
      // Inside the package, so that `import "kestrove"` finds it as an installed copy would.
      const file = join(packageRoot, "dist-test", `unref-${i}.mjs`);
      writeFileSync(
        file,
        `import { Kestrove } from "kestrove";
const say = (value) => console.log(JSON.stringify(value));
const helper = Kestrove.spawn({ path: ${JSON.stringify(sim())}, args: [${JSON.stringify(world("viewer.json"))}] });
${c.body}
`,
      );
      const script = spawn(process.execPath, [file], { stdio: ["ignore", "pipe", "inherit"] });
      const ended = new Promise<number | null>((resolve) => script.once("exit", resolve));
      const seen: unknown[] = [];
      let helperPid: number | undefined;
      for await (const line of createInterface({ input: script.stdout })) {
        const value = JSON.parse(line) as { pid?: number };
        if (value.pid !== undefined) {
          helperPid = value.pid;
          seen.push("pid");
          if (c.kill) signal(helperPid, "SIGKILL");
        } else {
          seen.push(value);
        }
      }
      assert.equal(await ended, 0);
      assert.deepEqual(seen, c.expect);
      // With Node gone, its pipe to the helper closed: the helper ends too.
      await processGone(helperPid!);
    });
  }
});
