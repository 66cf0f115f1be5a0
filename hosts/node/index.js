// Starts PalvernCollector as a child process and hands its records to the
// host: as "record" and "error-record" events, and as an async iterable.
// Nothing here throws into the host's event loop: a collector that cannot be
// started, that ends before stop(), or that writes a line that is not a record
// is reported as a CollectorError, to "error" listeners (only when there are
// some) and to iterators (which throw it from next()).
import { spawn } from "node:child_process";
import { EventEmitter } from "node:events";
import {
  accessSync, closeSync, constants, existsSync, openSync, readSync, statSync,
} from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const SAMPLE_MEMBERS = ["event", "process", "bundle_id", "idle_seconds", "url",
  "window_title", "keys_total", "clicks_total"];
const TEXT_MEMBERS = ["process", "bundle_id", "url", "window_title"];
// The largest value of each count, as the collector writes it: plain digits.
const COUNT_LIMITS = new Map([["idle_seconds", "9223372036854775807"],
  ["keys_total", "18446744073709551615"], ["clicks_total", "18446744073709551615"]]);
const PLAIN_DIGITS = /^(?:0|[1-9][0-9]*)$/;
const EVENTS = new Set(["start", "focus", "refresh"]);
// The collector ends within half a second of its input ending; one that has
// not after this long is hung and is killed.
const STOP_TIMEOUT_MS = 2000;
// Its longest record is well under this (titles and URLs are bounded at
// 64 KiB); a longer line is refused before it is all held.
const LINE_LIMIT = 1024 * 1024;
const SHOWN_LINE_LENGTH = 200;
const LINE_FEED = 0x0a;
// Refuses bytes that are not UTF-8 and keeps a byte order mark, which JSON
// then refuses: a record is valid UTF-8 and starts with "{".
const strictUtf8 = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });

export class CollectorError extends Error {
  constructor(kind, message, details) {
    super(message);
    this.name = "CollectorError";
    this.kind = kind;
    Object.assign(this, details);
  }
}

// The record a line holds (frozen), or null when the line is not a record.
// The line is a string, or bytes that must be UTF-8.
export function parseRecord(line) {
  let text = line;
  if (typeof line !== "string") {
    try {
      text = strictUtf8.decode(line);
    } catch {
      return null;
    }
  }
  let value;
  try {
    value = JSON.parse(text);
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
    [...COUNT_LIMITS.keys()].every((key) => typeof value[key] === "number") &&
    countsArePlain(text);
  return isSample ? Object.freeze(value) : null;
}

// JSON.parse reads 1.0, 1e0 and -0 as integers and rounds what is past 2^53,
// so the counts are checked as written: plain digits, up to their limit.
function countsArePlain(text) {
  const written = numbersAsWritten(text);
  for (const [key, limit] of COUNT_LIMITS) {
    const digits = written.get(key);
    if (!PLAIN_DIGITS.test(digits)) return false;
    if (digits.length > limit.length || (digits.length === limit.length && digits > limit)) {
      return false;
    }
  }
  return true;
}

// The numbers of a flat JSON object (valid JSON, strings and numbers only),
// by member name, as they are written. The last one counts, as in JSON.parse.
const TOKENS = /"[^"\\]*(?:\\.[^"\\]*)*"|:|[-+.eE0-9]+/g;
function numbersAsWritten(text) {
  const numbers = new Map();
  let name = "";
  let lastString = "";
  TOKENS.lastIndex = 0;
  for (let match; (match = TOKENS.exec(text)) !== null;) {
    const token = match[0];
    if (token[0] === '"') {
      lastString = token;
    } else if (token === ":") {
      name = JSON.parse(lastString);
    } else {
      numbers.set(name, token);
    }
  }
  return numbers;
}

// What exec would run for `path`: PATH is searched (the child's, else
// /usr/bin:/bin) as exec searches it, for the first executable file.
function located(path, env) {
  if (path.includes("/")) return path;
  for (const folder of ((env ?? process.env).PATH ?? "/usr/bin:/bin").split(":")) {
    const file = join(folder, path);
    try {
      accessSync(file, constants.X_OK);
      if (statSync(file).isFile()) return file;
    } catch {
      // not there, or not executable: exec goes on to the next folder too
    }
  }
  return null;
}

// ELF machine numbers this machine runs (its own, and the 32-bit ones it
// takes as well), by Node's name for it.
const MACHINES = {
  x64: [62, 3], ia32: [3], arm64: [183, 40], arm: [40], ppc64: [21, 20], ppc: [20],
  s390x: [22], riscv64: [243], loong64: [258], mips: [8], mipsel: [8],
};

// On Linux, exec runs a file the kernel refuses as of the wrong format
// (ENOEXEC) with /bin/sh, as a shell script, and spawn does not stop it: a
// text file would have its lines run as commands, an executable for another
// machine would end with a shell's status. So the file is looked at first: it
// must be an ELF executable for this machine or start with "#!".
function formatError(file) {
  const header = Buffer.alloc(20);
  let length;
  try {
    const fd = openSync(file, "r");
    try {
      length = readSync(fd, header, 0, header.length, 0);
    } finally {
      closeSync(fd);
    }
  } catch {
    return null;  // cannot be read (such as execute-only): exec decides
  }
  if (length >= 2 && header[0] === 0x23 && header[1] === 0x21) return null;  // "#!"
  if (length === header.length && header.readUInt32BE(0) === 0x7f454c46) {  // "\x7fELF"
    const machine = header[5] === 2 ? header.readUInt16BE(18) : header.readUInt16LE(18);
    const machines = MACHINES[process.arch];
    if (machines === undefined || machines.includes(machine)) return null;
  }
  return Object.assign(
    new Error(`spawn ${file} ENOEXEC: not an executable for this machine`), { code: "ENOEXEC" });
}

function shown(line) {
  const text = JSON.stringify(line.slice(0, SHOWN_LINE_LENGTH));
  return line.length > SHOWN_LINE_LENGTH ? `${text}…` : text;
}

class Collector extends EventEmitter {
  #path;
  #child = null;
  // The pieces of the line being read, before its line feed, and their length.
  #pieces = [];
  #length = 0;
  // After a line over LINE_LIMIT: the rest of it is dropped up to its line feed.
  #skipping = false;
  // One queue per live iterator: { items: [{record} | {error}], wake }.
  #queues = new Set();
  #stopping = false;
  #finished = false;
  #failure = null;  // what ended the collector, when not stop()
  #startError = null;
  #closed;
  #resolveClosed;

  constructor(path, env) {
    super();
    this.#path = path;
    this.#closed = new Promise((resolve) => { this.#resolveClosed = resolve; });
    const file = process.platform === "linux" ? located(path, env) : null;
    const refusal = file === null ? null : formatError(file);
    if (refusal) {
      // As spawn reports its own errors: after the caller has added listeners.
      process.nextTick(() => {
        this.#cannotStart(refusal);
        this.#end(null, null);
      });
      return;
    }
    // windowsHide: on Windows the collector is a console program, started
    // without a console window of its own.
    const child = spawn(file ?? path, [], { argv0: path, stdio: ["pipe", "pipe", "ignore"], env, windowsHide: true });
    this.#child = child;
    // Ending the input of a collector that has already gone fails; that is fine.
    child.stdin.on("error", () => {});
    child.stdout.on("error", () => {});
    child.stdout.on("data", (chunk) => this.#read(chunk));
    child.on("error", (error) => {
      if (child.pid !== undefined || this.#startError) return;  // a failed kill
      this.#cannotStart(error);
    });
    child.on("close", (code, signal) => this.#end(code, signal));
  }

  // Ends the collector's input; resolves with its exit status (null when it
  // never started or was ended by a signal). A collector still running after
  // `timeout` ms is killed.
  stop({ timeout = STOP_TIMEOUT_MS } = {}) {
    if (this.#child && !this.#stopping && !this.#finished) {
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

  #cannotStart(error) {
    this.#startError = new CollectorError("missing",
      `PalvernCollector could not be started from ${this.#path}: ${error.message}`,
      { path: this.#path, code: error.code, cause: error });
    this.#report(this.#startError);
  }

  #end(code, signal) {
    if (this.#length > 0) this.#notARecord(this.#take(), "cut off by the exit");
    const status = this.#startError ? null : code;
    if (this.#startError) {
      this.#failure = this.#startError;
    } else if (!this.#stopping) {
      const how = signal ? `was ended by ${signal}` : `exited with status ${code}`;
      this.#failure = new CollectorError("exited",
        `PalvernCollector (${this.#path}) ${how} before stop()`,
        { path: this.#path, status, signal });
      this.#report(this.#failure);
    }
    this.#finished = true;
    for (const queue of this.#queues) this.#wake(queue);
    this.#queues.clear();
    this.emit("exit", status, signal);
    this.#resolveClosed(status);
  }

  // Only the new chunk is searched for line feeds; the pieces of a line are
  // joined once, when its line feed comes.
  #read(chunk) {
    let start = 0;
    while (start < chunk.length) {
      const end = chunk.indexOf(LINE_FEED, start);
      if (!this.#skipping) this.#keep(chunk.subarray(start, end < 0 ? chunk.length : end));
      if (end < 0) return;
      if (this.#skipping) {
        this.#skipping = false;
      } else {
        this.#line(this.#take());
      }
      start = end + 1;
    }
  }

  #keep(piece) {
    if (this.#length + piece.length <= LINE_LIMIT) {
      if (piece.length > 0) this.#pieces.push(piece);
      this.#length += piece.length;
      return;
    }
    this.#pieces.push(piece.subarray(0, LINE_LIMIT - this.#length));
    this.#length = LINE_LIMIT;
    this.#skipping = true;
    this.#notARecord(this.#take(), `longer than ${LINE_LIMIT} bytes`);
  }

  #take() {
    const line = Buffer.concat(this.#pieces, this.#length);
    this.#pieces = [];
    this.#length = 0;
    return line;
  }

  #line(bytes) {
    const record = parseRecord(bytes);
    if (!record) {
      this.#notARecord(bytes);
      return;
    }
    this.emit("error" in record ? "error-record" : "record", record);
    this.#push({ record });
  }

  #notARecord(bytes, why) {
    const line = bytes.toString("utf8");
    const what = why ? `a line ${why}` : "a line that is not a record";
    this.#report(new CollectorError("not-a-record",
      `PalvernCollector (${this.#path}) wrote ${what}: ${shown(line)}`,
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

// The executable this package carries for this platform and architecture
// (bin/linux-x64/PalvernCollector, bin/win32-x64/PalvernCollector.exe), or
// else PalvernCollector from PATH. Inside an Electron app's archive a file can
// be read but not run: asarUnpack puts the folder beside the archive, in
// app.asar.unpacked, and it is run from there.
function defaultExecutable() {
  const name = process.platform === "win32" ? "PalvernCollector.exe" : "PalvernCollector";
  const here = dirname(fileURLToPath(import.meta.url));
  const carried = join(here, "bin", `${process.platform}-${process.arch}`, name)
    .replace(/([\\/])app\.asar([\\/])/, "$1app.asar.unpacked$2");
  return existsSync(carried) ? carried : name;
}

// Starts the collector at `path` (looked up on PATH when it has no slash);
// without one, the executable this package carries, else PalvernCollector
// (PalvernCollector.exe on Windows) from PATH.
export function spawnCollector({ path = defaultExecutable(), env } = {}) {
  return new Collector(path, env);
}

// ---------------------------------------------------------------------------
// What the collector can give on this desktop: its answer to --describe.

const AVAILABILITY_TYPES = new Set(["boolean", "string"]);
// The collector answers within its start deadline (a few seconds at most,
// whatever the desktop does); one that has not after this long is killed.
const DESCRIBE_TIMEOUT_MS = 10_000;

// The description the output of --describe holds (frozen), or null. Any
// text is taken as a member's value (true, false, "off", "no-extension"
// today), so that a collector with a new value still answers.
function parseDescription(bytes) {
  let text;
  try {
    text = strictUtf8.decode(bytes);
  } catch {
    return null;
  }
  if (!text.endsWith("\n") || text.indexOf("\n") !== text.length - 1) return null;
  let value;
  try {
    value = JSON.parse(text);
  } catch {
    return null;
  }
  const isObject = (v) => v !== null && typeof v === "object" && !Array.isArray(v);
  if (!isObject(value) || typeof value.version !== "string" ||
      typeof value.window_system !== "string" || !isObject(value.members)) {
    return null;
  }
  const members = Object.keys(value.members);
  const whole = members.length === SAMPLE_MEMBERS.length &&
    SAMPLE_MEMBERS.every((key) => AVAILABILITY_TYPES.has(typeof value.members[key]));
  if (!whole) return null;
  return Object.freeze({
    version: value.version,
    window_system: value.window_system,
    members: Object.freeze({ ...value.members }),
  });
}

// Runs the collector with --describe (it reads no input and ends by itself);
// resolves with the description, or rejects with a CollectorError: "missing",
// "exited" (any status but 0, or killed after `timeout` ms) or "not-a-record"
// (its output, in `line`, is not a description; only its first 1 MiB is
// read).
export function describe({ path = defaultExecutable(), env, timeout = DESCRIBE_TIMEOUT_MS } = {}) {
  return new Promise((resolve, reject) => {
    const cannotStart = (error) => reject(new CollectorError("missing",
      `PalvernCollector could not be started from ${path}: ${error.message}`,
      { path, code: error.code, cause: error }));
    // As a run is started: a file exec would hand to /bin/sh is refused.
    const file = process.platform === "linux" ? located(path, env) : null;
    const refusal = file === null ? null : formatError(file);
    if (refusal) {
      cannotStart(refusal);
      return;
    }
    const child = spawn(file ?? path, ["--describe"],
      { argv0: path, stdio: ["ignore", "pipe", "ignore"], env, windowsHide: true });
    const pieces = [];
    let length = 0;
    let startError = null;
    const timer = setTimeout(() => child.kill("SIGKILL"), timeout);
    child.stdout.on("error", () => {});
    child.stdout.on("data", (chunk) => {
      if (length <= LINE_LIMIT) pieces.push(chunk.subarray(0, LINE_LIMIT + 1 - length));
      length = Math.min(length + chunk.length, LINE_LIMIT + 1);
      if (length > LINE_LIMIT) child.kill("SIGKILL");  // no description is that long
    });
    child.on("error", (error) => {
      if (child.pid === undefined) startError = error;  // else a failed kill
    });
    child.on("close", (status, signal) => {
      clearTimeout(timer);
      const output = Buffer.concat(pieces).subarray(0, LINE_LIMIT);
      const description = length <= LINE_LIMIT ? parseDescription(output) : null;
      if (startError) {
        cannotStart(startError);
      } else if (status !== 0 && length <= LINE_LIMIT) {
        const how = signal ? `was ended by ${signal}` : `exited with status ${status}`;
        reject(new CollectorError("exited",
          `PalvernCollector (${path}) ${how} when asked to describe`, { path, status, signal }));
      } else if (description) {
        resolve(description);
      } else {
        const line = output.toString("utf8");
        reject(new CollectorError("not-a-record", `PalvernCollector (${path}) answered ` +
          `--describe with what is not a description: ${shown(line)}`, { path, line }));
      }
    });
  });
}
