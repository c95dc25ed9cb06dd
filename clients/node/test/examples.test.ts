import assert from "node:assert/strict";
import { execFile, spawn } from "node:child_process";
import { createInterface } from "node:readline";
import { test } from "node:test";
import { promisify } from "node:util";

import { packageRoot, world } from "./support/binaries.js";
import { readmeExample } from "./support/readme.js";
import { sim } from "./support/sim.js";

test("the README's example runs as written against the sim driver", async () => {
  const file = readmeExample();
  const { stdout } = await promisify(execFile)(process.execPath, [file, "com.example.viewer", world("viewer.json")], {
    cwd: packageRoot,
    env: { ...process.env, KESTROVE_PATH: sim() },
  });
  assert.match(stdout, /helper: 'kestrove'/);
  assert.match(stdout, /^\[ 7001, null \]$/m);
  const placed = stdout.indexOf("placed at { height: 720, width: 1280, x: 0, y: 25 }");
  const moved = stdout.indexOf("moved 7001 { height: 748, width: 1280, x: 0, y: -3 }");
  assert.ok(placed !== -1 && moved > placed, stdout);
});

test("examples/follow-window.mjs places the window, prints its events, and stops on Ctrl-C", async (t) => {
  const cases = [
    { world: "timeline.json", last: "app_quit", waitsForTrust: false },
    { world: "untrusted.json", last: "moved", waitsForTrust: true },
  ];
  for (const c of cases) {
    await t.test(c.world, async () => {
      const example = spawn(
        process.execPath,
        ["examples/follow-window.mjs", "com.example.viewer", "10", "60", "500", "400", "--", world(c.world)],
        { cwd: packageRoot, env: { ...process.env, KESTROVE_PATH: sim() }, stdio: ["ignore", "pipe", "pipe"] },
      );
      let stderr = "";
      example.stderr.on("data", (chunk: Buffer) => (stderr += chunk.toString()));
      const ended = new Promise<number | null>((resolve) => example.once("exit", (code) => resolve(code)));
      const lines: Record<string, unknown>[] = [];
      for await (const line of createInterface({ input: example.stdout })) {
        lines.push(JSON.parse(line) as Record<string, unknown>);
        if (lines.at(-1)?.event === c.last) break;
      }
      example.kill("SIGINT");
      assert.equal(await ended, 0, stderr);
      assert.deepEqual(lines[0], { placed: { x: 10, y: 60, width: 500, height: 400 }, clamped: false, id: 7001 });
      assert.deepEqual(lines.slice(1, 3).map((l) => l.event), ["resized", "moved"]);
      assert.equal(stderr.includes("waiting for Accessibility trust"), c.waitsForTrust, stderr);
      assert.match(stderr, /following com\.example\.viewer \(pid 4101\)/);
    });
  }
});
