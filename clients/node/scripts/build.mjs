// Builds dist/ from src/ twice: ES modules (.js, .d.ts) and CommonJS (.cjs,
// .d.cts). TypeScript names its output .js whatever the module format, and
// in a "type": "module" package a CommonJS .js would be loaded as an ES
// module; so the CommonJS build is compiled aside and renamed, with its
// relative specifiers rewritten to the new names. A module that needs its
// own location writes `import.meta.url`, which CommonJS has not: the
// CommonJS build compiles a copy of the sources with it spelt the CommonJS
// way.
import { spawnSync } from "node:child_process";
import { cpSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join } from "node:path";
import { fileURLToPath } from "node:url";

const root = fileURLToPath(new URL("../", import.meta.url));
const dist = join(root, "dist");
const aside = join(root, "dist-cjs");
const cjsSources = join(root, "dist-cjs-src");
const tsc = createRequire(import.meta.url).resolve("typescript/bin/tsc");

function compile(project) {
  const result = spawnSync(process.execPath, [tsc, "-p", join(root, project)], { stdio: "inherit" });
  if (result.status !== 0) process.exit(result.status ?? 1);
}

rmSync(dist, { recursive: true, force: true });
rmSync(aside, { recursive: true, force: true });
rmSync(cjsSources, { recursive: true, force: true });
compile("tsconfig.json");
cpSync(join(root, "src"), cjsSources, { recursive: true });
for (const name of readdirSync(cjsSources)) {
  const file = join(cjsSources, name);
  const text = readFileSync(file, "utf8");
  if (text.includes("import.meta.url")) {
    writeFileSync(file, text.replaceAll("import.meta.url", 'require("node:url").pathToFileURL(__filename).href'));
  }
}
compile("tsconfig.cjs.json");
rmSync(cjsSources, { recursive: true, force: true });

// "./words.js" in require(), import(), from and a source map comment.
const relative = /(["'])(\.\.?\/[^"']*?)\.js\1/g;
const renamed = [
  [".d.ts", ".d.cts"],
  [".js.map", ".cjs.map"],
  [".js", ".cjs"],
];
mkdirSync(dist, { recursive: true });
for (const name of readdirSync(aside)) {
  const rule = renamed.find(([from]) => name.endsWith(from));
  if (!rule) throw new Error(`unexpected file in the CommonJS build: ${name}`);
  const target = name.slice(0, -rule[0].length) + rule[1];
  let text = readFileSync(join(aside, name), "utf8");
  if (rule[0] === ".js.map") {
    const map = JSON.parse(text);
    map.file = map.file.replace(/\.js$/, ".cjs");
    // Compiled from the copy, mapped to the sources themselves.
    map.sources = map.sources.map((source) => source.replace(/^\.\.\/dist-cjs-src\//, "../src/"));
    text = JSON.stringify(map);
  } else {
    text = text.replace(relative, "$1$2.cjs$1").replace(/sourceMappingURL=(\S+)\.js\.map/, "sourceMappingURL=$1.cjs.map");
  }
  writeFileSync(join(dist, target), text);
}
rmSync(aside, { recursive: true, force: true });
rmSync(cjsSources, { recursive: true, force: true });
