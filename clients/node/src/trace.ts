/** Which way a traced line went: to the helper, from its standard output, from its standard error. */
export type TraceDirection = "send" | "receive" | "stderr";

export interface TraceEntry {
  direction: TraceDirection;
  /** The line without its line feed. */
  line: string;
  /** When it was written or read, in milliseconds since the epoch (`Date.now()`). */
  time: number;
  /** The helper's process id; with `restart`, tells one helper from the next. */
  pid: number | undefined;
}

export type Trace = (entry: TraceEntry) => void;

const warned = new WeakSet<Trace>();

/**
 * Calls the caller's trace function; one that throws must not break the
 * reading of the pipe it watches, so its error becomes a process warning,
 * once for each function rather than once a line.
 */
export function traceLine(trace: Trace, direction: TraceDirection, line: string, pid: number | undefined): void {
  try {
    trace({ direction, line, time: Date.now(), pid });
  } catch (error) {
    if (warned.has(trace)) return;
    warned.add(trace);
    process.emitWarning(error instanceof Error ? error : String(error), "KestroveTraceWarning");
  }
}
