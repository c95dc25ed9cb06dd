/** Codes the helper itself answers with, in a reply's `error`. */
export type HelperErrorCode =
  | "bad_args"
  | "loop_only"
  | "unknown_command"
  | "line_too_long"
  | "bad_id"
  | "ax_denied"
  | "not_running"
  | "no_stream_window"
  | "place_failed"
  | "observe_failed"
  | "internal";

/** Codes the client adds for what goes wrong on its side of the pipe. */
export type ClientErrorCode =
  | "invalid_argument"
  | "timeout"
  | "aborted"
  | "helper_exited"
  | "spawn_failed"
  | "helper_missing"
  | "protocol_mismatch"
  | "bad_line";

export type KestroveErrorCode = HelperErrorCode | ClientErrorCode;

/** How the helper process ended: an exit code, or the signal that ended it. */
export interface ExitInfo {
  code: number | null;
  signal: NodeJS.Signals | null;
}

export interface KestroveErrorInit {
  detail?: string | undefined;
  words?: readonly string[] | undefined;
  exit?: ExitInfo | undefined;
  line?: string | undefined;
  cause?: unknown;
}

/**
 * The one error type: a failed reply, or the client's own trouble. `code`
 * decides what to do; the rest says what was asked and what was seen.
 */
export class KestroveError extends Error {
  override readonly name = "KestroveError";
  readonly code: KestroveErrorCode;
  /** The reply's `detail`, or the client's own explanation. */
  readonly detail: string | undefined;
  /** The command's words, as given by the caller. */
  readonly words: readonly string[];
  /** Set with `helper_exited`: how the helper ended. */
  readonly exit: ExitInfo | undefined;
  /** Set with `bad_line`: the output line that could not be read. */
  readonly line: string | undefined;

  constructor(code: KestroveErrorCode, init: KestroveErrorInit = {}) {
    const words = init.words ?? [];
    super(describe(code, init.detail, words), init.cause === undefined ? undefined : { cause: init.cause });
    this.code = code;
    this.detail = init.detail;
    this.words = Object.freeze([...words]);
    this.exit = init.exit;
    this.line = init.line;
  }
}

function describe(code: string, detail: string | undefined, words: readonly string[]): string {
  // Words that hold blanks or control characters are shown quoted, so the
  // message shows where each word ends.
  const shown = words.map((word) => (/^[^\s\p{Cc}]+$/u.test(word) ? word : JSON.stringify(word)));
  const command = shown.length > 0 ? `${shown.join(" ")}: ` : "";
  return `${command}${code}${detail === undefined ? "" : ` (${detail})`}`;
}

/** A request given up through its `AbortSignal`; `cause` is the signal's reason. */
export function abortedError(words: readonly string[], reason: unknown): KestroveError {
  return new KestroveError("aborted", { detail: "the request was aborted", words, cause: reason });
}
