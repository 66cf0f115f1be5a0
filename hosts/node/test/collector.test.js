// The Node host library against the real executable (PALVERN_COLLECTOR), run
// without a display, and against small stand-in programs for what the real
// one never does.
import assert from "node:assert/strict";
import { chmodSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
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

const scratch = mkdtempSync(join(tmpdir(), "palvern-node-"));
after(() => rmSync(scratch, { recursive: true, force: true }));

// An executable shell script standing in for the collector.
function script(name, body, mode = 0o755) {
  const path = join(scratch, name);
  writeFileSync(path, `#!/bin/sh\n${body}\n`);
  chmodSync(path, mode);
  return path;
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
  ];
  for (const { name, path: makePath, records, error } of cases) {
    test(name, async () => {
      const path = makePath();
      const collector = spawnCollector({ path, env: NO_DISPLAY });
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
    });
  }

  test("without an error listener nothing is thrown", async () => {
    const collector = spawnCollector({ path: join(scratch, "no-such-collector") });
    assert.equal(await within(collector.stop(), "exit"), null);
  });

  test("a line that is not a record is reported whole, and reading goes on", async () => {
    const long = "x".repeat(100_000);
    const path = script("not-records",
      `printf 'hello\\n{"error":"x"}\\n${long}\\n{"event":"start"}\\n'; exec cat >/dev/null`);
    const collector = spawnCollector({ path });
    const errors = [];
    collector.on("error", (error) => errors.push(error));
    const errorRecord = new Promise((resolve) => collector.on("error-record", resolve));
    const seen = drain(collector[Symbol.asyncIterator]());
    assert.deepEqual(await within(errorRecord, "error record"), { error: "x" });
    while (errors.length < 3) await within(new Promise((resolve) => collector.once("error", resolve)), "error");
    assert.equal(await within(collector.stop(), "exit"), 0);
    const lines = errors.map((error) => [error.kind, error.line === long ? "the long line" : error.line]);
    assert.deepEqual(lines, [
      ["not-a-record", "hello"], ["not-a-record", "the long line"], ["not-a-record", '{"event":"start"}']]);
    assert.ok(errors[1].message.length < 400, "the message shows only the line's start");
    assert.deepEqual(await seen, [errors[0], { error: "x" }, errors[1], errors[2]]);
  });
});

test("parseRecord takes records and nothing else", () => {
  const sample = JSON.stringify(START_RECORD);
  const records = [sample, JSON.stringify(ERROR_RECORD),
    JSON.stringify({ ...START_RECORD, keys_total: Number.MAX_SAFE_INTEGER })];
  for (const line of records) assert.deepEqual(parseRecord(line), JSON.parse(line), line);
  const notRecords = [
    "", "hello", "null", "[]", '"start"', `${sample}x`, '{"error":1}', '{"error":"x","event":"start"}',
    sample.replace('"url":"",', ""),
    sample.replace('"clicks_total":0', '"clicks_total":0,"pid":1'),
    sample.replace('"idle_seconds":0', '"idle_seconds":-1'),
    sample.replace('"idle_seconds":0', '"idle_seconds":0.5'),
    sample.replace('"keys_total":0', '"keys_total":"0"'),
    sample.replace('"process":"Unknown"', '"process":null'),
    sample.replace('"start"', '"blur"'),
  ];
  for (const line of notRecords) assert.equal(parseRecord(line), null, line);
});
