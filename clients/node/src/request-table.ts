import { KestroveError } from "./errors.js";
import type { Payload } from "./payloads.js";

interface Entry {
  readonly id: number;
  /** Whether the line carried `#id`; if not, the reply's `id` is payload. */
  readonly tagged: boolean;
  readonly words: readonly string[];
  resolve(payload: Payload): void;
  reject(error: KestroveError): void;
  timer: NodeJS.Timeout | undefined;
  /** Timed out: its reply is still due and is dropped when it comes. */
  abandoned: boolean;
}

export type Answer = "settled" | "late" | "unexpected";

/**
 * Requests in the order they were written. The helper answers every line,
 * one at a time, in order, so each reply belongs to the oldest request still
 * unanswered; ids confirm it. A timed-out request keeps its place until its
 * reply comes, so a late reply is never taken for a later request's.
 */
export class RequestTable {
  private lastId = 0;
  private entries: Entry[] = [];
  private head = 0;

  get pending(): number {
    return this.entries.length - this.head;
  }

  /** The id the next request gets: one more than the last one sent. */
  get nextId(): number {
    return this.lastId + 1;
  }

  add(tagged: boolean, words: readonly string[], timeoutMs: number): Promise<Payload> {
    return new Promise<Payload>((resolve, reject) => {
      const entry: Entry = { id: ++this.lastId, tagged, words, resolve, reject, timer: undefined, abandoned: false };
      if (Number.isFinite(timeoutMs)) {
        entry.timer = setTimeout(() => {
          entry.abandoned = true;
          entry.timer = undefined;
          reject(new KestroveError("timeout", { detail: `no reply within ${timeoutMs} ms`, words }));
        }, timeoutMs);
      }
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
    clearTimeout(entry.timer);
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
      clearTimeout(entry.timer);
      entry.reject(makeError(entry.words));
    }
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
