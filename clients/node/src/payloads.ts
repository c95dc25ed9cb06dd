// Reply payloads: the reply without `ok` and the request `id`. Written by
// hand from the protocol reference in the project README; keep them in step.

/** A rectangle in global top-left points; fractions are kept. */
export interface Rect {
  x: number;
  y: number;
  width: number;
  height: number;
}

export type Coords = "top-left-global-points";

/** How a window's title-bar height was found. */
export type TitlebarSource = "ax_content" | "ax_buttons" | "default";

export interface VersionPayload {
  helper: string;
  version: string;
  protocol: number;
  pid: number;
  /** The operating system's version, major.minor.patch. */
  macos: string;
  coords: Coords;
}

export interface TrustedPayload {
  trusted: boolean;
  /** True when a prompt was asked for and trust was still missing after it. */
  prompted: boolean;
}

export interface Screen {
  /** The display number; 0 when the platform has none. */
  id: number;
  primary: boolean;
  frame: Rect;
  /** The part not covered by menu bar, dock or panels. */
  visibleFrame: Rect;
  menuBarHeight: number;
  /** Device pixels per point. */
  scale: number;
}

export interface ScreensPayload {
  coords: Coords;
  screens: Screen[];
}

export interface Window {
  frame: Rect;
  /** The frame below the title bar. */
  content: Rect;
  titlebar: number;
  titlebarSource: TitlebarSource;
  settable: { position: boolean; size: boolean };
  main: boolean;
  minimized: boolean;
  fullscreen: boolean;
  subrole: string;
  /** The window number, null when the platform gives none. */
  id: number | null;
}

export interface WindowsPayload {
  running: boolean;
  /** Present when the app runs. */
  pid?: number;
  trusted: boolean;
  /** Empty when the app is not running or the helper is not trusted. */
  windows: Window[];
}

export interface PlacePayload {
  /** Where the window landed: its frame read back after the write. */
  frame: Rect;
  content: Rect;
  /** The frame last written, title bar included; not the content rectangle asked for. */
  requested: Rect;
  titlebar: number;
  titlebarSource: TitlebarSource;
  /** The window did not land on `requested` within a point. */
  clamped: boolean;
  /** One code per attribute write, 0 for success, -1 for a write not made. */
  axErrors: number[];
  ms: number;
  /** The placed window's number, null when the platform gives none. */
  id: number | null;
}

export interface ObservePayload {
  observing: true;
  pid: number;
  /** How many of the app's windows are watched for closing. */
  windows: number;
}

export interface UnobservePayload {
  observing: false;
}

export interface WatchEscPayload {
  watching: boolean;
  trusted: boolean;
  holdMs: number;
}

export interface UnwatchEscPayload {
  watching: false;
}

/** Any reply's payload, as `request` gives it for a command it does not know. */
export type Payload = Record<string, unknown>;

/** Payload by command word, for `request` and `Kestrove.run`. */
export interface CommandPayloads {
  version: VersionPayload;
  trusted: TrustedPayload;
  screens: ScreensPayload;
  windows: WindowsPayload;
  place: PlacePayload;
  observe: ObservePayload;
  unobserve: UnobservePayload;
  "watch-esc": WatchEscPayload;
  "unwatch-esc": UnwatchEscPayload;
  quit: Record<string, never>;
}

/** The payload type for a list of words, by its first word. */
export type PayloadOf<W extends readonly string[]> = W extends readonly [infer C, ...string[]]
  ? C extends keyof CommandPayloads
    ? CommandPayloads[C]
    : Payload
  : Payload;
