// describe() against the real executable (PALVERN_COLLECTOR) without a
// display and against stand-in programs; and where the library finds the
// executable when the host names none: the one the package carries, from
// app.asar.unpacked inside an Electron app, else PATH.
import assert from "node:assert/strict";
import { chmodSync, copyFileSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { after, describe as suite, test } from "node:test";
import { fileURLToPath, pathToFileURL } from "node:url";

import { CollectorError, describe } from "../index.js";

const COLLECTOR = process.env.PALVERN_COLLECTOR ?? "PalvernCollector";
const DEADLINE_MS = 60_000;
const LIBRARY = join(dirname(fileURLToPath(import.meta.url)), "..", "index.js");
const NO_DISPLAY = { ...process.env, WAYLAND_DISPLAY: "palvern-no-compositor" };
delete NO_DISPLAY.DISPLAY;
const NOTHING = {
  version: "0.1.0", window_system: "none",
  members: { event: true, process: false, bundle_id: false, idle_seconds: false, url: false,
    window_title: false, keys_total: false, clicks_total: false },
};
const CARRIED_NAME = process.platform === "win32" ? "PalvernCollector.exe" : "PalvernCollector";
const PLATFORM_ARCH = `${process.platform}-${process.arch}`;

const scratch = mkdtempSync(join(tmpdir(), "palvern-node-describe-"));
after(() => rmSync(scratch, { recursive: true, force: true }));

// An executable shell script at `path` standing in for the collector.
function script(path, body, mode = 0o755) {
  mkdirSync(dirname(path), { recursive: true });
  writeFileSync(path, `#!/bin/sh\n${body}\n`);
  chmodSync(path, mode);
  return path;
}

// A stand-in whose description names it by its version: it answers --describe
// with that, and writes a start record when run without arguments.
function standIn(path, name) {
  const description = JSON.stringify({ ...NOTHING, version: name });
  const start = JSON.stringify({ event: "start", process: name, bundle_id: "", idle_seconds: 0, url: "",
    window_title: "", keys_total: 0, clicks_total: 0 });
  return script(path, `if [ "$1" = --describe ]; then echo '${description}'; else echo '${start}'; exec cat >/dev/null; fi`);
}

function within(promise, what) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`no ${what} within ${DEADLINE_MS} ms`)), DEADLINE_MS);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

async function rejection(promise) {
  try {
    await within(promise, "answer");
  } catch (error) {
    assert.ok(error instanceof CollectorError, String(error));
    return error;
  }
  assert.fail("describe() resolved");
}

suite("describe()", { timeout: 4 * DEADLINE_MS }, () => {
  test("the real collector without a display: nothing, with the build's version", async () => {
    const description = await within(describe({ path: COLLECTOR, env: NO_DISPLAY }), "description");
    assert.deepEqual(description, { ...NOTHING, version: description.version });
    assert.match(description.version, /^\d+\.\d+\.\d+$/);
    assert.ok(Object.isFrozen(description) && Object.isFrozen(description.members));
  });

  test("values and window systems a newer collector may give are taken", async () => {
    const newer = { version: "9.0.0", window_system: "haiku",
      members: { ...NOTHING.members, url: "needs-consent", process: true } };
    const path = script(join(scratch, "newer"), `echo '${JSON.stringify(newer)}'`);
    assert.deepEqual(await within(describe({ path }), "description"), newer);
  });

  const failures = [
    { name: "a missing executable", body: null, error: { kind: "missing", code: "ENOENT" } },
    { name: "a file that is not executable", body: "exit 0", mode: 0o644,
      error: { kind: "missing", code: "EACCES" } },
    { name: "a file exec would hand to the shell", content: "echo '{}'\n",
      error: { kind: "missing", code: "ENOEXEC" } },
    { name: "an answer past 1 MiB", body: "head -c 2000000 /dev/zero | tr '\\0' x",
      error: { kind: "not-a-record" }, line: "x".repeat(1024 * 1024) },
    { name: "a status other than 0", body: `echo '${JSON.stringify(NOTHING)}'; exit 3`,
      error: { kind: "exited", status: 3, signal: null } },
    { name: "no answer before the timeout", body: "exec sleep 600", timeout: 200,
      error: { kind: "exited", status: null, signal: "SIGKILL" } },
    ...[
      ["nothing", ""],
      ["no line feed", JSON.stringify(NOTHING)],
      ["two lines", `${JSON.stringify(NOTHING)}\n${JSON.stringify(NOTHING)}\n`],
      ["a record", '{"error":"x"}\n'],
      ["a member missing", `${JSON.stringify({ ...NOTHING, members: { ...NOTHING.members, url: undefined } })}\n`],
      ["a member more", `${JSON.stringify({ ...NOTHING, members: { ...NOTHING.members, pid: true } })}\n`],
      ["a number for true", `${JSON.stringify({ ...NOTHING, members: { ...NOTHING.members, url: 1 } })}\n`],
      ["no version", `${JSON.stringify({ ...NOTHING, version: undefined })}\n`],
    ].map(([name, output]) => {
      const answer = join(scratch, `answer-${name.replace(/\W+/g, "-")}`);
      writeFileSync(answer, output);
      return { name: `output that is no description: ${name}`, body: `cat '${answer}'`,
        error: { kind: "not-a-record", line: output } };
    }),
  ];
  for (const { name, body, content, mode, timeout, error, line } of failures) {
    test(name, async () => {
      const path = join(scratch, name.replace(/\W+/g, "-"));
      if (content !== undefined) {
        writeFileSync(path, content, { mode: 0o755 });
      } else if (body !== null) {
        script(path, body, mode);
      }
      const failure = await rejection(describe({ path, timeout }));
      assert.equal(failure.path, path);
      assert.deepEqual(Object.fromEntries(Object.keys(error).map((key) => [key, failure[key]])), error);
      if (line !== undefined) assert.ok(failure.line === line, "the line is the first 1 MiB");
    });
  }
});

suite("the executable a host names none for", { timeout: 4 * DEADLINE_MS }, () => {
  // A copy of the library at `folder`/node_modules/palvern-collector, as npm installs it.
  async function installedAt(folder) {
    const packageDir = join(folder, "node_modules", "palvern-collector");
    mkdirSync(packageDir, { recursive: true });
    copyFileSync(LIBRARY, join(packageDir, "index.js"));
    writeFileSync(join(packageDir, "package.json"), '{"type":"module"}\n');
    return { packageDir, library: await import(pathToFileURL(join(packageDir, "index.js")).href) };
  }
  const onPath = join(scratch, "path");
  standIn(join(onPath, "PalvernCollector"), "from PATH");
  const env = { ...NO_DISPLAY, PATH: `${onPath}:/usr/bin:/bin` };

  test("the one the package carries for this platform, before PATH", async () => {
    const { packageDir, library } = await installedAt(join(scratch, "carried"));
    assert.equal((await within(library.describe({ env }), "description")).version, "from PATH");
    standIn(join(packageDir, "bin", "other-arch", CARRIED_NAME), "another platform's");
    standIn(join(packageDir, "bin", PLATFORM_ARCH, CARRIED_NAME), "carried");
    assert.equal((await within(library.describe({ env }), "description")).version, "carried");
    const collector = library.spawnCollector({ env });
    const [first] = await within(new Promise((resolve) => collector.once("record", (r) => resolve([r]))), "record");
    assert.equal(first.process, "carried");
    assert.equal(await within(collector.stop(), "exit"), 0);
  });

  test("inside an Electron app's archive, the unpacked copy beside it", async () => {
    const resources = join(scratch, "electron", "resources");
    const { packageDir, library } = await installedAt(join(resources, "app.asar"));
    // Packed into the archive only: it cannot be run from there.
    standIn(join(packageDir, "bin", PLATFORM_ARCH, CARRIED_NAME), "inside the archive");
    assert.equal((await within(library.describe({ env }), "description")).version, "from PATH");
    standIn(join(resources, "app.asar.unpacked", "node_modules", "palvern-collector", "bin", PLATFORM_ARCH,
      CARRIED_NAME), "unpacked");
    assert.equal((await within(library.describe({ env }), "description")).version, "unpacked");
  });
});
