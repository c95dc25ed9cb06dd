import type { TestContext } from "node:test";

import { Kestrove, type SpawnOptions } from "kestrove";

import { requireBinary, simPath, world } from "./binaries.js";

export const sim = (): string => requireBinary(simPath, "KESTROVE_SIM");

/** The sim driver in loop mode on a world of test/worlds, closed when the test ends. */
export function simHelper(t: TestContext, worldName: string, options: SpawnOptions = {}): Kestrove {
  const helper = Kestrove.spawn({ path: sim(), args: [world(worldName)], ...options });
  t.after(() => helper.close());
  return helper;
}
