import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { cpSync, mkdirSync, mkdtempSync, readFileSync, symlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { promisify } from "node:util";

import { packageRoot, repoRoot, world } from "./support/binaries.js";
import { sim } from "./support/sim.js";

const run = promisify(execFile);
const npm = process.platform === "win32" ? "npm.cmd" : "npm";
const bin = (name: string): string => join(packageRoot, "node_modules", ".bin", name);
const tsc = join(packageRoot, "node_modules", "typescript", "bin", "tsc");

/**
 * The package as a user installs it: packed from a copy of the sources
 * without dist/ (so prepack has to build it), then installed from the
 * tarball into an empty project, without the registry.
 */
async function packAndInstall(): Promise<{ tarball: string; project: string; files: string[] }> {
  const root = mkdtempSync(join(tmpdir(), "kestrove-pack-"));
  const source = join(root, "source");
  mkdirSync(source);
  for (const name of ["package.json", "package-lock.json", "tsconfig.json", "tsconfig.cjs.json", "README.md", "LICENSE", "src", "scripts", "examples"]) {
    cpSync(join(packageRoot, name), join(source, name), { recursive: true });
  }
  symlinkSync(join(packageRoot, "node_modules"), join(source, "node_modules"), "dir");
  const { stdout } = await run(npm, ["pack", "--json", "--pack-destination", root], { cwd: source });
  const [packed] = JSON.parse(stdout) as { filename: string; files: { path: string }[] }[];
  const tarball = join(root, packed!.filename);
  const project = join(root, "project");
  mkdirSync(project);
  writeFileSync(join(project, "package.json"), JSON.stringify({ name: "consumer", private: true }));
  await run(npm, ["install", "--offline", "--no-audit", "--no-fund", tarball], { cwd: project });
  return { tarball, project, files: packed!.files.map((f) => f.path).sort() };
}

// Each consumer starts the sim driver, reads the version, and shows that a
// failure is the package's own KestroveError, then prints one JSON line.
const body = (imports: string): string => `${imports}
async function main(): Promise<void> {
  await using helper = Kestrove.spawn({ path: process.env.SIM, args: [process.env.WORLD!] });
  const version: VersionPayload = await helper.version();
  const macos: string = version.macos;
  const error = await helper.request(["windows", ""]).catch((e: unknown) => e);
  console.log(JSON.stringify({ helper: version.helper, macos, typed: error instanceof KestroveError && error.code }));
}
// Never called: it only has to compile, which it does only if the types are real.
export function typesAreReal(helper: Kestrove): void {
  // @ts-expect-error there is no such method
  helper.noSuchMethod();
}
void main();
`;
const esm = body('import { Kestrove, KestroveError, type VersionPayload } from "kestrove";');
const cjsImport = body('import { Kestrove, KestroveError, type VersionPayload } from "kestrove";');
const js = (loader: string): string => `${loader}
(async () => {
  const helper = Kestrove.spawn({ path: process.env.SIM, args: [process.env.WORLD] });
  const version = await helper.version();
  const error = await helper.request(["windows", ""]).catch((e) => e);
  await helper.close();
  console.log(JSON.stringify({ helper: version.helper, macos: version.macos, typed: error instanceof KestroveError && error.code }));
})();
`;

interface Consumer {
  name: string;
  files: Record<string, string>;
  /** Compiler options for TypeScript consumers; none for plain JavaScript. */
  compilerOptions?: Record<string, unknown>;
  run: string;
}

const consumers: Consumer[] = [
  { name: "CommonJS require", files: { "main.cjs": js('const { Kestrove, KestroveError } = require("kestrove");') }, run: "main.cjs" },
  { name: "ES module import", files: { "main.mjs": js('import { Kestrove, KestroveError } from "kestrove";') }, run: "main.mjs" },
  {
    name: "TypeScript, module commonjs",
    files: { "main.ts": cjsImport },
    compilerOptions: { module: "commonjs", moduleResolution: "node10" },
    run: "out/main.js",
  },
  {
    name: "TypeScript, module node16, a .cts file",
    files: { "main.cts": cjsImport },
    compilerOptions: { module: "node16", moduleResolution: "node16" },
    run: "out/main.cjs",
  },
  {
    name: "TypeScript, module node16, a .mts file",
    files: { "main.mts": esm },
    compilerOptions: { module: "node16", moduleResolution: "node16" },
    run: "out/main.mjs",
  },
  {
    name: "TypeScript, moduleResolution bundler",
    files: { "main.mts": esm },
    compilerOptions: { module: "esnext", moduleResolution: "bundler" },
    run: "out/main.mjs",
  },
];

test("the packed package", async (t) => {
  const { tarball, project, files } = await packAndInstall();

  await t.test("holds the builds, the types for each, the licence and nothing of the tests", () => {
    for (const file of ["LICENSE", "README.md", "package.json", "dist/index.js", "dist/index.d.ts", "dist/index.cjs", "dist/index.d.cts"]) {
      assert.ok(files.includes(file), `${file} is missing from ${files.join(", ")}`);
    }
    assert.deepEqual(files.filter((f) => /^(test|dist-test|scripts|node_modules)\//.test(f)), []);
    // The copy kept beside the package is the project's licence.
    assert.equal(readFileSync(join(packageRoot, "LICENSE"), "utf8"), readFileSync(join(repoRoot, "LICENSE"), "utf8"));
  });

  await t.test("@arethetypeswrong/cli finds no problem", async () => {
    await run(bin("attw"), [tarball, "--format", "ascii"]);
  });

  await t.test("publint finds nothing, warnings included", async () => {
    const { stdout } = await run(bin("publint"), ["run", tarball, "--strict"]);
    assert.match(stdout, /All good/);
  });

  for (const c of consumers) {
    await t.test(`used from ${c.name}`, async () => {
      const dir = mkdtempSync(join(project, "consumer-"));
      for (const [name, text] of Object.entries(c.files)) writeFileSync(join(dir, name), text);
      if (c.compilerOptions) {
        const tsconfig = {
          compilerOptions: {
            target: "ES2022",
            lib: ["ES2022", "ESNext.Disposable"],
            strict: true,
            outDir: "out",
            typeRoots: [join(packageRoot, "node_modules", "@types")],
            types: ["node"],
            ...c.compilerOptions,
          },
          include: Object.keys(c.files),
        };
        writeFileSync(join(dir, "tsconfig.json"), JSON.stringify(tsconfig));
        await run(process.execPath, [tsc, "-p", dir]).catch((error: { stdout: string }) => {
          assert.fail(`tsc failed:\n${error.stdout}`);
        });
      }
      const { stdout } = await run(process.execPath, [join(dir, c.run)], {
        cwd: dir,
        env: { ...process.env, SIM: sim(), WORLD: world("viewer.json") },
      });
      assert.deepEqual(JSON.parse(stdout), { helper: "kestrove", macos: "14.5.0", typed: "invalid_argument" });
    });
  }
});
