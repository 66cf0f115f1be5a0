/// <reference types="node" />
import { EventEmitter } from "node:events";

/** Why a sample was made. */
export type SampleEvent = "start" | "focus" | "refresh";

/**
 * A sample record: always these eight members, in this order on the line.
 * The three counts are non-negative integers. The totals are unsigned 64-bit
 * in the collector; a JavaScript number holds them exactly up to
 * Number.MAX_SAFE_INTEGER (2^53 − 1).
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
 * - "missing": the executable could not be started (no such file, not executable).
 * - "exited": the collector ended before stop() was called.
 * - "not-a-record": it wrote a line that is not a record (`line`); it goes on running.
 */
export type CollectorErrorKind = "missing" | "exited" | "not-a-record";

export class CollectorError extends Error {
  readonly name: "CollectorError";
  readonly kind: CollectorErrorKind;
  /** The executable as given to spawnCollector. */
  readonly path: string;
  /** "missing": the system's error code, such as "ENOENT" or "EACCES". */
  readonly code?: string;
  /** "exited": its exit status, or null when a signal ended it. */
  readonly status?: number | null;
  /** "exited": the signal that ended it, or null. */
  readonly signal?: NodeJS.Signals | null;
  /** "not-a-record": the whole line, without its line feed. */
  readonly line?: string;
}

export interface SpawnOptions {
  /** The executable; looked up on PATH when it has no slash. Default "PalvernCollector" ("PalvernCollector.exe" on Windows). */
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

/** The record a line (without its line feed) holds, or null when it holds none. */
export function parseRecord(line: string): CollectorRecord | null;
