import { KestroveError, abortedError } from "./errors.js";
import type { Payload } from "./payloads.js";

interface Entry {
  readonly id: number;
  /** Whether the line carried `#id`; if not, the reply's `id` is payload. */
  readonly tagged: boolean;
  readonly words: readonly string[];
  resolve(payload: Payload): void;
  reject(error: KestroveError): void;
  timer: NodeJS.Timeout | undefined;
  /** Set while the request listens to its signal. */
  signal: AbortSignal | undefined;
  /** Timed out or aborted: its reply is still due and is dropped when it comes. */
  abandoned: boolean;
}

export type Answer = "settled" | "late" | "unexpected";

/** The waiting requests that share one signal, and the one listener they share. */
interface SignalGroup {
  readonly entries: Set<Entry>;
  readonly onAbort: () => void;
}

/**
 * Requests in the order they were written. The helper answers every line,
 * one at a time, in order, so each reply belongs to the oldest request still
 * unanswered; ids confirm it. A timed-out or aborted request keeps its place
 * until its reply comes, so a late reply is never taken for a later request's.
 */
export class RequestTable {
  private lastId = 0;
  private entries: Entry[] = [];
  private head = 0;
  /**
   * One abort listener for each signal, however many requests share it: a
   * listener each would make adding them cost more with every request
   * waiting, and Node warns of a leak past ten.
   */
  private readonly signals = new Map<AbortSignal, SignalGroup>();

  get pending(): number {
    return this.entries.length - this.head;
  }

  /** The id the next request gets: one more than the last one sent. */
  get nextId(): number {
    return this.lastId + 1;
  }

  /** A request about to be written; `signal` must not be aborted yet. */
  add(tagged: boolean, words: readonly string[], timeoutMs: number, signal?: AbortSignal): Promise<Payload> {
    return new Promise<Payload>((resolve, reject) => {
      const entry: Entry = {
        id: ++this.lastId,
        tagged,
        words,
        resolve,
        reject,
        timer: undefined,
        signal: undefined,
        abandoned: false,
      };
      if (Number.isFinite(timeoutMs)) {
        entry.timer = setTimeout(() => {
          entry.timer = undefined;
          this.abandon(entry, new KestroveError("timeout", { detail: `no reply within ${timeoutMs} ms`, words }));
        }, timeoutMs);
      }
      if (signal) this.watch(entry, signal);
      this.entries.push(entry);
    });
  }

  /** Hands a reply line to its request. */
  answer(reply: Record<string, unknown>): Answer {
    const entry = this.entries[this.head];
    if (entry === undefined) return "unexpected";
    // A reply written without an id (the helper's fallback when a reply
    // cannot be encoded) still answers the oldest request.
    if (entry.tagged && "id" in reply && reply.id !== entry.id) return "unexpected";
    this.shift();
    if (entry.abandoned) return "late";
    this.disarm(entry);
    if (reply.ok === true) {
      entry.resolve(payloadOf(reply, entry.tagged));
    } else {
      const code = typeof reply.error === "string" ? reply.error : "internal";
      const detail = typeof reply.detail === "string" ? reply.detail : undefined;
      entry.reject(new KestroveError(code as KestroveError["code"], { detail, words: entry.words }));
    }
    return "settled";
  }

  /** Rejects every request still waiting; none of their replies can come any more. */
  failAll(makeError: (words: readonly string[]) => KestroveError): void {
    const waiting = this.entries.slice(this.head);
    this.entries = [];
    this.head = 0;
    for (const entry of waiting) {
      if (entry.abandoned) continue;
      this.disarm(entry);
      entry.reject(makeError(entry.words));
    }
  }

  private watch(entry: Entry, signal: AbortSignal): void {
    entry.signal = signal;
    let group = this.signals.get(signal);
    if (group === undefined) {
      const entries = new Set<Entry>();
      const onAbort = (): void => {
        this.signals.delete(signal);
        for (const waiting of entries) {
          waiting.signal = undefined;
          this.abandon(waiting, abortedError(waiting.words, signal.reason));
        }
      };
      group = { entries, onAbort };
      this.signals.set(signal, group);
      signal.addEventListener("abort", onAbort, { once: true });
    }
    group.entries.add(entry);
  }

  /** Settles a request before its reply; the reply, when it comes, is dropped. */
  private abandon(entry: Entry, error: KestroveError): void {
    entry.abandoned = true;
    this.disarm(entry);
    entry.reject(error);
  }

  private disarm(entry: Entry): void {
    if (entry.timer !== undefined) {
      clearTimeout(entry.timer);
      entry.timer = undefined;
    }
    const signal = entry.signal;
    if (signal === undefined) return;
    entry.signal = undefined;
    const group = this.signals.get(signal);
    if (group === undefined) return;
    group.entries.delete(entry);
    if (group.entries.size > 0) return;
    this.signals.delete(signal);
    signal.removeEventListener("abort", group.onAbort);
  }

  private shift(): void {
    this.head++;
    if (this.head === this.entries.length) {
      this.entries = [];
      this.head = 0;
    } else if (this.head > 1024 && this.head * 2 > this.entries.length) {
      this.entries = this.entries.slice(this.head);
      this.head = 0;
    }
  }
}

function payloadOf(reply: Record<string, unknown>, tagged: boolean): Payload {
  const { ok: _ok, ...payload } = reply;
  if (tagged) delete payload.id;
  return payload;
}
