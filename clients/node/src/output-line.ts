import type { KestroveEvent } from "./events.js";

/** A reply line: the object as written, `ok` and `id` included. */
export type ReplyLine = { kind: "reply"; reply: Record<string, unknown> };
export type EventLine = { kind: "event"; event: KestroveEvent };
export type BadLine = { kind: "bad"; line: string; reason: string };
export type OutputLine = ReplyLine | EventLine | BadLine;

/** Tells replies (they carry `ok`) from events (they carry `event`) and from lines that are neither. */
export function readOutputLine(line: string): OutputLine {
  let value: unknown;
  try {
    value = JSON.parse(line);
  } catch {
    return { kind: "bad", line, reason: "not JSON" };
  }
  if (typeof value !== "object" || value === null || Array.isArray(value)) {
    return { kind: "bad", line, reason: "not a JSON object" };
  }
  const object = value as Record<string, unknown>;
  if (typeof object.event === "string") return { kind: "event", event: object as unknown as KestroveEvent };
  if (typeof object.ok === "boolean") return { kind: "reply", reply: object };
  return { kind: "bad", line, reason: "neither a reply nor an event" };
}
