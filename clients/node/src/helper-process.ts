import { spawn, type ChildProcess } from "node:child_process";

import { KestroveError, type ExitInfo } from "./errors.js";
import { findHelper } from "./find_helper.js";
import { LineSplitter } from "./line-splitter.js";
import { traceLine, type Trace } from "./trace.js";

export interface LaunchOptions {
  /** The executable; default `$KESTROVE_PATH`, else the installed platform package. */
  path?: string | undefined;
  /** Also look for `kestrove` on `PATH` when there is neither; default false. */
  searchPath?: boolean | undefined;
  /** Arguments before any command, for wrappers such as the sim driver (`[worldFile]`). */
  args?: readonly string[] | undefined;
  /** Added to this process's environment. */
  env?: NodeJS.ProcessEnv | undefined;
  /** Receives every line sent to the helper, every line it writes, and its standard error by line. */
  trace?: Trace | undefined;
}

export interface Ended extends ExitInfo {
  /** Why the executable could not be started, when it could not. */
  spawnError?: NodeJS.ErrnoException | KestroveError | undefined;
  /** The end of what the helper wrote to standard error. */
  stderr: string;
}

/** A pipe or process handle that can stop keeping the event loop alive. */
interface Referable {
  ref?(): unknown;
  unref?(): unknown;
}

export interface HelperProcessHandlers {
  onStdout(chunk: Buffer): void;
  onStdoutEnd(): void;
  /** Once, after standard output has ended. */
  onEnded(ended: Ended): void;
}

const stderrKeep = 4096;

/** The helper as a child process: its pipes, its end, and nothing about the protocol. */
export class HelperProcess {
  private readonly child: ChildProcess | undefined;
  private stderrTail = "";
  private spawnError: NodeJS.ErrnoException | KestroveError | undefined;
  private ended = false;
  private corked = false;
  private readonly trace: Trace | undefined;

  constructor(options: LaunchOptions, extraArgs: readonly string[], private readonly handlers: HelperProcessHandlers) {
    this.trace = options.trace;
    const args = [...(options.args ?? []), ...extraArgs];
    try {
      // Inside the try: choosing the executable may fail too, and is then
      // reported as a start that failed.
      const { path } = findHelper({ path: options.path, searchPath: options.searchPath });
      this.child = spawn(path, args, {
        env: options.env === undefined ? process.env : { ...process.env, ...options.env },
        stdio: ["pipe", "pipe", "pipe"],
      });
    } catch (error) {
      // Arguments that cannot reach exec (a NUL in the path) throw here
      // rather than emitting; report them the same way, later.
      this.child = undefined;
      this.spawnError = error instanceof KestroveError ? error : (error as NodeJS.ErrnoException);
      setImmediate(() => this.finish({ code: null, signal: null }));
      return;
    }
    const child = this.child;
    child.on("error", (error: NodeJS.ErrnoException) => {
      if (child.pid === undefined) this.spawnError = error;
    });
    // A helper that is gone makes writes fail; its end is reported by "close".
    child.stdin?.on("error", () => {});
    child.stdout?.on("data", (chunk: Buffer) => this.handlers.onStdout(chunk));
    child.stdout?.on("end", () => this.handlers.onStdoutEnd());
    const trace = this.trace;
    const stderrLines = trace ? new LineSplitter((line) => traceLine(trace, "stderr", line, child.pid)) : undefined;
    child.stderr?.on("data", (chunk: Buffer) => {
      this.stderrTail = (this.stderrTail + chunk.toString("utf8")).slice(-stderrKeep);
      stderrLines?.push(chunk);
    });
    child.stderr?.on("end", () => stderrLines?.end());
    child.on("close", (code: number | null, signal: NodeJS.Signals | null) =>
      this.finish({ code: this.spawnError ? null : code, signal }),
    );
  }

  get pid(): number | undefined {
    return this.child?.pid;
  }

  /**
   * Writes one line. The lines of one turn of the event loop leave in one
   * write, so thousands of requests sent together cost a few system calls.
   */
  writeLine(line: string): void {
    const stdin = this.child?.stdin;
    if (!stdin || !stdin.writable) return;
    if (this.trace) traceLine(this.trace, "send", line, this.child?.pid);
    if (!this.corked) {
      this.corked = true;
      stdin.cork();
      process.nextTick(() => {
        this.corked = false;
        stdin.uncork();
      });
    }
    stdin.write(`${line}\n`);
  }

  /** Closes standard input: the helper's loop ends once it has answered every line. */
  endInput(): void {
    this.child?.stdin?.end();
  }

  kill(signal: NodeJS.Signals = "SIGKILL"): void {
    if (this.child && !this.ended) this.child.kill(signal);
  }

  /** Whether the process and its pipes keep Node's event loop alive. */
  hold(held: boolean): void {
    const child = this.child;
    if (!child) return;
    for (const handle of [child, child.stdin, child.stdout, child.stderr] as (Referable | null)[]) {
      if (held) handle?.ref?.();
      else handle?.unref?.();
    }
  }

  private finish(exit: ExitInfo): void {
    if (this.ended) return;
    this.ended = true;
    this.handlers.onEnded({ ...exit, spawnError: this.spawnError, stderr: this.stderrTail });
  }
}

/** What a request learns when the helper is gone or never started. */
export function endedError(ended: Ended, words: readonly string[]): KestroveError {
  if (ended.spawnError instanceof KestroveError) {
    const { code, detail, cause } = ended.spawnError;
    return new KestroveError(code, { detail, words, cause });
  }
  if (ended.spawnError) {
    return new KestroveError("spawn_failed", { detail: ended.spawnError.message, words, cause: ended.spawnError });
  }
  const how = ended.signal ? `ended by ${ended.signal}` : `exited with code ${ended.code}`;
  const stderr = ended.stderr.trim();
  return new KestroveError("helper_exited", {
    detail: stderr ? `${how}; it wrote: ${stderr}` : how,
    words,
    exit: { code: ended.code, signal: ended.signal },
  });
}
