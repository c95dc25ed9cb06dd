import type { ExitInfo, KestroveError } from "./errors.js";
import type { Rect } from "./payloads.js";
import type { RestartedInfo } from "./supervisor.js";

// Event lines, typed from the protocol reference in the project README.

/** A window whose frame could be read comes with its frame and number; one that is already gone, with neither. */
export type WindowGeometry = { frame: Rect; id: number | null } | { frame?: never; id?: never };

export type WindowCreatedEvent = { event: "window_created"; bundleId: string } & WindowGeometry;
export type MovedEvent = { event: "moved"; bundleId: string } & WindowGeometry;
export type ResizedEvent = { event: "resized"; bundleId: string } & WindowGeometry;

export interface WindowClosedEvent {
  event: "window_closed";
  bundleId: string;
  /** The number the window had when it was first watched. */
  id: number | null;
}

/** The observed app quit; the observation has ended. */
export interface AppQuitEvent {
  event: "app_quit";
  bundleId: string;
}

export interface EscLongEvent {
  event: "esc_long";
  /** The configured hold time, not a measured one. */
  heldMs: number;
}

export type KestroveEvent =
  | WindowCreatedEvent
  | MovedEvent
  | ResizedEvent
  | WindowClosedEvent
  | AppQuitEvent
  | EscLongEvent;

export type KestroveEventName = KestroveEvent["event"];

const names: ReadonlySet<string> = new Set<KestroveEventName>([
  "window_created",
  "moved",
  "resized",
  "window_closed",
  "app_quit",
  "esc_long",
]);

/** Only these are emitted under their own name: an unknown one could be "error" or "exit". */
export function isKnownEvent(event: KestroveEvent): boolean {
  return names.has(event.event);
}

/** Listener arguments by emitter event name. */
export type KestroveEventMap = {
  [N in KestroveEventName]: [Extract<KestroveEvent, { event: N }>];
} & {
  /** Every event line, in the order the helper wrote them. */
  event: [KestroveEvent];
  /** The helper ended; emitted once. With `restart`, once no restart follows. */
  exit: [ExitInfo];
  /** With `restart`: a new helper is up, and the observation and Escape watch have been asked for again. */
  restarted: [RestartedInfo];
  /** An output line that could not be read (code `bad_line`); the connection goes on. */
  error: [KestroveError];
};
