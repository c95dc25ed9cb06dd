import type { Kestrove, KestroveEvent } from "kestrove";

/** The next `count` events, in the order they were emitted. */
export function collectEvents(helper: Kestrove, count: number, timeoutMs = 8000): Promise<KestroveEvent[]> {
  return new Promise((resolve, reject) => {
    const seen: KestroveEvent[] = [];
    const timer = setTimeout(() => {
      helper.off("event", listener);
      reject(new Error(`${seen.length} of ${count} events in ${timeoutMs} ms: ${JSON.stringify(seen)}`));
    }, timeoutMs);
    const listener = (event: KestroveEvent): void => {
      seen.push(event);
      if (seen.length < count) return;
      clearTimeout(timer);
      helper.off("event", listener);
      resolve(seen);
    };
    helper.on("event", listener);
  });
}

/** Whether a promise is already settled once the current microtasks have run. */
export async function settledAtOnce(promise: Promise<unknown>): Promise<boolean> {
  const marker = Symbol("pending");
  const first = await Promise.race([promise.then(() => true, () => true), new Promise((r) => setImmediate(() => r(marker)))]);
  return first !== marker;
}

export function sleep(ms: number): Promise<void> {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

/** Sends a signal to a process that may already be gone. */
export function signal(pid: number | undefined, name: NodeJS.Signals): void {
  try {
    if (pid !== undefined) process.kill(pid, name);
  } catch (error) {
    if ((error as NodeJS.ErrnoException).code !== "ESRCH") throw error;
  }
}

/** Resolves once the process has gone (killed and reaped). */
export async function processGone(pid: number): Promise<void> {
  for (;;) {
    try {
      process.kill(pid, 0);
    } catch (error) {
      if ((error as NodeJS.ErrnoException).code === "ESRCH") return;
      throw error;
    }
    await sleep(20);
  }
}
