export { Kestrove, type SpawnOptions, type RequestOptions } from "./kestrove.js";
export type { RunOptions } from "./one-shot.js";
export type { LaunchOptions } from "./helper-process.js";
export type { RestartOptions, RestartedInfo } from "./supervisor.js";
export type { Trace, TraceEntry, TraceDirection } from "./trace.js";
export {
  KestroveError,
  type KestroveErrorCode,
  type HelperErrorCode,
  type ClientErrorCode,
  type ExitInfo,
} from "./errors.js";
export type * from "./payloads.js";
export type * from "./events.js";
export { maxLineBytes } from "./words.js";
export {
  findHelper,
  helperPackage,
  unpackedAsarPath,
  type FindHelperOptions,
  type FoundHelper,
} from "./find_helper.js";
