import assert from "node:assert/strict";
import { test } from "node:test";

import { Kestrove, KestroveError, type ExitInfo } from "kestrove";

import { world } from "./support/binaries.js";
import { sim } from "./support/sim.js";

test("a helper of another protocol is stopped and every request rejects with protocol_mismatch", async (t) => {
  // The real helper behind a filter that changes its version reply.
  const cases = [
    { name: "another protocol number", sed: 's/"protocol":1,/"protocol":2,/', detail: /speaks protocol 2; this client speaks 1/ },
    { name: "version refused", sed: 's/^{"coords".*"id":1,.*$/{"error":"unknown_command","id":1,"ok":false}/', detail: /answers version with unknown_command/ },
  ];
  for (const c of cases) {
    await t.test(c.name, async () => {
      const helper = Kestrove.spawn({
        path: "/bin/sh",
        args: ["-c", `"$0" "$@" | sed -u '${c.sed}'`, sim(), world("viewer.json")],
      });
      const exited = new Promise<ExitInfo>((resolve) => helper.once("exit", resolve));
      // Sent at once, before the check's answer has come.
      const early = await Promise.allSettled([helper.windows("com.example.viewer"), helper.screens()]);
      for (const outcome of early) {
        assert.equal(outcome.status, "rejected");
        const error = (outcome as PromiseRejectedResult).reason as KestroveError;
        assert.equal(error.code, "protocol_mismatch");
        assert.match(error.message, c.detail);
      }
      // Stopped by the client: without that the wrapper would wait for input forever.
      await exited;
      const later = await helper.version().catch((e: unknown) => e);
      assert.equal((later as KestroveError).code, "protocol_mismatch");
      await helper.close();
    });
  }
});
