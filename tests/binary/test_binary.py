"""The executable as it ships: what it asks of the machine it runs on, and
runs in roots that lack the window systems' libraries: one that holds
nothing but the C library, and one with libxcb but not its extensions'
libraries (under a private Xvfb and openbox).

Environment: PALVERN_COLLECTOR (the executable), PALVERN_GLIBC_FLOOR (the
newest glibc it may need, the one the README states), PALVERN_OBJDUMP (an
objdump that reads its architecture; default objdump), PALVERN_EMPTY_ROOT=1
to run it in those roots (chroot: root only, and the build machine's
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
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x11"))
from record_check import parse_line  # noqa: E402
from x11_e2e_test import XSession  # noqa: E402

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


def libraries_of(path):
    """The files ldd names for `path`: its libraries, theirs, and the loader."""
    listed = subprocess.run(["ldd", path], check=True, capture_output=True, text=True).stdout
    return re.findall(r"(/\S+) \(0x", listed)


class Root:
    """A folder to chroot into: the executable, and the libraries given, each
    at its path (the file a link names, under the link's name)."""

    def __init__(self, test, libraries):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-root-")
        test.addCleanup(scratch.cleanup)
        self.path = scratch.name
        for library in libraries:
            os.makedirs(self.path + os.path.dirname(library), exist_ok=True)
            shutil.copy(library, self.path + library)
        shutil.copy(COLLECTOR, os.path.join(self.path, "PalvernCollector"))

    def start(self, env, stdin=subprocess.PIPE):
        def enter():
            os.chroot(self.path)
            os.chdir("/")
        return subprocess.Popen(["/PalvernCollector"], stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=env, preexec_fn=enter)


def read_lines(proc, count):
    """Up to `count` lines, as they come within the deadline."""
    lines = b""
    deadline = time.monotonic() + DEADLINE
    while lines.count(b"\n") < count and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], deadline - time.monotonic())
        chunk = os.read(proc.stdout.fileno(), 65536) if ready else b""
        if not chunk:
            break
        lines += chunk
    for line in lines.splitlines(keepends=True):
        parse_line(line)
    return lines.splitlines(keepends=True)


def finish(proc):
    """Ends its input; its status, what it still wrote, and its standard error."""
    proc.stdin.close()
    proc.stdin = None
    rest, err = proc.communicate(timeout=DEADLINE)
    return proc.returncode, rest, err


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


needs_root = unittest.skipUnless(EMPTY_ROOT and os.geteuid() == 0,
                                 "PALVERN_EMPTY_ROOT is not set, or not root (chroot)")


@needs_root
class EmptyRoot(unittest.TestCase):
    """A root with the loader and the C library (what ldd names), the
    executable, a runtime folder with a compositor's socket in it, and
    nothing else: every window system finds its library missing, one after
    the other, and the collector reports no desktop."""

    def setUp(self):
        libraries = libraries_of(COLLECTOR)
        self.assertEqual([p for p in libraries if not C_LIBRARY.match(os.path.basename(p))], [], libraries)
        self.root = Root(self, libraries)
        # A compositor's socket that accepts and never answers, and a display
        # name: they are there, only the libraries to use them are not.
        os.mkdir(os.path.join(self.root.path, "run"), 0o700)
        compositor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(compositor.close)
        compositor.bind(os.path.join(self.root.path, "run", "wayland-0"))
        compositor.listen(16)
        self.env = {"XDG_RUNTIME_DIR": "/run", "WAYLAND_DISPLAY": "wayland-0", "DISPLAY": ":0",
                    "HOME": "/", "PATH": "/"}

    def test_no_desktop_records_then_exit_0_at_the_end_of_input(self):
        proc = self.root.start(self.env)
        self.assertEqual(read_lines(proc, 2), [ERROR_LINE, START_LINE])
        self.assertEqual(finish(proc), (0, b"", b""))

    def test_input_ended_at_the_outset(self):
        proc = self.root.start(self.env, stdin=subprocess.DEVNULL)
        out, err = proc.communicate(timeout=DEADLINE)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertIn(out, (b"", ERROR_LINE, ERROR_LINE + START_LINE))


@needs_root
class LibxcbAlone(unittest.TestCase):
    """A root with libxcb but none of its extensions' libraries, under a
    private X server (reached through its abstract socket): X11 is served,
    without what the extensions give (idle time, input totals)."""

    def test_x11_without_the_extension_libraries(self):
        x = XSession()
        self.addCleanup(x.close)
        alpha = x.xterm("Alpha window", "AlphaTerm")
        beta = x.xterm("Beta window", "BetaTerm")
        x.activate(alpha)
        # libxcb as a program of the build machine's finds it, with what it links.
        libxcb = next(p for p in libraries_of(shutil.which("xdotool")) if os.path.basename(p) == "libxcb.so.1")
        root = Root(self, set(libraries_of(COLLECTOR)) | {libxcb} | set(libraries_of(libxcb)))
        proc = root.start({"DISPLAY": x.display, "HOME": "/", "PATH": "/"})
        [start] = read_lines(proc, 1)
        x.xdotool("key", "a")
        x.activate(beta)
        [focus] = read_lines(proc, 1)
        self.assertEqual(finish(proc), (0, b"", b""))
        self.assertEqual(parse_line(start), {
            "event": "start", "process": "AlphaTerm", "bundle_id": "AlphaTerm", "idle_seconds": 0, "url": "",
            "window_title": "Alpha window", "keys_total": 0, "clicks_total": 0})
        self.assertEqual(parse_line(focus), {
            "event": "focus", "process": "BetaTerm", "bundle_id": "BetaTerm", "idle_seconds": 0, "url": "",
            "window_title": "Beta window", "keys_total": 0, "clicks_total": 0})


if __name__ == "__main__":
    unittest.main()
