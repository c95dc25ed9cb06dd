import { KestroveError, abortedError, type ExitInfo } from "./errors.js";
import type { KestroveEvent } from "./events.js";
import { HelperProcess, endedError, type Ended, type LaunchOptions } from "./helper-process.js";
import { LineSplitter } from "./line-splitter.js";
import { OrderedDelivery } from "./ordered-delivery.js";
import { readOutputLine, type OutputLine } from "./output-line.js";
import type { Payload } from "./payloads.js";
import { RequestTable } from "./request-table.js";
import { traceLine } from "./trace.js";
import { checkWords, commandLine } from "./words.js";

export interface ConnectionHandlers {
  onEvent(event: KestroveEvent): void;
  onBadLine(error: KestroveError): void;
  /** Once, after every line the helper wrote has been handed over. */
  onEnded(exit: ExitInfo, ended: Ended): void;
}

type Delivered = OutputLine | { kind: "ended"; ended: Ended };

/** The line protocol this client speaks: the `protocol` of the helper's `version` reply. */
export const protocolVersion = 1;

/** The helper in loop mode: lines out, replies matched, events and the end handed over in order. */
export class Connection {
  private readonly process: HelperProcess;
  private readonly table = new RequestTable();
  private readonly splitter: LineSplitter;
  private readonly delivery: OrderedDelivery<Delivered>;
  /** Set once no request can be answered any more: makes the error each call gets. */
  private refuse: ((words: readonly string[]) => KestroveError) | undefined;
  private exit: ExitInfo | undefined;
  private readonly exitWaiters: ((exit: ExitInfo) => void)[] = [];
  private closing: Promise<ExitInfo> | undefined;
  /** Whether the caller wants the helper to keep Node running (`ref`). */
  private held = true;
  /** Requests that hold Node running while the helper itself does not. */
  private holding = 0;
  private mismatch: ((words: readonly string[]) => KestroveError) | undefined;
  private versionCheckId: number | undefined;

  constructor(options: LaunchOptions, private readonly handlers: ConnectionHandlers) {
    this.delivery = new OrderedDelivery<Delivered>(
      (item) => item.kind === "reply",
      (item) => this.deliver(item),
    );
    const trace = options.trace;
    this.splitter = new LineSplitter(
      trace
        ? (line) => {
            traceLine(trace, "receive", line, this.process.pid);
            this.delivery.push(readOutputLine(line));
          }
        : (line) => this.delivery.push(readOutputLine(line)),
    );
    this.process = new HelperProcess(options, [], {
      onStdout: (chunk) => this.splitter.push(chunk),
      onStdoutEnd: () => this.splitter.end(),
      onEnded: (ended) => {
        this.splitter.end();
        this.delivery.push({ kind: "ended", ended });
      },
    });
    this.checkProtocol();
  }

  get pid(): number | undefined {
    return this.process.pid;
  }

  get ended(): boolean {
    return this.exit !== undefined;
  }

  request(words: readonly string[], timeoutMs: number, signal?: AbortSignal): Promise<Payload> {
    try {
      // Nothing is sent for a request given up before it could be.
      if (signal?.aborted) throw abortedError(words, signal.reason);
      checkWords(words);
      if (this.refuse) throw this.refuse(words);
      // The helper writes a request id over the window number that a place
      // reply carries; sent without one, the reply keeps it and is matched
      // by its place in the order instead.
      const tagged = words[0] !== "place";
      const line = commandLine(words, tagged ? this.table.nextId : null);
      const reply = this.table.add(tagged, words, timeoutMs, signal);
      this.process.writeLine(line);
      return this.held ? reply : this.holdUntilSettled(reply);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  /**
   * Whether the helper keeps Node running. Released, it still does while a
   * request waits for its reply: an awaited reply must not be lost to the
   * process ending under it.
   */
  hold(held: boolean): void {
    this.held = held;
    this.process.hold(held || this.holding > 0);
  }

  /** Asks the helper to quit, waits for it to end, and kills it after `graceMs`. */
  close(graceMs: number): Promise<ExitInfo> {
    if (this.closing) return this.closing;
    this.closing = new Promise<ExitInfo>((resolve) => {
      if (this.exit) return resolve(this.exit);
      this.exitWaiters.push(resolve);
      if (!this.refuse) {
        this.request(["quit"], graceMs).catch(() => {});
        this.refuse = (words) => new KestroveError("helper_exited", { detail: "the helper is being closed", words });
      }
      // At the end of its input the helper quits too, should quit not be read.
      this.process.endInput();
      const killer = setTimeout(() => this.process.kill("SIGKILL"), graceMs);
      this.exitWaiters.push(() => clearTimeout(killer));
    });
    return this.closing;
  }

  kill(signal: NodeJS.Signals): void {
    this.process.kill(signal);
  }

  private holdUntilSettled(reply: Promise<Payload>): Promise<Payload> {
    if (this.holding++ === 0) this.process.hold(true);
    const release = (): void => {
      if (--this.holding === 0 && !this.held) this.process.hold(false);
    };
    return reply.then(
      (payload) => {
        release();
        return payload;
      },
      (error: unknown) => {
        release();
        throw error;
      },
    );
  }

  /**
   * Asks the helper's version before anything else: a helper of another
   * protocol would misread every request, so then every request fails and
   * nothing more it writes is handed over. The check is made as its reply
   * is read, before any later line.
   */
  private checkProtocol(): void {
    this.versionCheckId = this.table.nextId;
    // Its outcome is judged in `answer`; an ended helper reports itself.
    this.request(["version"], Infinity).catch(() => {});
  }

  private protocolProblem(reply: Record<string, unknown>): string | undefined {
    if (reply.ok !== true) {
      return `the helper answers version with ${String(reply.error)}; this client speaks protocol ${protocolVersion}`;
    }
    if (reply.protocol !== protocolVersion) {
      return `the helper speaks protocol ${JSON.stringify(reply.protocol)}; this client speaks ${protocolVersion}`;
    }
    return undefined;
  }

  private refuseProtocol(detail: string): void {
    this.mismatch = (words) => new KestroveError("protocol_mismatch", { detail, words });
    this.refuse = this.mismatch;
    this.table.failAll(this.mismatch);
    // The end of input stops what a wrapper started too.
    this.process.endInput();
    this.process.kill("SIGKILL");
  }

  private deliver(item: Delivered): void {
    if (this.mismatch && item.kind !== "ended") return;
    switch (item.kind) {
      case "reply":
        this.answer(item.reply);
        break;
      case "event":
        this.handlers.onEvent(item.event);
        break;
      case "bad":
        this.handlers.onBadLine(new KestroveError("bad_line", { detail: item.reason, line: item.line }));
        break;
      case "ended":
        this.end(item.ended);
        break;
    }
  }

  private answer(reply: Record<string, unknown>): void {
    if (this.versionCheckId !== undefined && reply.id === this.versionCheckId) {
      this.versionCheckId = undefined;
      const problem = this.protocolProblem(reply);
      if (problem !== undefined) {
        this.refuseProtocol(problem);
        return;
      }
    }
    if (this.table.answer(reply) === "unexpected") {
      this.handlers.onBadLine(
        new KestroveError("bad_line", { detail: "a reply that answers no waiting request", line: JSON.stringify(reply) }),
      );
    }
  }

  private end(ended: Ended): void {
    const exit = { code: ended.code, signal: ended.signal };
    this.exit = exit;
    this.refuse = this.mismatch ?? ((words) => endedError(ended, words));
    this.table.failAll(this.refuse);
    for (const resolve of this.exitWaiters.splice(0)) resolve(exit);
    this.handlers.onEnded(exit, ended);
  }
}
