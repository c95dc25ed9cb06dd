import { existsSync } from "node:fs";
import { join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

// Compiled to dist-test/support/, two levels below the package.
export const packageRoot = fileURLToPath(new URL("../../", import.meta.url));
export const repoRoot = resolve(packageRoot, "../..");

const buildDir = resolve(process.env.KESTROVE_BUILD_DIR ?? join(repoRoot, "build"));

/** The sim driver: the helper on a simulated desktop read from a world file. */
export const simPath = resolve(process.env.KESTROVE_SIM ?? join(buildDir, "tests/sim_driver/kestrove-sim"));
/** The helper built with the X11 backend. */
export const x11Path = resolve(process.env.KESTROVE_X11 ?? join(buildDir, "kestrove"));
/** Optional: tells when the throwaway desktop's window manager handles requests. */
export const wmReadyPath = resolve(process.env.KESTROVE_WM_READY ?? join(buildDir, "tests/x11/kestrove_x11_wm_ready"));

export function world(name: string): string {
  return join(packageRoot, "test", "worlds", name);
}

export function requireBinary(path: string, variable: string): string {
  if (!existsSync(path)) {
    throw new Error(
      `${path} does not exist: build the helper (cmake -S . -B build && cmake --build build) ` +
        `or point ${variable} or KESTROVE_BUILD_DIR at a build`,
    );
  }
  return path;
}
