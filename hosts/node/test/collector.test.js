// The Node host library against the real executable (PALVERN_COLLECTOR), run
// without a display, and against small stand-in programs for what the real
// one never does.
import assert from "node:assert/strict";
import { chmodSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { after, describe, test } from "node:test";

import { CollectorError, parseRecord, spawnCollector } from "../index.js";

const COLLECTOR = process.env.PALVERN_COLLECTOR ?? "PalvernCollector";
// Every wait is for an event, bound by a deadline generous enough for a
// loaded machine.
const DEADLINE_MS = 60_000;
const NO_DISPLAY = { ...process.env, WAYLAND_DISPLAY: "palvern-no-compositor" };
delete NO_DISPLAY.DISPLAY;

const ERROR_RECORD = {
  error: "Accessibility permission is not granted; window titles cannot be read.",
};
const START_RECORD = {
  event: "start", process: "Unknown", bundle_id: "", idle_seconds: 0, url: "",
  window_title: "", keys_total: 0, clicks_total: 0,
};
const START_LINE = JSON.stringify(START_RECORD);
const LINE_LIMIT = 1024 * 1024;
// An ELF header for a machine no one runs (VAX): exec refuses it with ENOEXEC.
const FOREIGN_ELF = Buffer.alloc(64);
Buffer.from("\x7fELF\x02\x01\x01", "latin1").copy(FOREIGN_ELF);
FOREIGN_ELF.writeUInt16LE(2, 16);
FOREIGN_ELF.writeUInt16LE(75, 18);
FOREIGN_ELF.writeUInt32LE(1, 20);

const scratch = mkdtempSync(join(tmpdir(), "palvern-node-"));
after(() => rmSync(scratch, { recursive: true, force: true }));

// An executable shell script standing in for the collector.
function script(name, body, mode = 0o755) {
  return file(name, `#!/bin/sh\n${body}\n`, mode);
}

function file(name, content, mode = 0o755) {
  const path = join(scratch, name);
  writeFileSync(path, content);
  chmodSync(path, mode);
  return path;
}

// A stand-in that writes these bytes, then waits for its input to end.
function writes(name, lines) {
  const data = file(`${name}.lines`, lines, 0o644);
  return script(name, `cat '${data}'; exec cat >/dev/null`);
}

function within(promise, what) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`no ${what} within ${DEADLINE_MS} ms`)), DEADLINE_MS);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// The records and errors an iterator gives until it is done.
async function drain(iterator) {
  const seen = [];
  for (;;) {
    try {
      const { done, value } = await within(iterator.next(), "record");
      if (done) return seen;
      seen.push(value);
    } catch (error) {
      if (!(error instanceof CollectorError)) throw error;
      seen.push(error);
    }
  }
}

describe("the real collector, no display", { timeout: 4 * DEADLINE_MS }, () => {
  test("error record, start, a refresh, then stop() resolves with 0", async () => {
    const collector = spawnCollector({ path: COLLECTOR, env: NO_DISPLAY });
    const emitted = [];
    collector.on("record", (record) => emitted.push(["record", record]));
    collector.on("error-record", (record) => emitted.push(["error-record", record]));
    collector.on("error", (error) => emitted.push(["error", error]));
    const exited = new Promise((resolve) => collector.on("exit", (...args) => resolve(args)));

    const iterator = collector[Symbol.asyncIterator]();
    const first = await within(iterator.next(), "error record");
    const second = await within(iterator.next(), "start record");
    const third = await within(iterator.next(), "refresh record");
    assert.deepEqual(first.value, ERROR_RECORD);
    assert.deepEqual(second.value, START_RECORD);
    assert.deepEqual(Object.keys(second.value), Object.keys(START_RECORD));
    assert.deepEqual(third.value, { ...START_RECORD, event: "refresh" });
    assert.ok(Object.isFrozen(second.value));

    assert.equal(await within(collector.stop(), "exit"), 0);
    assert.deepEqual(await exited, [0, null]);
    assert.deepEqual(await iterator.next(), { done: true, value: undefined });
    assert.deepEqual(emitted, [
      ["error-record", first.value], ["record", second.value], ["record", third.value]]);
    assert.equal(await collector.stop(), 0, "a second stop() gives the same status");
  });

  test("a for await loop sees records from the first; breaking out leaves it running", async () => {
    const collector = spawnCollector({ path: COLLECTOR, env: NO_DISPLAY });
    const seen = [];
    for await (const record of collector) {
      seen.push(record);
      if ("event" in record) break;
    }
    assert.deepEqual(seen, [ERROR_RECORD, START_RECORD]);
    // Still running: the next refresh comes, to a new iterator.
    const next = await within(collector[Symbol.asyncIterator]().next(), "refresh record");
    assert.deepEqual(next.value, { ...START_RECORD, event: "refresh" });
    assert.equal(await within(collector.stop(), "exit"), 0);
  });
});

describe("errors are reported, never thrown into the event loop", { timeout: 4 * DEADLINE_MS }, () => {
  const cases = [
    {
      name: "the collector ends by itself (its input closed at start)",
      path: () => script("closed-input", `exec "${COLLECTOR}" <&-`),
      // Once start-up sees its input end it writes nothing more; what it
      // found out before (no display: the error record, true) may come first.
      records: (seen) => seen.length === 0 || assert.deepEqual(seen[0], ERROR_RECORD),
      error: { kind: "exited", status: 0, signal: null },
    },
    {
      name: "a last line cut off by the exit",
      path: () => script("cut-off", `printf '{"error":"x"}'`),
      records: (seen) => assert.deepEqual(seen.map((e) => [e.kind, e.line]), [["not-a-record", '{"error":"x"}']]),
      error: { kind: "exited", status: 0, signal: null },
    },
    {
      name: "a last line too long, cut off by the exit",
      path: () => script("cut-off-long", "head -c 3000000 /dev/zero | tr '\\0' x"),
      records: (seen) => assert.deepEqual(seen.map((e) => [e.kind, e.line]),
        [["not-a-record", "x".repeat(LINE_LIMIT)]]),
      error: { kind: "exited", status: 0, signal: null },
    },
    {
      name: "a program that fails",
      path: () => script("fails", "exit 3"),
      error: { kind: "exited", status: 3, signal: null },
    },
    {
      name: "a program killed by a signal",
      path: () => script("killed", "kill -KILL $$"),
      error: { kind: "exited", status: null, signal: "SIGKILL" },
    },
    {
      name: "a missing executable",
      path: () => join(scratch, "no-such-collector"),
      error: { kind: "missing", code: "ENOENT" },
    },
    {
      name: "a file that is not executable",
      path: () => script("not-executable", "exit 0", 0o644),
      error: { kind: "missing", code: "EACCES" },
    },
    // Exec would have /bin/sh run each of these as a shell script.
    {
      name: "a text file without #!",
      path: () => file("no-interpreter", `touch '${join(scratch, "ran")}'\n`),
      error: { kind: "missing", code: "ENOEXEC" },
    },
    {
      name: "the same, found on PATH",
      path: () => (file("no-interpreter", `touch '${join(scratch, "ran")}'\n`), "no-interpreter"),
      env: { ...NO_DISPLAY, PATH: scratch },
      error: { kind: "missing", code: "ENOEXEC" },
    },
    {
      name: "an ELF executable for another machine",
      path: () => file("foreign", FOREIGN_ELF),
      error: { kind: "missing", code: "ENOEXEC" },
    },
    {
      name: "an empty file",
      path: () => file("empty", ""),
      error: { kind: "missing", code: "ENOEXEC" },
    },
  ];
  for (const { name, path: makePath, env = NO_DISPLAY, records, error } of cases) {
    test(name, async () => {
      const path = makePath();
      const collector = spawnCollector({ path, env });
      const exited = new Promise((resolve) => collector.on("exit", (...args) => resolve(args)));
      const seen = await drain(collector[Symbol.asyncIterator]());
      const failure = seen.at(-1);
      assert.ok(failure instanceof CollectorError, String(failure));
      assert.equal(failure.path, path);
      assert.deepEqual(
        Object.fromEntries(Object.keys(error).map((key) => [key, failure[key]])), error);
      assert.match(failure.message, new RegExp(path.replace(/[.*+?^${}()|[\]\\]/g, "\\$&")));
      records?.(seen.slice(0, -1));
      const status = error.kind === "missing" ? null : error.status;
      assert.deepEqual(await within(exited, "exit"), [status, error.signal ?? null]);
      assert.equal(await collector.stop(), status);
      // An iterator made afterwards hears the same, then is done.
      const late = await drain(collector[Symbol.asyncIterator]());
      assert.deepEqual(late, [failure]);
      assert.ok(!existsSync(join(scratch, "ran")), "a file that is not an executable was run");
    });
  }

  test("without an error listener nothing is thrown", async () => {
    const collector = spawnCollector({ path: join(scratch, "no-such-collector") });
    assert.equal(await within(collector.stop(), "exit"), null);
  });

  test("a line that is not a record is reported whole, and reading goes on", async () => {
    const long = "x".repeat(100_000);
    const path = script("not-records",
      `printf 'hello\\n{"error":"x"}\\n${long}\\n{"error":"\\377"}\\n{"event":"start"}\\n'; exec cat >/dev/null`);
    const collector = spawnCollector({ path });
    const errors = [];
    collector.on("error", (error) => errors.push(error));
    const errorRecord = new Promise((resolve) => collector.on("error-record", resolve));
    const seen = drain(collector[Symbol.asyncIterator]());
    assert.deepEqual(await within(errorRecord, "error record"), { error: "x" });
    while (errors.length < 4) await within(new Promise((resolve) => collector.once("error", resolve)), "error");
    assert.equal(await within(collector.stop(), "exit"), 0);
    const lines = errors.map((error) => [error.kind, error.line === long ? "the long line" : error.line]);
    assert.deepEqual(lines, [["not-a-record", "hello"], ["not-a-record", "the long line"],
      ["not-a-record", '{"error":"\ufffd"}'], ["not-a-record", '{"event":"start"}']]);
    assert.ok(errors[1].message.length < 400, "the message shows only the line's start");
    assert.deepEqual(await seen, [errors[0], { error: "x" }, errors[1], errors[2], errors[3]]);
  });

  test("a line over 1 MiB is refused by its start, and reading goes on", async () => {
    const padding = LINE_LIMIT - START_LINE.length;
    const longest = START_LINE.replace('"window_title":""', `"window_title":"${"t".repeat(padding)}"`);
    assert.equal(longest.length, LINE_LIMIT);
    const output = [longest, "y".repeat(LINE_LIMIT + 1), "z".repeat(5_000_000), START_LINE];
    const collector = spawnCollector({ path: writes("long-lines", `${output.join("\n")}\n`) });
    const iterator = collector[Symbol.asyncIterator]();
    const seen = [];
    while (seen.length < output.length) {
      try {
        seen.push((await within(iterator.next(), "record")).value);
      } catch (error) {
        seen.push(error);
      }
    }
    assert.equal(await within(collector.stop(), "exit"), 0);
    assert.deepEqual(seen[0], { ...START_RECORD, window_title: "t".repeat(padding) });
    assert.deepEqual(seen.slice(1, 3).map((e) => [e.kind, e.line]),
      [["not-a-record", "y".repeat(LINE_LIMIT)], ["not-a-record", "z".repeat(LINE_LIMIT)]]);
    assert.match(seen[1].message, new RegExp(`longer than ${LINE_LIMIT} bytes`));
    assert.deepEqual(seen[3], START_RECORD);
  });
});

// Lines both host libraries take as records, and refuse, the same way.
function sharedCases() {
  const path = join(dirname(fileURLToPath(import.meta.url)), "..", "..", "test-lines.txt");
  const cases = [];
  let name;
  for (const text of readFileSync(path, "utf8").split("\n")) {
    if (text.startsWith("# ")) {
      name = text.slice(2);
    } else if (text !== "") {
      const space = text.indexOf(" ");
      const mark = space < 0 ? text : text.slice(0, space);
      const line = space < 0 ? "" : text.slice(space + 1);
      cases.push({ name, line: mark === "-x" ? Buffer.from(line, "hex") : Buffer.from(line), isRecord: mark === "+" });
    }
  }
  return cases;
}

test("parseRecord: the cases both libraries share", () => {
  for (const { name, line, isRecord } of sharedCases()) {
    const record = parseRecord(line);
    if (isRecord) {
      assert.deepEqual(record, JSON.parse(line.toString()), name);
    } else {
      assert.equal(record, null, name);
    }
    const text = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
    let decoded = null;
    try {
      decoded = text.decode(line);
    } catch {
      continue;  // not UTF-8: no string holds it
    }
    assert.deepEqual(parseRecord(decoded), record, `${name}, as a string`);
  }
});

test("parseRecord takes records and nothing else", () => {
  const records = [START_LINE, JSON.stringify(ERROR_RECORD),
    JSON.stringify({ ...START_RECORD, keys_total: Number.MAX_SAFE_INTEGER })];
  for (const line of records) assert.deepEqual(parseRecord(line), JSON.parse(line), line);
  assert.ok(Object.isFrozen(parseRecord(START_LINE)));
  const notRecords = [
    ["nested deep", `${"[".repeat(200_000)}${"]".repeat(200_000)}`],
    ["a title nested deep", START_LINE.replace('"window_title":""',
      `"window_title":${'{"a":'.repeat(200_000)}1${"}".repeat(200_000)}`)],
  ];
  for (const [name, line] of notRecords) assert.equal(parseRecord(line), null, name);
});
