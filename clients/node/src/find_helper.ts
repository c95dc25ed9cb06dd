import { existsSync, statSync } from "node:fs";
import { createRequire } from "node:module";
import { delimiter, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

import { KestroveError } from "./errors.js";

/** What decides which helper runs; every field has a default from this process. */
export interface FindHelperOptions {
  /** The executable, used as given. */
  path?: string | undefined;
  /** Also look for `kestrove` on `PATH` when nothing else is found; default false. */
  searchPath?: boolean | undefined;
  /** Default `process.env`: `KESTROVE_PATH`, `PATH`. */
  env?: NodeJS.ProcessEnv | undefined;
  /** Default `process.platform`. */
  platform?: NodeJS.Platform | undefined;
  /** Default `process.arch`. */
  arch?: string | undefined;
  /** Linux only: the C library; default the one this Node.js runs on. */
  libc?: "glibc" | "musl" | undefined;
  /** Where the platform package is resolved from; default this client's own folder. */
  from?: string | undefined;
}

/** The helper to run, and where it was found. */
export interface FoundHelper {
  path: string;
  source: "path" | "KESTROVE_PATH" | "package" | "PATH";
  /** Set with `package`: its name. */
  packageName?: string;
}

/** The platform package npm installs for a system, or undefined when none is published for it. */
export function helperPackage(platform: NodeJS.Platform, arch: string, libc: "glibc" | "musl" | undefined): string | undefined {
  // One universal binary serves both Mac architectures.
  if (platform === "darwin" && (arch === "arm64" || arch === "x64")) return "@kestrove/darwin-universal";
  if (platform === "linux" && libc === "glibc" && (arch === "x64" || arch === "arm64")) return `@kestrove/linux-${arch}-gnu`;
  if (platform === "win32" && arch === "x64") return "@kestrove/win32-x64";
  return undefined;
}

/** The helper's file name: Windows finds and starts programs by their `.exe`. */
export function helperFileName(platform: NodeJS.Platform): string {
  return platform === "win32" ? "kestrove.exe" : "kestrove";
}

/**
 * A path inside an Electron `app.asar` archive, as the path of the same file
 * in `app.asar.unpacked`: what the archive holds can be read by the app but
 * not executed, so packagers put executables beside it.
 */
export function unpackedAsarPath(path: string): string {
  return path.replace(/([\\/])app\.asar(?=[\\/]|$)/, "$1app.asar.unpacked");
}

/**
 * Which helper to run: the `path` option, then `$KESTROVE_PATH`, then the
 * platform package installed with this client, then (only when asked)
 * `kestrove` on `PATH`. Throws `helper_missing` when there is none.
 */
export function findHelper(options: FindHelperOptions = {}): FoundHelper {
  if (options.path !== undefined) return { path: options.path, source: "path" };
  const env = options.env ?? process.env;
  if (env.KESTROVE_PATH) return { path: env.KESTROVE_PATH, source: "KESTROVE_PATH" };
  const platform = options.platform ?? process.platform;
  const arch = options.arch ?? process.arch;
  const libc = platform === "linux" ? (options.libc ?? runningLibc()) : undefined;
  const name = helperPackage(platform, arch, libc);
  const file = helperFileName(platform);
  const packaged = name === undefined ? undefined : packagedHelper(name, file, options.from ?? clientFolder());
  if (packaged !== undefined && packaged.executable) return { path: packaged.path, source: "package", packageName: name! };
  if (options.searchPath) {
    const onPath = searchPath(env.PATH ?? env.Path ?? "", file);
    if (onPath !== undefined) return { path: onPath, source: "PATH" };
  }
  throw new KestroveError("helper_missing", { detail: missingDetail(platform, arch, libc, name, packaged?.path) });
}

function packagedHelper(name: string, file: string, from: string): { path: string; executable: boolean } | undefined {
  let manifest: string;
  try {
    manifest = createRequire(join(from, "noop.js")).resolve(`${name}/package.json`);
  } catch {
    return undefined;
  }
  const path = unpackedAsarPath(join(dirname(manifest), "bin", file));
  return { path, executable: isFile(path) };
}

function searchPath(pathVariable: string, file: string): string | undefined {
  for (const dir of pathVariable.split(delimiter)) {
    if (dir === "") continue;
    const candidate = join(dir, file);
    if (isFile(candidate)) return candidate;
  }
  return undefined;
}

function isFile(path: string): boolean {
  try {
    return existsSync(path) && statSync(path).isFile();
  } catch {
    return false;
  }
}

function missingDetail(
  platform: string,
  arch: string,
  libc: string | undefined,
  name: string | undefined,
  expectedAt: string | undefined,
): string {
  const system = [platform, arch, libc].filter(Boolean).join(" ");
  const fallback = "or pass the `path` option or set KESTROVE_PATH to a kestrove executable";
  if (name === undefined) return `no kestrove helper is published for ${system}: build it from source, ${fallback}`;
  if (expectedAt !== undefined) {
    return (
      `${name} is installed but has no executable at ${expectedAt}` +
      " (an Electron app must unpack it from app.asar, e.g. asarUnpack \"**/node_modules/@kestrove/**\"); " +
      fallback
    );
  }
  return (
    `the helper for ${system} comes in the package ${name}, which is not installed. ` +
    "Usual causes: npm install --omit=optional (or --no-optional), a package-lock.json made on another system " +
    "without it, node_modules copied from another system. Run npm install on this system, " +
    fallback
  );
}

let libcSeen: "glibc" | "musl" | undefined;

/** The C library this Node.js runs on: its report names a glibc version only on glibc. */
function runningLibc(): "glibc" | "musl" {
  if (libcSeen === undefined) {
    const header = (process.report?.getReport() as { header?: { glibcVersionRuntime?: string } } | undefined)?.header;
    libcSeen = header?.glibcVersionRuntime ? "glibc" : "musl";
  }
  return libcSeen;
}

function clientFolder(): string {
  return dirname(fileURLToPath(import.meta.url));
}
