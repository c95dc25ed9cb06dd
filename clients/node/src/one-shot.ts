import { KestroveError } from "./errors.js";
import { HelperProcess, endedError, type LaunchOptions } from "./helper-process.js";
import { LineSplitter } from "./line-splitter.js";
import { readOutputLine } from "./output-line.js";
import type { Payload } from "./payloads.js";
import { checkWords } from "./words.js";

export interface RunOptions extends LaunchOptions {
  /** How long the helper may take to answer and exit; default 10000. */
  requestTimeoutMs?: number | undefined;
}

/** One command in one-shot mode: the helper started with the words, one reply, the exit. */
export function runOnce(words: readonly string[], options: RunOptions = {}): Promise<Payload> {
  return new Promise<Payload>((resolve, reject) => {
    checkWords(words);
    const timeoutMs = options.requestTimeoutMs ?? 10000;
    const lines: string[] = [];
    const splitter = new LineSplitter((line) => lines.push(line));
    let timedOut = false;
    const helper = new HelperProcess(options, words, {
      onStdout: (chunk) => splitter.push(chunk),
      onStdoutEnd: () => splitter.end(),
      onEnded: (ended) => {
        clearTimeout(timer);
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
    const timer = setTimeout(() => {
      timedOut = true;
      helper.kill("SIGKILL");
    }, timeoutMs);
  });
}
