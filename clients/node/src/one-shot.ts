import { KestroveError, abortedError } from "./errors.js";
import { HelperProcess, endedError, type LaunchOptions } from "./helper-process.js";
import { LineSplitter } from "./line-splitter.js";
import { readOutputLine } from "./output-line.js";
import { traceLine } from "./trace.js";
import type { Payload } from "./payloads.js";
import { checkWords } from "./words.js";

export interface RunOptions extends LaunchOptions {
  /** How long the helper may take to answer and exit; default 10000. */
  requestTimeoutMs?: number | undefined;
  /** Gives the command up: an aborted signal starts nothing; one aborted later kills the helper. */
  signal?: AbortSignal | undefined;
}

/** One command in one-shot mode: the helper started with the words, one reply, the exit. */
export function runOnce(words: readonly string[], options: RunOptions = {}): Promise<Payload> {
  return new Promise<Payload>((resolve, reject) => {
    const signal = options.signal;
    if (signal?.aborted) throw abortedError(words, signal.reason);
    checkWords(words);
    const timeoutMs = options.requestTimeoutMs ?? 10000;
    const lines: string[] = [];
    const trace = options.trace;
    const splitter = new LineSplitter((line) => {
      if (trace) traceLine(trace, "receive", line, helper.pid);
      lines.push(line);
    });
    let timedOut = false;
    const onAbort = (): void => {
      helper.kill("SIGKILL");
      reject(abortedError(words, signal?.reason));
    };
    const helper = new HelperProcess(options, words, {
      onStdout: (chunk) => splitter.push(chunk),
      onStdoutEnd: () => splitter.end(),
      onEnded: (ended) => {
        clearTimeout(timer);
        signal?.removeEventListener("abort", onAbort);
        splitter.end();
        if (timedOut) {
          reject(new KestroveError("timeout", { detail: `no reply within ${timeoutMs} ms`, words }));
          return;
        }
        const first = lines[0];
        if (ended.spawnError || first === undefined) {
          reject(endedError(ended, words));
          return;
        }
        const out = readOutputLine(first);
        if (out.kind !== "reply") {
          const detail = out.kind === "bad" ? out.reason : "an event instead of a reply";
          reject(new KestroveError("bad_line", { detail, line: first, words }));
          return;
        }
        const { ok, ...payload } = out.reply;
        if (ok === true) {
          resolve(payload);
        } else {
          const code = typeof payload.error === "string" ? payload.error : "internal";
          const detail = typeof payload.detail === "string" ? payload.detail : undefined;
          reject(new KestroveError(code as KestroveError["code"], { detail, words }));
        }
      },
    });
    helper.endInput();
    // setTimeout takes Infinity for 1 ms: no limit means no timer.
    const timer = Number.isFinite(timeoutMs)
      ? setTimeout(() => {
          timedOut = true;
          helper.kill("SIGKILL");
        }, timeoutMs)
      : undefined;
    signal?.addEventListener("abort", onAbort, { once: true });
  });
}
