// How long the Node host library takes to read large lines: a stand-in
// collector (cat of a prepared file) writes them as fast as the pipe takes
// them, and the time runs from the start to the "exit" event.
//   node bench/hosts/line_reader.mjs
import { mkdtempSync, rmSync, writeFileSync, chmodSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { performance } from "node:perf_hooks";

import { spawnCollector } from "../../hosts/node/index.js";

const MiB = 1024 * 1024;

function sample(title) {
  return JSON.stringify({
    event: "refresh", process: "Bench", bundle_id: "", idle_seconds: 0, url: "",
    window_title: title, keys_total: 0, clicks_total: 0,
  });
}

// [name, the lines, how many of them are records]
const CASES = [
  ["10000 records of 1 KiB", Array(10000).fill(sample("t".repeat(1024))), 10000],
  ["50 records of 1 MiB less a little", Array(50).fill(sample("t".repeat(MiB - 200))), 50],
  ["one line of 36 MB, then a record", ["x".repeat(36_000_000), sample("after")], 1],
];

const scratch = mkdtempSync(join(tmpdir(), "palvern-bench-"));
try {
  for (const [name, lines, expected] of CASES) {
    const data = join(scratch, "lines");
    writeFileSync(data, lines.join("\n") + "\n");
    const path = join(scratch, "collector");
    writeFileSync(path, `#!/bin/sh\nexec cat '${data}'\n`);
    chmodSync(path, 0o755);

    const started = performance.now();
    const collector = spawnCollector({ path });
    let records = 0;
    let errors = 0;
    collector.on("record", () => { records += 1; });
    collector.on("error", () => { errors += 1; });
    await new Promise((resolve) => collector.on("exit", resolve));
    const seconds = (performance.now() - started) / 1000;
    const megabytes = lines.reduce((sum, line) => sum + line.length + 1, 0) / 1e6;
    // The stand-in ends by itself: one of the errors is its "exited".
    console.log(`${name}: ${seconds.toFixed(3)} s for ${megabytes.toFixed(1)} MB, ` +
      `${records} records (${expected} expected), ${errors - 1} not records`);
  }
} finally {
  rmSync(scratch, { recursive: true, force: true });
}
