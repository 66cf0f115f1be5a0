"""The host libraries against the collector under Wine, as a host on Windows
runs it: the executable they start is a script that runs PalvernCollector.exe
with Wine on a Windows desktop of the test's own (see wine_desktop.py), where
a test window is in front.

Environment: as wine_desktop.py; PALVERN_NODE, the Node executable.
"""

import asyncio
import json
import os
import shlex
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
HOSTS = os.path.normpath(os.path.join(HERE, "..", "..", "hosts"))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HOSTS, "python"))
from palvern_collector import AsyncCollector, Collector, Sample  # noqa: E402
from wine_desktop import COLLECTOR, DEADLINE, WineDesktop, skip_or_fail  # noqa: E402

NODE = os.environ.get("PALVERN_NODE", "node")
TITLE = "Host window"
# What the test window in front gives every record.
FRONT = {"process": 'Palvern "Test" Window \\ Ω', "bundle_id": "C:\\palvern\\test_window.exe",
         "url": "", "window_title": TITLE}


def front(record):
    return {key: getattr(record, key) if isinstance(record, Sample) else record[key] for key in FRONT}


class HostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        skip_or_fail(cls)
        cls.desktop = WineDesktop()
        cls.addClassCleanup(cls.desktop.close)
        window = cls.desktop.test_window(TITLE)
        cls.desktop.activate(window.x(0))
        scratch = tempfile.mkdtemp(prefix="palvern-hosts-wine-")
        cls.addClassCleanup(subprocess.run, ["rm", "-rf", scratch])
        # The collector as a host sees it: one executable, the Wine process
        # in its place (exec), so that its pipes and status are the host's.
        cls.executable = os.path.join(scratch, "PalvernCollector")
        with open(cls.executable, "w") as script:
            script.write("#!/bin/sh\nexec " + shlex.join(cls.desktop.argv(["wine", COLLECTOR])) + "\n")
        os.chmod(cls.executable, stat.S_IRWXU)


class Python(HostTest):
    def test_records_then_stop_gives_0(self):
        with Collector(self.executable) as collector:
            start = next(collector)
            refresh = next(collector)
        self.assertEqual((start.event, refresh.event), ("start", "refresh"))
        self.assertEqual((front(start), front(refresh)), (FRONT, FRONT))
        self.assertEqual((collector.status, collector.signal), (0, None))

    def test_asyncio(self):
        async def run():
            async with AsyncCollector(self.executable) as collector:
                start = await asyncio.wait_for(collector.__anext__(), DEADLINE)
            return start, collector.status

        start, status = asyncio.run(run())
        self.assertEqual((start.event, front(start), status), ("start", FRONT, 0))


class Node(HostTest):
    def test_records_then_stop_gives_0(self):
        program = textwrap.dedent(f"""
            import {{ spawnCollector }} from {json.dumps(os.path.join(HOSTS, "node", "index.js"))};
            const collector = spawnCollector({{ path: {json.dumps(self.executable)} }});
            collector.on("error", (error) => console.log(JSON.stringify({{ error: error.message }})));
            const records = [];
            for await (const record of collector) {{
              records.push(record);
              if (records.length === 2) break;
            }}
            console.log(JSON.stringify({{ records, status: await collector.stop() }}));
            """)
        result = subprocess.run([NODE, "--input-type=module", "-e", program], capture_output=True,
                                timeout=4 * DEADLINE)
        self.assertEqual(result.stderr, b"")
        outcome = json.loads(result.stdout)
        self.assertEqual([r["event"] for r in outcome["records"]], ["start", "refresh"])
        self.assertEqual([front(r) for r in outcome["records"]], [FRONT, FRONT])
        self.assertEqual(outcome["status"], 0)


if __name__ == "__main__":
    unittest.main()
