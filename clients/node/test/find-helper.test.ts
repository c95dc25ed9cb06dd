import assert from "node:assert/strict";
import { chmodSync, mkdirSync, mkdtempSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { test } from "node:test";

import { Kestrove, KestroveError, findHelper, helperPackage, unpackedAsarPath, type FindHelperOptions } from "kestrove";

test("unpackedAsarPath: a path inside app.asar becomes the same path in app.asar.unpacked", () => {
  const cases: [string, string][] = [
    ["/opt/App/resources/app.asar/node_modules/@kestrove/linux-x64-gnu/bin/kestrove",
      "/opt/App/resources/app.asar.unpacked/node_modules/@kestrove/linux-x64-gnu/bin/kestrove"],
    ["C:\\App\\resources\\app.asar\\node_modules\\@kestrove\\x\\bin\\kestrove",
      "C:\\App\\resources\\app.asar.unpacked\\node_modules\\@kestrove\\x\\bin\\kestrove"],
    ["/App/Contents/Resources/app.asar", "/App/Contents/Resources/app.asar.unpacked"],
    // Already unpacked, or no archive at all: unchanged.
    ["/opt/App/resources/app.asar.unpacked/node_modules/x/bin/kestrove",
      "/opt/App/resources/app.asar.unpacked/node_modules/x/bin/kestrove"],
    ["C:\\App\\resources\\app.asar.unpacked\\x", "C:\\App\\resources\\app.asar.unpacked\\x"],
    ["/home/me/project/node_modules/@kestrove/linux-x64-gnu/bin/kestrove",
      "/home/me/project/node_modules/@kestrove/linux-x64-gnu/bin/kestrove"],
    // Names that only look alike.
    ["/srv/my-app.asar/x", "/srv/my-app.asar/x"],
    ["/srv/app.asarx/x", "/srv/app.asarx/x"],
  ];
  for (const [path, expected] of cases) assert.equal(unpackedAsarPath(path), expected, path);
});

test("helperPackage: exactly one package per published system, none elsewhere", () => {
  const cases: [NodeJS.Platform, string, "glibc" | "musl" | undefined, string | undefined][] = [
    ["darwin", "arm64", undefined, "@kestrove/darwin-universal"],
    ["darwin", "x64", undefined, "@kestrove/darwin-universal"],
    ["linux", "x64", "glibc", "@kestrove/linux-x64-gnu"],
    ["linux", "arm64", "glibc", "@kestrove/linux-arm64-gnu"],
    ["linux", "x64", "musl", undefined],
    ["linux", "ia32", "glibc", undefined],
    ["win32", "x64", undefined, "@kestrove/win32-x64"],
    ["win32", "arm64", undefined, undefined],
    ["win32", "ia32", undefined, undefined],
  ];
  for (const [platform, arch, libc, expected] of cases) {
    assert.equal(helperPackage(platform, arch, libc), expected, `${platform} ${arch} ${libc}`);
  }
});

/** A project folder with node_modules; `layout` maps package names to whether their binary is there. */
function project(layout: Record<string, { binary: boolean; under?: string; file?: string }>): string {
  const root = mkdtempSync(join(tmpdir(), "kestrove-find-"));
  for (const [name, { binary, under = "", file = "kestrove" }] of Object.entries(layout)) {
    const folder = join(root, under, "node_modules", name);
    mkdirSync(folder, { recursive: true });
    writeFileSync(join(folder, "package.json"), JSON.stringify({ name, version: "1.0.0" }));
    if (binary) {
      const unpacked = join(root, under.replace(/app\.asar$/, "app.asar.unpacked"), "node_modules", name, "bin", file);
      mkdirSync(dirname(unpacked), { recursive: true });
      writeFileSync(unpacked, "#!/bin/sh\n");
      chmodSync(unpacked, 0o755);
    }
  }
  return root;
}

function codeOf(run: () => unknown): { code: string; message: string } {
  try {
    run();
  } catch (error) {
    assert.ok(error instanceof KestroveError, String(error));
    return { code: error.code, message: error.message };
  }
  assert.fail("no error");
}

test("findHelper: path, then $KESTROVE_PATH, then the platform package, then PATH only when asked", () => {
  const root = project({
    "@kestrove/linux-x64-gnu": { binary: true },
    "@kestrove/darwin-universal": { binary: true },
    "@kestrove/win32-x64": { binary: true, file: "kestrove.exe" },
  });
  const packaged = join(root, "node_modules", "@kestrove", "linux-x64-gnu", "bin", "kestrove");
  const onPath = join(root, "on-path");
  mkdirSync(onPath);
  writeFileSync(join(onPath, "kestrove"), "#!/bin/sh\n");
  writeFileSync(join(onPath, "kestrove.exe"), "MZ");
  const client = join(root, "node_modules", "kestrove", "dist");
  const linux: FindHelperOptions = { platform: "linux", arch: "x64", libc: "glibc", from: client };
  const cases: { name: string; options: FindHelperOptions; path: string; source: string }[] = [
    { name: "the option wins", options: { ...linux, path: "/opt/k", env: { KESTROVE_PATH: "/env/k" } }, path: "/opt/k", source: "path" },
    { name: "then the variable", options: { ...linux, env: { KESTROVE_PATH: "/env/k" } }, path: "/env/k", source: "KESTROVE_PATH" },
    { name: "an empty variable counts as unset", options: { ...linux, env: { KESTROVE_PATH: "" } }, path: packaged, source: "package" },
    { name: "then the package", options: { ...linux, env: { PATH: onPath } }, path: packaged, source: "package" },
    {
      name: "a Mac of either architecture gets the universal package",
      options: { platform: "darwin", arch: "x64", from: client, env: {} },
      path: join(root, "node_modules", "@kestrove", "darwin-universal", "bin", "kestrove"),
      source: "package",
    },
    {
      name: "Windows x64 gets its package's kestrove.exe",
      options: { platform: "win32", arch: "x64", from: client, env: {} },
      path: join(root, "node_modules", "@kestrove", "win32-x64", "bin", "kestrove.exe"),
      source: "package",
    },
    {
      name: "Windows on PATH looks for kestrove.exe, under either spelling of the variable",
      options: { platform: "win32", arch: "arm64", from: client, env: { Path: onPath }, searchPath: true },
      path: join(onPath, "kestrove.exe"),
      source: "PATH",
    },
    {
      name: "PATH when asked and nothing else is there",
      options: { ...linux, arch: "arm64", env: { PATH: `/nonexistent:${onPath}` }, searchPath: true },
      path: join(onPath, "kestrove"),
      source: "PATH",
    },
  ];
  for (const c of cases) {
    const found = findHelper(c.options);
    assert.deepEqual([found.path, found.source], [c.path, c.source], c.name);
  }
  // Without being asked, PATH is not searched even when it holds a kestrove.
  const missing = codeOf(() => findHelper({ ...linux, arch: "arm64", env: { PATH: onPath } }));
  assert.equal(missing.code, "helper_missing");
});

test("findHelper inside an Electron app.asar: the binary is taken from app.asar.unpacked", () => {
  const under = join("resources", "app.asar");
  const root = project({ "@kestrove/linux-x64-gnu": { binary: true, under } });
  const from = join(root, under, "node_modules", "kestrove", "dist");
  const found = findHelper({ platform: "linux", arch: "x64", libc: "glibc", from, env: {} });
  assert.equal(found.path, join(root, "resources", "app.asar.unpacked", "node_modules", "@kestrove", "linux-x64-gnu", "bin", "kestrove"));

  const windows = project({ "@kestrove/win32-x64": { binary: true, under, file: "kestrove.exe" } });
  const onWindows = findHelper({ platform: "win32", arch: "x64", from: join(windows, under, "node_modules", "kestrove", "dist"), env: {} });
  assert.equal(onWindows.path, join(windows, "resources", "app.asar.unpacked", "node_modules", "@kestrove", "win32-x64", "bin", "kestrove.exe"));

  // Packed but never unpacked: the message says what to unpack.
  const packedOnly = project({ "@kestrove/linux-x64-gnu": { binary: false, under } });
  const error = codeOf(() =>
    findHelper({ platform: "linux", arch: "x64", libc: "glibc", from: join(packedOnly, under, "node_modules", "kestrove"), env: {} }),
  );
  assert.equal(error.code, "helper_missing");
  assert.match(error.message, /app\.asar\.unpacked.*asarUnpack/);
});

test("helper_missing names the package this system needs and the usual causes", () => {
  const empty = project({});
  const cases: { system: FindHelperOptions; names: RegExp }[] = [
    { system: { platform: "linux", arch: "x64", libc: "glibc" }, names: /@kestrove\/linux-x64-gnu, which is not installed/ },
    { system: { platform: "linux", arch: "arm64", libc: "glibc" }, names: /@kestrove\/linux-arm64-gnu, which is not installed/ },
    { system: { platform: "darwin", arch: "arm64" }, names: /@kestrove\/darwin-universal, which is not installed/ },
    { system: { platform: "linux", arch: "x64", libc: "musl" }, names: /no kestrove helper is published for linux x64 musl/ },
    { system: { platform: "win32", arch: "x64" }, names: /@kestrove\/win32-x64, which is not installed/ },
    { system: { platform: "win32", arch: "arm64" }, names: /no kestrove helper is published for win32 arm64/ },
  ];
  for (const c of cases) {
    const error = codeOf(() => findHelper({ ...c.system, from: empty, env: {} }));
    assert.equal(error.code, "helper_missing");
    assert.match(error.message, c.names);
    if (/not installed/.test(error.message)) {
      for (const cause of ["--omit=optional", "package-lock.json made on another system", "node_modules copied"]) {
        assert.ok(error.message.includes(cause), `${error.message} lacks ${cause}`);
      }
    }
    assert.match(error.message, /KESTROVE_PATH/);
  }
});

test("spawn and run with no helper to be found reject with helper_missing", async (t) => {
  // This checkout installs no platform package; without the variable and
  // the option there is nothing to run.
  const saved = process.env.KESTROVE_PATH;
  delete process.env.KESTROVE_PATH;
  t.after(() => {
    if (saved !== undefined) process.env.KESTROVE_PATH = saved;
  });
  const helper = Kestrove.spawn();
  const spawned = await helper.version().catch((e: unknown) => e);
  assert.ok(spawned instanceof KestroveError);
  assert.equal(spawned.code, "helper_missing");
  assert.deepEqual(spawned.words, ["version"]);
  assert.ok(spawned.message.includes(helperPackage(process.platform, process.arch, "glibc") ?? "no kestrove helper"));
  await helper.close();
  const ran = await Kestrove.run(["version"]).catch((e: unknown) => e);
  assert.equal((ran as KestroveError).code, "helper_missing");
});
