/// <reference types="node" />
import { EventEmitter } from "node:events";

/** Why a sample was made. */
export type SampleEvent = "start" | "focus" | "refresh";

/**
 * A sample record: always these eight members, in this order on the line.
 * The three counts are non-negative integers, written as plain digits:
 * `idle_seconds` up to 2^63 − 1, the totals (unsigned 64-bit) up to 2^64 − 1;
 * a JavaScript number holds them exactly up to Number.MAX_SAFE_INTEGER
 * (2^53 − 1).
 */
export interface Sample {
  readonly event: SampleEvent;
  /** The frontmost application's display name; "Unknown" when it has none or there is none. */
  readonly process: string;
  /** Its identifier; "" when it has none. */
  readonly bundle_id: string;
  /** Whole seconds since the last user input. */
  readonly idle_seconds: number;
  /** The active tab's URL when the frontmost application is a supported browser; otherwise "". */
  readonly url: string;
  /** The title of its focused window, else of its first window; "" when it cannot be read. */
  readonly window_title: string;
  /** Running total of key presses. */
  readonly keys_total: number;
  /** Running total of mouse-button presses. */
  readonly clicks_total: number;
}

/** The error record: window titles cannot be read. At most one, as the first line. */
export interface AccessibilityError {
  readonly error: string;
}

/** Either kind of record; a Sample has `event`, an AccessibilityError has `error`. */
export type CollectorRecord = Sample | AccessibilityError;

/**
 * - "missing": the executable could not be started (no such file, not
 *   executable, not an executable for this machine).
 * - "exited": the collector ended before stop() was called.
 * - "not-a-record": it wrote a line that is not a record (`line`), such as a
 *   line longer than 1 MiB; it goes on running, and so does reading.
 */
export type CollectorErrorKind = "missing" | "exited" | "not-a-record";

export class CollectorError extends Error {
  readonly name: "CollectorError";
  readonly kind: CollectorErrorKind;
  /** The executable as given to spawnCollector. */
  readonly path: string;
  /**
   * "missing": the system's error code: "ENOENT", "EACCES", or "ENOEXEC" for a
   * file that is neither an executable for this machine nor a script with
   * "#!" (on Linux it is refused before it runs, where exec would have
   * /bin/sh run it as a shell script).
   */
  readonly code?: string;
  /** "exited": its exit status, or null when a signal ended it. */
  readonly status?: number | null;
  /** "exited": the signal that ended it, or null. */
  readonly signal?: NodeJS.Signals | null;
  /**
   * "not-a-record": the line, without its line feed, decoded as UTF-8 (bytes
   * that are not UTF-8 as U+FFFD); of a line longer than 1 MiB
   * (1,048,576 bytes), its first 1 MiB, as soon as it is known to be longer.
   */
  readonly line?: string;
}

export interface SpawnOptions {
  /**
   * The executable; looked up on PATH when it has no slash. Default: the one
   * this package carries for process.platform and process.arch
   * (bin/linux-x64/PalvernCollector; from app.asar.unpacked inside an
   * Electron app), else "PalvernCollector" from PATH ("PalvernCollector.exe" on Windows).
   */
  path?: string;
  /** Its environment. Default process.env. */
  env?: NodeJS.ProcessEnv;
}

export interface StopOptions {
  /** Milliseconds to wait for it to end before it is killed. Default 2000. */
  timeout?: number;
}

export interface Collector extends EventEmitter, AsyncIterable<CollectorRecord> {
  on(event: "record", listener: (record: Sample) => void): this;
  on(event: "error-record", listener: (record: AccessibilityError) => void): this;
  /** Emitted only while there is a listener: without one, nothing is thrown. */
  on(event: "error", listener: (error: CollectorError) => void): this;
  /** Exactly once; status is null when it never started or a signal ended it. */
  on(event: "exit", listener: (status: number | null, signal: NodeJS.Signals | null) => void): this;
  once(event: "record", listener: (record: Sample) => void): this;
  once(event: "error-record", listener: (record: AccessibilityError) => void): this;
  once(event: "error", listener: (error: CollectorError) => void): this;
  once(event: "exit", listener: (status: number | null, signal: NodeJS.Signals | null) => void): this;
  off(event: "record", listener: (record: Sample) => void): this;
  off(event: "error-record", listener: (record: AccessibilityError) => void): this;
  off(event: "error", listener: (error: CollectorError) => void): this;
  off(event: "exit", listener: (status: number | null, signal: NodeJS.Signals | null) => void): this;

  /**
   * The records that arrive after it is made (a for await loop right after
   * spawnCollector sees them all). next() throws each CollectorError as it
   * happens; after one that ended the collector, the iterator is done.
   */
  [Symbol.asyncIterator](): AsyncIterator<CollectorRecord>;

  /**
   * Ends the collector's standard input, which ends it; resolves with its
   * exit status (0), or null when it never started or had to be killed.
   */
  stop(options?: StopOptions): Promise<number | null>;
}

/** Starts the collector with pipes on its standard input and output. */
export function spawnCollector(options?: SpawnOptions): Collector;

/**
 * The record a line (its line feed optional) holds, or null when it holds
 * none: a string, or bytes that must be UTF-8.
 */
export function parseRecord(line: string | Uint8Array): CollectorRecord | null;

/**
 * Whether a member of the sample record can hold real values on this desktop:
 * - true: it can;
 * - false: never here (always "Unknown", "" or 0), such as keys_total on Wayland;
 * - "off": not until the user turns a switch on (the session's accessibility
 *   for url on Linux, the Accessibility permission for window_title on macOS);
 * - "no-extension": not until the desktop's extension is installed and enabled (GNOME).
 * Treat any other value (from a newer collector) as "not now".
 */
export type Availability = boolean | "off" | "no-extension";

/**
 * The window system a run would report from; "none": nothing (the run then
 * starts with the error record).
 */
export type WindowSystem = "x11" | "wlroots" | "kwin" | "gnome" | "macos" | "windows" | "none";

/** The collector's answer to --describe. Frozen. */
export interface Description {
  /** As PalvernCollector --version gives it, such as "0.1.0". */
  readonly version: string;
  readonly window_system: WindowSystem;
  /** Each member of the sample record; event is always true. */
  readonly members: { readonly [Member in keyof Sample]: Availability };
}

export interface DescribeOptions extends SpawnOptions {
  /** Milliseconds to wait for the answer before the collector is killed. Default 10000. */
  timeout?: number;
}

/**
 * Runs the collector with --describe: it makes the same choice of window
 * system as a run, reads no input and ends by itself. Rejects with a
 * CollectorError: "missing", "exited" (a status other than 0, or killed after
 * the timeout) or "not-a-record" (its output, in `line`, is not a description).
 */
export function describe(options?: DescribeOptions): Promise<Description>;
