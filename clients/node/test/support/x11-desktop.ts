import { execFile, spawn, type ChildProcess } from "node:child_process";
import { existsSync } from "node:fs";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { promisify } from "node:util";

import type { Rect } from "kestrove";

import { repoRoot, wmReadyPath } from "./binaries.js";
import { sleep } from "./wait.js";

const run = promisify(execFile);

export function xvfbInstalled(): boolean {
  return (process.env.PATH ?? "").split(":").some((dir) => dir !== "" && existsSync(join(dir, "Xvfb")));
}

/**
 * The project's throwaway desktop (tools/x11_desktop.py), kept up by a `cat`
 * that reads our pipe: when the tests end, or die, the pipe closes and the
 * tool stops everything it started.
 */
export class Desktop {
  private readonly clients: ChildProcess[] = [];

  private constructor(
    private readonly tool: ChildProcess,
    readonly display: string,
  ) {}

  static async start(): Promise<Desktop> {
    const args = [join(repoRoot, "tools", "x11_desktop.py"), "run"];
    if (existsSync(wmReadyPath)) args.push("--wm-ready", wmReadyPath);
    args.push("--", "sh", "-c", 'echo "$DISPLAY"; exec cat >/dev/null');
    const tool = spawn("python3", args, { stdio: ["pipe", "pipe", "inherit"] });
    const lines = createInterface({ input: tool.stdout! });
    const display = await new Promise<string>((resolve, reject) => {
      lines.once("line", resolve);
      tool.once("exit", (code) => reject(new Error(`x11_desktop.py ended (${code}) before the desktop was up`)));
    });
    return new Desktop(tool, display.trim());
  }

  get env(): NodeJS.ProcessEnv {
    return { DISPLAY: this.display };
  }

  async stop(): Promise<void> {
    for (const client of this.clients) if (client.exitCode === null) client.kill("SIGKILL");
    if (this.tool.exitCode !== null) return;
    const ended = new Promise((resolve) => this.tool.once("exit", resolve));
    this.tool.stdin!.end();
    await ended;
  }

  async x(command: string, ...args: string[]): Promise<string> {
    const { stdout } = await run(command, args, { env: { ...process.env, DISPLAY: this.display } });
    return stdout;
  }

  /** Starts an X client and waits until its window is managed and framed. */
  async spawnClient(argv: string[], wmClass: string): Promise<{ process: ChildProcess; window: number }> {
    const before = new Set(await this.clientList());
    const [command, ...args] = argv as [string, ...string[]];
    const client = spawn(command, args, { env: { ...process.env, DISPLAY: this.display }, stdio: "ignore" });
    this.clients.push(client);
    const deadline = Date.now() + 10_000;
    while (Date.now() < deadline) {
      for (const window of await this.clientList()) {
        if (before.has(window)) continue;
        const props = await this.x("xprop", "-id", String(window), "-notype", "WM_CLASS", "WM_STATE", "_NET_FRAME_EXTENTS");
        if (props.includes(`"${wmClass}"`) && props.includes("window state: Normal") && props.includes("_NET_FRAME_EXTENTS =")) {
          return { process: client, window };
        }
      }
      await sleep(20);
    }
    throw new Error(`${command} did not map a window in time`);
  }

  async clientList(): Promise<number[]> {
    const out = await this.x("xprop", "-root", "-notype", "_NET_CLIENT_LIST").catch(() => "");
    return [...out.matchAll(/0x[0-9a-f]+/g)].map((m) => Number.parseInt(m[0], 16));
  }

  /** The window's content rectangle in root pixels, as xwininfo sees it. */
  async geometry(window: number): Promise<Rect> {
    const out = await this.x("xwininfo", "-id", String(window));
    const value = (key: string): number => Number(new RegExp(`${key}:\\s+(-?\\d+)`).exec(out)?.[1]);
    return {
      x: value("Absolute upper-left X"),
      y: value("Absolute upper-left Y"),
      width: value("Width"),
      height: value("Height"),
    };
  }

  /** The frame as the helper defines it: the content grown upwards by the title bar. */
  async expectedFrame(window: number): Promise<Rect> {
    const content = await this.geometry(window);
    const extents = /_NET_FRAME_EXTENTS = (\d+), (\d+), (\d+), (\d+)/.exec(
      await this.x("xprop", "-id", String(window), "-notype", "_NET_FRAME_EXTENTS"),
    );
    const top = Number(extents?.[3]);
    return { x: content.x, y: content.y - top, width: content.width, height: content.height + top };
  }
}
