"""The Python host library's choices for Windows, run here: without a path it
starts PalvernCollector.exe from PATH. (Against the real collector under
Wine: tests/windows/hosts_wine_test.py.)"""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HOSTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DEADLINE = 60


class DefaultExecutable(unittest.TestCase):
    def test_on_windows_the_exe_is_started_from_path(self):
        with tempfile.TemporaryDirectory(prefix="palvern-python-") as scratch:
            for name in ("PalvernCollector", "PalvernCollector.exe"):
                stand_in = os.path.join(scratch, name)
                with open(stand_in, "w") as script:
                    script.write(f"#!/bin/sh\necho '{name}'\nexec /bin/cat >/dev/null\n")
                os.chmod(stand_in, 0o755)
            # The library as it is on Windows: sys.platform is read when it is
            # imported (asyncio and subprocess are imported before, as the
            # platform they run on).
            program = textwrap.dedent(f"""
                import asyncio, subprocess, sys
                sys.platform = "win32"
                sys.path.insert(0, {HOSTS!r})
                from palvern_collector import Collector, NotARecord
                with Collector(env={{"PATH": {scratch!r}}}) as collector:
                    try:
                        next(collector)
                    except NotARecord as line:
                        print(line.line.decode().strip())
                print(collector.status)
                """)
            result = subprocess.run([sys.executable, "-c", program], capture_output=True, timeout=DEADLINE)
            self.assertEqual((result.stdout, result.stderr), (b"PalvernCollector.exe\n0\n", b""))


if __name__ == "__main__":
    unittest.main()
