// The Node host library's choices for Windows, run here: without a path it
// starts PalvernCollector.exe from PATH. (Against the real collector under
// Wine: tests/windows/hosts_wine_test.py.)
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { chmodSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, test } from "node:test";
import { fileURLToPath } from "node:url";

const DEADLINE_MS = 60_000;
const INDEX = fileURLToPath(new URL("../index.js", import.meta.url));

const scratch = mkdtempSync(join(tmpdir(), "palvern-node-"));
after(() => rmSync(scratch, { recursive: true, force: true }));

test("on Windows, PalvernCollector.exe is started from PATH", async () => {
  for (const name of ["PalvernCollector", "PalvernCollector.exe"]) {
    const path = join(scratch, name);
    writeFileSync(path, `#!/bin/sh\necho '${name}'\nexec /bin/cat >/dev/null\n`);
    chmodSync(path, 0o755);
  }
  // The library as it is on Windows: process.platform is read when it is imported.
  const program = `
    Object.defineProperty(process, "platform", { value: "win32" });
    const { spawnCollector } = await import(${JSON.stringify(INDEX)});
    const collector = spawnCollector({ env: { PATH: ${JSON.stringify(scratch)} } });
    collector.on("error", async (error) => {
      console.log(error.kind, error.line);
      console.log(await collector.stop());
    });`;
  const output = await new Promise((resolve, reject) => {
    execFile(process.execPath, ["--input-type=module", "-e", program], { timeout: DEADLINE_MS },
      (error, stdout, stderr) => (error ? reject(error) : resolve([stdout, stderr])));
  });
  assert.deepEqual(output, ["not-a-record PalvernCollector.exe\n0\n", ""]);
});
