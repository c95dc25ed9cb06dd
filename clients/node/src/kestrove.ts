import { EventEmitter } from "node:events";

import { Connection } from "./connection.js";
import type { ExitInfo, KestroveError } from "./errors.js";
import { isKnownEvent, type KestroveEventMap } from "./events.js";
import type { LaunchOptions } from "./helper-process.js";
import { runOnce, type RunOptions } from "./one-shot.js";
import type {
  ObservePayload,
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
import { numberWord } from "./words.js";

export interface SpawnOptions extends LaunchOptions {
  /** How long a request waits for its reply; default 10000. */
  requestTimeoutMs?: number | undefined;
  /** How long `close` waits for the helper to end before killing it; default 2000. */
  closeGraceMs?: number | undefined;
}

export interface RequestOptions {
  /** This request's own timeout, instead of `requestTimeoutMs`. */
  timeoutMs?: number | undefined;
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
  /** Starts the helper in loop mode. Failing to start shows as `spawn_failed` on the first request. */
  static spawn(options: SpawnOptions = {}): Kestrove {
    return new Kestrove(options);
  }

  /** Runs one command in one-shot mode and gives its payload. */
  static run<const W extends readonly string[]>(words: W, options: RunOptions = {}): Promise<PayloadOf<W>> {
    return runOnce(words, options) as Promise<PayloadOf<W>>;
  }

  private readonly connection: Connection;
  private readonly requestTimeoutMs: number;
  private readonly closeGraceMs: number;

  private constructor(options: SpawnOptions) {
    super();
    this.requestTimeoutMs = options.requestTimeoutMs ?? 10000;
    this.closeGraceMs = options.closeGraceMs ?? 2000;
    this.connection = new Connection(options, {
      onEvent: (event) => {
        this.emit("event", event);
        if (isKnownEvent(event)) this.emit(event.event, event as never);
      },
      onBadLine: (error) => this.reportBadLine(error),
      onEnded: (exit) => this.emit("exit", exit),
    });
  }

  /** The helper's process id; undefined when it could not be started. */
  get pid(): number | undefined {
    return this.connection.pid;
  }

  version(): Promise<VersionPayload> {
    return this.request(["version"]);
  }

  /** Whether the helper is trusted; `prompt` has the system ask the user, without waiting for the answer. */
  trusted(options: { prompt?: boolean } = {}): Promise<TrustedPayload> {
    return options.prompt ? this.request(["trusted", "prompt"]) : this.request(["trusted"]);
  }

  screens(): Promise<ScreensPayload> {
    return this.request(["screens"]);
  }

  windows(bundleId: string): Promise<WindowsPayload> {
    return this.request(["windows", bundleId]);
  }

  /** Moves the app's stream window so that its content area covers `rect`. */
  place(bundleId: string, rect: Rect): Promise<PlacePayload> {
    try {
      const words = ["place", bundleId];
      const numbers = (["x", "y", "width", "height"] as const).map((key) => numberWord(rect[key], key, words));
      return this.request(["place", bundleId, ...numbers] as ["place", ...string[]]);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  /** Starts events for one app's windows, replacing any earlier observation. */
  observe(bundleId: string): Promise<ObservePayload> {
    return this.request(["observe", bundleId]);
  }

  unobserve(): Promise<UnobservePayload> {
    return this.request(["unobserve"]);
  }

  /** Starts `esc_long` events for an Escape key held `holdMs` (200 to 5000; the helper's default 600). */
  watchEsc(holdMs?: number): Promise<WatchEscPayload> {
    if (holdMs === undefined) return this.request(["watch-esc"]);
    try {
      return this.request(["watch-esc", numberWord(holdMs, "holdMs", ["watch-esc"])] as ["watch-esc", string]);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  unwatchEsc(): Promise<UnwatchEscPayload> {
    return this.request(["unwatch-esc"]);
  }

  /** Any command as words; gives the reply's payload. */
  request<const W extends readonly string[]>(words: W, options: RequestOptions = {}): Promise<PayloadOf<W>> {
    return this.connection.request(words, options.timeoutMs ?? this.requestTimeoutMs) as Promise<PayloadOf<W>>;
  }

  /** Sends `quit`, waits for the helper to end, and kills it when it takes longer than `closeGraceMs`. */
  close(): Promise<ExitInfo> {
    return this.connection.close(this.closeGraceMs);
  }

  /** Sends a signal to the helper (SIGKILL unless told). */
  kill(signal: NodeJS.Signals = "SIGKILL"): void {
    this.connection.kill(signal);
  }

  private reportBadLine(error: KestroveError): void {
    // An "error" event nobody listens to would throw; a line we cannot read
    // must never bring the caller down.
    if (this.listenerCount("error") > 0) this.emit("error", error);
    else process.emitWarning(error);
  }
}
