import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";

import { packageRoot } from "./binaries.js";

/** The README's example, saved inside the package so that `import "kestrove"` finds it as an installed copy would. */
export function readmeExample(): string {
  const readme = readFileSync(join(packageRoot, "README.md"), "utf8");
  const code = /## Example\s+```js\n([\s\S]*?)```/.exec(readme)?.[1];
  if (!code) throw new Error("README.md has no js block under ## Example");
  const file = join(packageRoot, "dist-test", "example.mjs");
  writeFileSync(file, code);
  return file;
}
