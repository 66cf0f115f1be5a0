"""The executable as it ships: what it asks of the machine it runs on, and a
run in a root that holds nothing but the C library.

Environment: PALVERN_COLLECTOR (the executable), PALVERN_GLIBC_FLOOR (the
newest glibc it may need, the one the README states), PALVERN_OBJDUMP (an
objdump that reads its architecture; default objdump), PALVERN_EMPTY_ROOT=1
to run it in the root (chroot: root only, and the build machine's
architecture).
"""

import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from record_check import parse_line  # noqa: E402

COLLECTOR = os.environ["PALVERN_COLLECTOR"]
GLIBC_FLOOR = tuple(int(part) for part in os.environ["PALVERN_GLIBC_FLOOR"].split("."))
OBJDUMP = os.environ.get("PALVERN_OBJDUMP", "objdump")
EMPTY_ROOT = os.environ.get("PALVERN_EMPTY_ROOT") == "1"
# The C library's parts, and nothing else: every other library is opened at
# run time, when it is there.
C_LIBRARY = re.compile(r"^(libc\.so\.6|libm\.so\.6|libdl\.so\.2|libpthread\.so\.0|ld-linux-[\w-]+\.so\.\d+)$")

ERROR_LINE = (b'{"error":"Accessibility permission is not granted; '
              b'window titles cannot be read."}\n')
START_LINE = (b'{"event":"start","process":"Unknown","bundle_id":"","idle_seconds":0,'
              b'"url":"","window_title":"","keys_total":0,"clicks_total":0}\n')
DEADLINE = 30


def objdump(*args):
    return subprocess.run([OBJDUMP, *args, COLLECTOR], check=True, capture_output=True, text=True).stdout


class Linking(unittest.TestCase):
    def test_needs_the_c_library_alone(self):
        needed = re.findall(r"^\s*NEEDED\s+(\S+)$", objdump("-p"), re.M)
        self.assertIn("libc.so.6", needed)
        self.assertEqual([name for name in needed if not C_LIBRARY.match(name)], [], needed)

    def test_symbol_versions_within_the_floor_and_no_cxx_runtime(self):
        versions = set(re.findall(r"\(?\b((?:GLIBC|GLIBCXX|CXXABI|GCC)_[0-9A-Z_.]+)\)?", objdump("-T")))
        glibc = {v for v in versions if re.fullmatch(r"GLIBC_[0-9.]+", v)}
        self.assertTrue(glibc, versions)
        newest = max(tuple(int(part) for part in v[len("GLIBC_"):].split(".")) for v in glibc)
        self.assertLessEqual(newest, GLIBC_FLOOR, sorted(glibc))
        # libstdc++ and libgcc are inside: none of their versions is asked for.
        self.assertEqual(sorted(versions - glibc - {"GLIBC_PRIVATE"}), [])
        self.assertNotIn("GLIBC_PRIVATE", versions)


@unittest.skipUnless(EMPTY_ROOT, "PALVERN_EMPTY_ROOT is not set")
@unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "chroot needs root")
class EmptyRoot(unittest.TestCase):
    """A root with the loader and the C library (what ldd names), the
    executable, a runtime folder with a compositor's socket in it, and
    nothing else: every window system finds its library missing, one after
    the other, and the collector reports no desktop."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-root-")
        self.addCleanup(scratch.cleanup)
        self.root = scratch.name
        listed = subprocess.run(["ldd", COLLECTOR], check=True, capture_output=True, text=True).stdout
        libraries = re.findall(r"(/\S+) \(0x", listed)
        self.assertEqual([p for p in libraries if not C_LIBRARY.match(os.path.basename(p))], [], listed)
        for path in libraries:
            os.makedirs(self.root + os.path.dirname(path), exist_ok=True)
            shutil.copy(path, self.root + path)  # the file a link names, as the link's name
        shutil.copy(COLLECTOR, os.path.join(self.root, "PalvernCollector"))
        # A compositor's socket that accepts and never answers, and a display
        # name: they are there, only the libraries to use them are not.
        os.mkdir(os.path.join(self.root, "run"), 0o700)
        self.compositor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(self.compositor.close)
        self.compositor.bind(os.path.join(self.root, "run", "wayland-0"))
        self.compositor.listen(16)
        self.env = {"XDG_RUNTIME_DIR": "/run", "WAYLAND_DISPLAY": "wayland-0", "DISPLAY": ":0",
                    "HOME": "/", "PATH": "/"}

    def start(self, stdin=subprocess.PIPE):
        def enter_root():
            os.chroot(self.root)
            os.chdir("/")
        return subprocess.Popen(["/PalvernCollector"], stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=self.env, preexec_fn=enter_root)

    def test_no_desktop_records_then_exit_0_at_the_end_of_input(self):
        proc = self.start()
        lines = b""
        deadline = time.monotonic() + DEADLINE
        while lines.count(b"\n") < 2 and time.monotonic() < deadline:
            ready, _, _ = select.select([proc.stdout], [], [], deadline - time.monotonic())
            chunk = os.read(proc.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                break
            lines += chunk
        self.assertEqual(lines, ERROR_LINE + START_LINE)
        for line in lines.splitlines(keepends=True):
            parse_line(line)
        proc.stdin.close()
        proc.stdin = None
        rest, err = proc.communicate(timeout=DEADLINE)
        self.assertEqual((proc.returncode, rest, err), (0, b"", b""))

    def test_input_ended_at_the_outset(self):
        proc = self.start(stdin=subprocess.DEVNULL)
        out, err = proc.communicate(timeout=DEADLINE)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertIn(out, (b"", ERROR_LINE, ERROR_LINE + START_LINE))


if __name__ == "__main__":
    unittest.main()
