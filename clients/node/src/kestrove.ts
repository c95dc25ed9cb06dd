import { EventEmitter } from "node:events";

import { Connection } from "./connection.js";
import type { ExitInfo, KestroveError } from "./errors.js";
import { isKnownEvent, type KestroveEventMap } from "./events.js";
import type { LaunchOptions } from "./helper-process.js";
import { runOnce, type RunOptions } from "./one-shot.js";
import type {
  ObservePayload,
  Payload,
  PayloadOf,
  PlacePayload,
  Rect,
  ScreensPayload,
  TrustedPayload,
  UnobservePayload,
  UnwatchEscPayload,
  VersionPayload,
  WatchEscPayload,
  WindowsPayload,
} from "./payloads.js";
import { Supervisor, type RestartOptions } from "./supervisor.js";
import { numberWord } from "./words.js";

export interface SpawnOptions extends LaunchOptions {
  /** How long a request waits for its reply; default 10000. */
  requestTimeoutMs?: number | undefined;
  /** How long `close` waits for the helper to end before killing it; default 2000. */
  closeGraceMs?: number | undefined;
  /** Restart a helper that ends without `close()` or `kill()`; off unless given. */
  restart?: RestartOptions | undefined;
}

export interface RequestOptions {
  /** This request's own timeout, instead of `requestTimeoutMs`. */
  timeoutMs?: number | undefined;
  /** Gives the request up: it rejects with `aborted` at once, and its reply is dropped when it comes. */
  signal?: AbortSignal | undefined;
}

type Listener<K extends keyof KestroveEventMap> = (...args: KestroveEventMap[K]) => void;

export interface Kestrove {
  on<K extends keyof KestroveEventMap>(name: K, listener: Listener<K>): this;
  once<K extends keyof KestroveEventMap>(name: K, listener: Listener<K>): this;
  off<K extends keyof KestroveEventMap>(name: K, listener: Listener<K>): this;
  addListener<K extends keyof KestroveEventMap>(name: K, listener: Listener<K>): this;
  removeListener<K extends keyof KestroveEventMap>(name: K, listener: Listener<K>): this;
  emit<K extends keyof KestroveEventMap>(name: K, ...args: KestroveEventMap[K]): boolean;
}

/** The helper in loop mode, as typed commands and events. */
export class Kestrove extends EventEmitter {
  /**
   * Starts the helper in loop mode. Failing to start shows as `spawn_failed`
   * on the first request; `restart` options that are not counts throw
   * `invalid_argument` here, before anything is started.
   */
  static spawn(options: SpawnOptions = {}): Kestrove {
    return new Kestrove(options);
  }

  /** Runs one command in one-shot mode and gives its payload. */
  static run<const W extends readonly string[]>(words: W, options: RunOptions = {}): Promise<PayloadOf<W>> {
    return runOnce(words, options) as Promise<PayloadOf<W>>;
  }

  private connection: Connection;
  private readonly supervisor: Supervisor | undefined;
  private readonly requestTimeoutMs: number;
  private readonly closeGraceMs: number;
  private held = true;
  private closed: Promise<ExitInfo> | undefined;

  private constructor(private readonly options: SpawnOptions) {
    super();
    this.requestTimeoutMs = options.requestTimeoutMs ?? 10000;
    this.closeGraceMs = options.closeGraceMs ?? 2000;
    if (options.restart) {
      const kestrove = this;
      this.supervisor = new Supervisor(options.restart, {
        respawn: () => (this.connection = this.open()),
        restarted: (info) => this.emit("restarted", info),
        requestTimeoutMs: this.requestTimeoutMs,
        get held() {
          return kestrove.held;
        },
      });
    }
    this.connection = this.open();
  }

  /** The helper's process id; undefined when it could not be started. With `restart`, the current helper's. */
  get pid(): number | undefined {
    return this.connection.pid;
  }

  version(options?: RequestOptions): Promise<VersionPayload> {
    return this.request(["version"], options);
  }

  /** Whether the helper is trusted; `prompt` has the system ask the user, without waiting for the answer. */
  trusted(options: { prompt?: boolean | undefined } & RequestOptions = {}): Promise<TrustedPayload> {
    return options.prompt ? this.request(["trusted", "prompt"], options) : this.request(["trusted"], options);
  }

  screens(options?: RequestOptions): Promise<ScreensPayload> {
    return this.request(["screens"], options);
  }

  windows(bundleId: string, options?: RequestOptions): Promise<WindowsPayload> {
    return this.request(["windows", bundleId], options);
  }

  /** Moves the app's stream window so that its content area covers `rect`. */
  place(bundleId: string, rect: Rect, options?: RequestOptions): Promise<PlacePayload> {
    try {
      const words = ["place", bundleId];
      const numbers = (["x", "y", "width", "height"] as const).map((key) => numberWord(rect[key], key, words));
      return this.request(["place", bundleId, ...numbers] as ["place", ...string[]], options);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  /** Starts events for one app's windows, replacing any earlier observation. */
  observe(bundleId: string, options?: RequestOptions): Promise<ObservePayload> {
    return this.request(["observe", bundleId], options);
  }

  unobserve(options?: RequestOptions): Promise<UnobservePayload> {
    return this.request(["unobserve"], options);
  }

  /** Starts `esc_long` events for an Escape key held `holdMs` (200 to 5000; the helper's default 600). */
  watchEsc(holdMs?: number, options?: RequestOptions): Promise<WatchEscPayload> {
    if (holdMs === undefined) return this.request(["watch-esc"], options);
    try {
      const word = numberWord(holdMs, "holdMs", ["watch-esc"]);
      return this.request(["watch-esc", word] as ["watch-esc", string], options);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  unwatchEsc(options?: RequestOptions): Promise<UnwatchEscPayload> {
    return this.request(["unwatch-esc"], options);
  }

  /** Any command as words; gives the reply's payload. */
  request<const W extends readonly string[]>(words: W, options?: RequestOptions): Promise<PayloadOf<W>> {
    const reply = this.connection.request(words, options?.timeoutMs ?? this.requestTimeoutMs, options?.signal);
    const supervisor = this.supervisor;
    if (supervisor === undefined || !Supervisor.tracks(words[0])) return reply as Promise<PayloadOf<W>>;
    return reply.then(
      (payload: Payload) => {
        supervisor.replied(words, payload);
        return payload;
      },
      (error: KestroveError) => {
        supervisor.refused(words, error);
        throw error;
      },
    ) as Promise<PayloadOf<W>>;
  }

  /** Sends `quit`, waits for the helper to end, and kills it when it takes longer than `closeGraceMs`. */
  close(): Promise<ExitInfo> {
    if (this.closed) return this.closed;
    const between = this.supervisor?.stop();
    if (between) {
      // Closed while waiting to restart: the last helper has ended already.
      this.closed = Promise.resolve(between);
      this.emit("exit", between);
    } else {
      this.closed = this.connection.close(this.closeGraceMs);
    }
    return this.closed;
  }

  /** Sends a signal to the helper (SIGKILL unless told); with `restart`, a helper killed this way stays dead. */
  kill(signal: NodeJS.Signals = "SIGKILL"): void {
    const between = this.supervisor?.stop();
    if (between) this.emit("exit", between);
    this.connection.kill(signal);
  }

  /** Lets Node exit while the helper runs and no request waits for a reply. */
  unref(): this {
    this.held = false;
    this.connection.hold(false);
    return this;
  }

  /** Undoes `unref()`: the helper keeps Node running again (the default). */
  ref(): this {
    this.held = true;
    this.connection.hold(true);
    return this;
  }

  /** `await using helper = Kestrove.spawn(…)` closes the helper at the end of the block. */
  [Symbol.asyncDispose](): Promise<void> {
    return this.close().then(() => {});
  }

  /** `using helper = Kestrove.spawn(…)` kills the helper at the end of the block. */
  [Symbol.dispose](): void {
    this.kill();
  }

  private open(): Connection {
    const connection = new Connection(this.options, {
      onEvent: (event) => {
        this.supervisor?.event(event);
        this.emit("event", event);
        if (isKnownEvent(event)) this.emit(event.event, event as never);
      },
      onBadLine: (error) => this.reportBadLine(error),
      onEnded: (exit, ended) => {
        if (!this.supervisor?.ended(exit, ended)) this.emit("exit", exit);
      },
    });
    if (!this.held) connection.hold(false);
    return connection;
  }

  private reportBadLine(error: KestroveError): void {
    // An "error" event nobody listens to would throw; a line we cannot read
    // must never bring the caller down.
    if (this.listenerCount("error") > 0) this.emit("error", error);
    else process.emitWarning(error);
  }
}
