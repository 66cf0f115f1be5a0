// Starts PalvernCollector as a child process and hands its records to the
// host: as "record" and "error-record" events, and as an async iterable.
// Nothing here throws into the host's event loop: a collector that cannot be
// started, that ends before stop(), or that writes a line that is not a record
// is reported as a CollectorError, to "error" listeners (only when there are
// some) and to iterators (which throw it from next()).
import { spawn } from "node:child_process";
import { EventEmitter } from "node:events";
import { StringDecoder } from "node:string_decoder";

const SAMPLE_MEMBERS = ["event", "process", "bundle_id", "idle_seconds", "url",
  "window_title", "keys_total", "clicks_total"];
const TEXT_MEMBERS = ["process", "bundle_id", "url", "window_title"];
const COUNT_MEMBERS = ["idle_seconds", "keys_total", "clicks_total"];
const EVENTS = new Set(["start", "focus", "refresh"]);
// The collector ends within half a second of its input ending; one that has
// not after this long is hung and is killed.
const STOP_TIMEOUT_MS = 2000;
const SHOWN_LINE_LENGTH = 200;

export class CollectorError extends Error {
  constructor(kind, message, details) {
    super(message);
    this.name = "CollectorError";
    this.kind = kind;
    Object.assign(this, details);
  }
}

// The record a line holds (frozen), or null when the line is not a record.
export function parseRecord(line) {
  let value;
  try {
    value = JSON.parse(line);
  } catch {
    return null;
  }
  if (value === null || typeof value !== "object" || Array.isArray(value)) return null;
  const keys = Object.keys(value);
  if (keys.length === 1 && keys[0] === "error") {
    return typeof value.error === "string" ? Object.freeze(value) : null;
  }
  const isSample = keys.length === SAMPLE_MEMBERS.length &&
    SAMPLE_MEMBERS.every((key) => Object.hasOwn(value, key)) &&
    EVENTS.has(value.event) &&
    TEXT_MEMBERS.every((key) => typeof value[key] === "string") &&
    COUNT_MEMBERS.every((key) => Number.isInteger(value[key]) && value[key] >= 0);
  return isSample ? Object.freeze(value) : null;
}

function shown(line) {
  const text = JSON.stringify(line.slice(0, SHOWN_LINE_LENGTH));
  return line.length > SHOWN_LINE_LENGTH ? `${text}…` : text;
}

class Collector extends EventEmitter {
  #path;
  #child;
  #decoder = new StringDecoder("utf8");
  #partial = "";
  // One queue per live iterator: { items: [{record} | {error}], wake }.
  #queues = new Set();
  #stopping = false;
  #finished = false;
  #failure = null;  // what ended the collector, when not stop()
  #startError = null;
  #closed;

  constructor(path, env) {
    super();
    this.#path = path;
    let resolveClosed;
    this.#closed = new Promise((resolve) => { resolveClosed = resolve; });
    // windowsHide: on Windows the collector is a console program, started
    // without a console window of its own.
    const child = spawn(path, [], { stdio: ["pipe", "pipe", "ignore"], env, windowsHide: true });
    this.#child = child;
    // Ending the input of a collector that has already gone fails; that is fine.
    child.stdin.on("error", () => {});
    child.stdout.on("error", () => {});
    child.stdout.on("data", (chunk) => this.#read(this.#decoder.write(chunk)));
    child.on("error", (error) => {
      if (child.pid !== undefined || this.#startError) return;  // a failed kill
      this.#startError = new CollectorError("missing",
        `PalvernCollector could not be started from ${path}: ${error.message}`,
        { path, code: error.code, cause: error });
      this.#report(this.#startError);
    });
    child.on("close", (code, signal) => {
      this.#read(this.#decoder.end());
      if (this.#partial !== "") this.#notARecord(this.#partial);  // cut off by the exit
      this.#partial = "";
      const status = this.#startError ? null : code;
      if (this.#startError) {
        this.#failure = this.#startError;
      } else if (!this.#stopping) {
        const how = signal ? `was ended by ${signal}` : `exited with status ${code}`;
        this.#failure = new CollectorError("exited",
          `PalvernCollector (${path}) ${how} before stop()`, { path, status, signal });
        this.#report(this.#failure);
      }
      this.#finished = true;
      for (const queue of this.#queues) this.#wake(queue);
      this.#queues.clear();
      this.emit("exit", status, signal);
      resolveClosed(status);
    });
  }

  // Ends the collector's input; resolves with its exit status (null when it
  // never started or was ended by a signal). A collector still running after
  // `timeout` ms is killed.
  stop({ timeout = STOP_TIMEOUT_MS } = {}) {
    if (!this.#stopping && !this.#finished) {
      this.#stopping = true;
      this.#child.stdin.end();
      const timer = setTimeout(() => this.#child.kill("SIGKILL"), timeout);
      timer.unref();
      this.#closed.then(() => clearTimeout(timer));
    }
    return this.#closed;
  }

  // The records that arrive from now on, then the end. Throws a CollectorError
  // from next() as it happens; after one that ended the collector, it is done.
  [Symbol.asyncIterator]() {
    const queue = { items: [], wake: null };
    if (this.#finished) {
      if (this.#failure) queue.items.push({ error: this.#failure });
    } else {
      this.#queues.add(queue);
    }
    const queues = this.#queues;
    return {
      async next() {
        while (queue.items.length === 0) {
          if (!queues.has(queue)) return { done: true, value: undefined };
          await new Promise((resolve) => { queue.wake = resolve; });
        }
        const item = queue.items.shift();
        if (item.error) throw item.error;
        return { done: false, value: item.record };
      },
      async return() {
        queues.delete(queue);
        queue.items.length = 0;
        return { done: true, value: undefined };
      },
      [Symbol.asyncIterator]() { return this; },
    };
  }

  #read(text) {
    if (text === "") return;
    const lines = (this.#partial + text).split("\n");
    this.#partial = lines.pop();
    for (const line of lines) {
      const record = parseRecord(line);
      if (!record) {
        this.#notARecord(line);
        continue;
      }
      this.emit("error" in record ? "error-record" : "record", record);
      this.#push({ record });
    }
  }

  #notARecord(line) {
    this.#report(new CollectorError("not-a-record",
      `PalvernCollector (${this.#path}) wrote a line that is not a record: ${shown(line)}`,
      { path: this.#path, line }));
  }

  #report(error) {
    if (this.listenerCount("error") > 0) this.emit("error", error);
    this.#push({ error });
  }

  #push(item) {
    for (const queue of this.#queues) {
      queue.items.push(item);
      this.#wake(queue);
    }
  }

  #wake(queue) {
    const wake = queue.wake;
    queue.wake = null;
    if (wake) wake();
  }
}

// The executable started without a path, looked up on PATH.
const EXECUTABLE = process.platform === "win32" ? "PalvernCollector.exe" : "PalvernCollector";

// Starts the collector at `path` (looked up on PATH when it has no slash).
export function spawnCollector({ path = EXECUTABLE, env } = {}) {
  return new Collector(path, env);
}
