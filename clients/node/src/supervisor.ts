import type { Connection } from "./connection.js";
import { KestroveError, type ExitInfo } from "./errors.js";
import type { KestroveEvent } from "./events.js";
import { endedError, type Ended } from "./helper-process.js";
import type { Payload } from "./payloads.js";

export interface RestartOptions {
  /** How many restarts in a row before giving up with `exit`. */
  retries: number;
  /** The wait before the first restart, doubled for each further one in a row (at most 30 s); default 500. */
  backoffMs?: number | undefined;
  /** A helper that stays up this long starts the count of restarts again; default 60000. */
  resetAfterMs?: number | undefined;
}

export interface RestartedInfo {
  /** 1 for the first restart in a row. */
  attempt: number;
  /** How the helper before this one ended. */
  exit: ExitInfo;
  /** The same as the `helper_exited` (or `spawn_failed`) error its requests got, with its stderr tail. */
  reason: KestroveError;
  /** `observe` or `watch-esc` that the new helper refused; that observation or watch has ended. */
  failed: KestroveError[];
}

export interface SupervisorHost {
  /** Starts a new helper and makes it the one requests go to. */
  respawn(): Connection;
  /** The new helper answers, and what it was asked again has been answered. */
  restarted(info: RestartedInfo): void;
  readonly requestTimeoutMs: number;
  /** Whether Node should wait for a pending restart. */
  readonly held: boolean;
}

const maxBackoffMs = 30_000;

/**
 * Restarts a helper that ended without being closed, and asks the new one
 * for the observation and the Escape watch that were in force. Requests that
 * were waiting are never sent again (a `place` done twice is not a `place`
 * done once); they reject with `helper_exited` as without restarts.
 */
export class Supervisor {
  /** The observed app, as the last successful `observe` left it. */
  private observing: string | undefined;
  /** The Escape hold time in force, undefined when not watching. */
  private escHoldMs: number | undefined;
  private attempt = 0;
  private upSince = 0;
  private timer: NodeJS.Timeout | undefined;
  private stopped = false;
  private lastExit: ExitInfo | undefined;

  constructor(
    private readonly options: RestartOptions,
    private readonly host: SupervisorHost,
  ) {
    // A count that never runs out (NaN, a fraction) would restart for ever.
    const counts: [string, unknown, boolean][] = [
      ["retries", options.retries, true],
      ["backoffMs", options.backoffMs ?? 0, false],
      ["resetAfterMs", options.resetAfterMs ?? 0, false],
    ];
    for (const [name, value, whole] of counts) {
      const ok = typeof value === "number" && value >= 0 && (whole ? Number.isInteger(value) : Number.isFinite(value));
      if (!ok) {
        throw new KestroveError("invalid_argument", {
          detail: `restart.${name} must be ${whole ? "a whole number" : "a finite number"} of 0 or more`,
        });
      }
    }
  }

  /** Whether a request with these words can change what a restart restores. */
  static tracks(command: string | undefined): boolean {
    return command === "observe" || command === "unobserve" || command === "watch-esc" || command === "unwatch-esc";
  }

  replied(words: readonly string[], payload: Payload): void {
    switch (words[0]) {
      case "observe":
        this.observing = words[1];
        break;
      case "unobserve":
        this.observing = undefined;
        break;
      case "watch-esc":
        this.escHoldMs = typeof payload.holdMs === "number" ? payload.holdMs : undefined;
        break;
      case "unwatch-esc":
        this.escHoldMs = undefined;
        break;
    }
  }

  refused(words: readonly string[], error: KestroveError): void {
    // A failed observe keeps the earlier observation, except one that failed
    // after tearing it down.
    if (words[0] === "observe" && error.code === "observe_failed") this.observing = undefined;
  }

  event(event: KestroveEvent): void {
    if (event.event === "app_quit" && event.bundleId === this.observing) this.observing = undefined;
  }

  /** `close()` or `kill()`: the helper is meant to end; no more restarts. */
  stop(): ExitInfo | undefined {
    this.stopped = true;
    if (this.timer === undefined) return undefined;
    clearTimeout(this.timer);
    this.timer = undefined;
    return this.lastExit;
  }

  /** The current helper ended. Returns whether a restart follows; if not, the caller emits `exit`. */
  ended(exit: ExitInfo, ended: Ended): boolean {
    this.lastExit = exit;
    if (this.stopped) return false;
    const resetAfterMs = this.options.resetAfterMs ?? 60_000;
    if (this.attempt > 0 && Date.now() - this.upSince >= resetAfterMs) this.attempt = 0;
    if (this.attempt >= this.options.retries) return false;
    this.attempt++;
    const delay = Math.min((this.options.backoffMs ?? 500) * 2 ** (this.attempt - 1), maxBackoffMs);
    const reason = endedError(ended, []);
    this.timer = setTimeout(() => {
      this.timer = undefined;
      this.restart({ attempt: this.attempt, exit, reason, failed: [] });
    }, delay);
    if (!this.host.held) this.timer.unref();
    return true;
  }

  private restart(info: RestartedInfo): void {
    const connection = this.host.respawn();
    this.upSince = Date.now();
    // `version` first: a new helper that answers nothing is no restart.
    const asked: Promise<unknown>[] = [connection.request(["version"], this.host.requestTimeoutMs)];
    // What the new helper refuses has ended; a helper that ended meanwhile
    // refuses everything, and the next restart asks again.
    const restore = (words: string[], forget: () => void): void => {
      asked.push(
        connection.request(words, this.host.requestTimeoutMs).catch((error: KestroveError) => {
          if (error.code === "helper_exited" || error.code === "spawn_failed") return;
          forget();
          info.failed.push(error);
        }),
      );
    };
    const observing = this.observing;
    if (observing !== undefined) {
      restore(["observe", observing], () => {
        if (this.observing === observing) this.observing = undefined;
      });
    }
    const holdMs = this.escHoldMs;
    if (holdMs !== undefined) {
      restore(["watch-esc", String(holdMs)], () => {
        if (this.escHoldMs === holdMs) this.escHoldMs = undefined;
      });
    }
    Promise.all(asked).then(
      () => {
        // Restores a helper refused because it ended are the next restart's business.
        if (!connection.ended) this.host.restarted(info);
      },
      // The helper ended (and `ended` has run), or it does not answer: a
      // helper that hangs is ended too, which makes it the next attempt's.
      () => {
        if (!connection.ended) connection.kill("SIGKILL");
      },
    );
  }
}
