"""A Windows desktop under Wine 10 for the tests and benchmarks.

Wine comes from the Debian 13 root (scripts/debian13-root.sh), entered in a
mount and network namespace of the test's own (tests/debian13_root.py), with
Xvfb on display :0 (the network namespace keeps it apart from the machine's
displays) and openbox. The Wine prefix is booted once per build
(`wineboot`, 8 to 16 s) into PALVERN_WINE_PREFIX; each desktop mounts an
overlay on it, so that it starts from a booted prefix at once and its
writes stay its own. The collector and the test programs are copied into
the prefix, as C:\\palvern\\.

Environment: PALVERN_WINDOWS_BUILD (the Windows build: PalvernCollector.exe
and the programs in tests/windows/programs), PALVERN_WINE_PREFIX (where the
booted prefix of this build is kept).
"""

import fcntl
import os
import queue
import select
import shlex
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import debian13_root  # noqa: E402
from record_check import parse_line  # noqa: E402

BUILD = os.environ.get("PALVERN_WINDOWS_BUILD", "")
PREFIX_STORE = os.environ.get("PALVERN_WINE_PREFIX", "")
# Every wait is for an event, bound by a deadline generous enough for a
# loaded machine: a wait that ends early only costs time when it fails.
DEADLINE = 90

INSIDE_BUILD = "/tmp/palvern/windows"
INSIDE_STORE = "/tmp/palvern/prefix-store"
PREFIX = "/tmp/prefix"
PROGRAMS = PREFIX + "/drive_c/palvern"
COLLECTOR = "C:\\palvern\\PalvernCollector.exe"
TEST_WINDOW = "C:\\palvern\\test_window.exe"
NOTEPAD = "C:\\windows\\system32\\notepad.exe"


def skip_or_fail(case):
    """Skips `case` (a TestCase class) when Wine's root cannot be had here;
    under CI=true that fails instead."""
    reason = debian13_root.skip_reason()
    if reason is None and not (os.path.exists(os.path.join(BUILD, "PalvernCollector.exe"))):
        reason = f"no Windows build in {BUILD!r}"
    if reason is None:
        return
    if debian13_root.REQUIRED:
        raise AssertionError(f"the Windows tests cannot run: {reason}")
    print(f"\nSKIPPED: the Windows tests under Wine: {reason}", file=sys.stderr)
    raise unittest.SkipTest(reason)


def hex16(text):
    """UTF-16 code units in hexadecimal, as test_window takes text. `text` is
    a str, or a list of code units (for lone surrogates)."""
    if isinstance(text, str):
        data = text.encode("utf-16-le", "surrogatepass")
        units = [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]
    else:
        units = text
    return "".join(f"{u:04x}" for u in units)


class Collector:
    """The collector as a host runs it, under Wine: pipes on all three
    descriptors of the Wine process."""

    def __init__(self, argv, read=True):
        """`read`: read its output as it comes; else never (a host that does not
        read)."""
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.lines = queue.Queue()
        self.stderr = b""
        self.reader = threading.Thread(target=self._read if read else lambda: None, daemon=True)
        self.reader.start()
        self.stderr_reader = threading.Thread(target=self._read_stderr, daemon=True)
        self.stderr_reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put((time.monotonic(), line))
        self.lines.put((time.monotonic(), None))

    def _read_stderr(self):
        self.stderr = self.proc.stderr.read()

    def next_timed(self, timeout=DEADLINE):
        """The next record and when its line arrived (time.monotonic)."""
        arrived, line = self.lines.get(timeout=timeout)
        if line is None:
            raise AssertionError("the collector ended its output")
        return parse_line(line), arrived

    def next(self, timeout=DEADLINE):
        return self.next_timed(timeout)[0]

    def next_event(self, event, timeout=DEADLINE):
        deadline = time.monotonic() + timeout
        while True:
            record = self.next(max(0.01, deadline - time.monotonic()))
            if record.get("event") == event:
                return record

    def finish(self, timeout=10):
        """Ends standard input; returns the exit status, what stderr got and
        how long the exit took."""
        ended = time.monotonic()
        self.proc.stdin.close()
        status = self.proc.wait(timeout=timeout)
        took = time.monotonic() - ended
        self.stderr_reader.join(timeout=10)
        return status, self.stderr, took

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=10)
        self.stderr_reader.join(timeout=10)
        for pipe in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            pipe.close()


class TestWindow:
    """A test_window process: its windows' handles and X windows."""

    def __init__(self, desktop, proc, windows):
        self.desktop = desktop
        self.proc = proc
        self.windows = windows  # [(hwnd, X window)]

    def x(self, index=0):
        return self.windows[index][1]

    def send(self, *words):
        self.proc.stdin.write((" ".join(words) + "\n").encode())
        self.proc.stdin.flush()
        line = self.desktop.read_line(self.proc, "test_window's answer")
        assert line == b"ok\n", line

    def set_title(self, index, title):
        self.send("title", str(index), hex16(title))

    def set_value(self, value):
        self.send("value", hex16(value))

    def close(self):
        """Ends the program (the end of its input closes its windows)."""
        self.proc.stdin.close()
        self.proc.wait(timeout=DEADLINE)
        self.proc.stdout.close()


class WineDesktop:
    """Xvfb, openbox and a Wine prefix of its own in the Debian 13 root."""

    def __init__(self):
        self.children = []
        self.root = None
        # What Wine reports as errors for the test programs (not the
        # collector's: its standard error must stay empty), for a failure's
        # message.
        self.log = tempfile.NamedTemporaryFile(prefix="palvern-wine-", suffix=".log")
        # Wine's interface language comes from LANG (the root has no other
        # locale than C.UTF-8, so English is all Wine can show).
        self.env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": "/tmp/home", "DISPLAY": ":0",
                    "LANG": "en_US.UTF-8", "WINEPREFIX": PREFIX, "WINEDEBUG": "-all",
                    # No dialog asking for Mono or Gecko, which the prefix does not have.
                    "WINEDLLOVERRIDES": "mscoree,mshtml="}
        os.makedirs(PREFIX_STORE, exist_ok=True)
        try:
            self.root = debian13_root.Root.make().start(
                binds={os.path.abspath(BUILD): INSIDE_BUILD, os.path.abspath(PREFIX_STORE): INSIDE_STORE})
            self.run(["mkdir", "-p", "/tmp/home", "/tmp/overlay"])
            self.spawn(["sh", "-c", "exec Xvfb :0 -screen 0 1280x800x24 -nolisten tcp -noreset >/tmp/xvfb.log 2>&1"],
                       wine=False)
            self.wait(lambda: self.run(["xprop", "-root", "-len", "1", "_NET_SUPPORTED"], check=False)
                      .returncode == 0, "Xvfb")
            self.spawn(["sh", "-c", "exec openbox --sm-disable >/tmp/openbox.log 2>&1"], wine=False)
            self.wait(lambda: "_NET_ACTIVE_WINDOW" in self.run(["xprop", "-root", "_NET_SUPPORTED"],
                                                               check=False).stdout.decode(), "openbox")
            self._mount_prefix()
        except BaseException:
            self.close()
            raise

    # -- the prefix

    def _mount_prefix(self):
        """An overlay on the booted prefix of this build, booted first if need be."""
        store = os.path.join(INSIDE_STORE, "prefix")
        with open(os.path.join(PREFIX_STORE, "lock"), "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(PREFIX_STORE, "booted")):
                self.run(["rm", "-rf", store])
                env = dict(self.env, WINEPREFIX=store)
                self.run(["wineboot", "--init"], env=env, timeout=300)
                self.run(["wineserver", "--wait"], env=env, timeout=300)
                with open(os.path.join(PREFIX_STORE, "booted"), "w"):
                    pass
        self.run(["mkdir", "-p", PREFIX, "/tmp/overlay/upper", "/tmp/overlay/work"])
        mounted = self.run(["mount", "-t", "overlay", "overlay", "-o",
                            f"lowerdir={store},upperdir=/tmp/overlay/upper,workdir=/tmp/overlay/work", PREFIX],
                           check=False)
        if mounted.returncode != 0:  # no overlay file system here: a copy, a few seconds
            self.run(["cp", "-a", store + "/.", PREFIX])
        self.run(["mkdir", "-p", PROGRAMS])
        self.run(["cp", f"{INSIDE_BUILD}/PalvernCollector.exe",
                  f"{INSIDE_BUILD}/tests/windows/programs/test_window.exe",
                  f"{INSIDE_BUILD}/tests/windows/programs/test_window_de.exe", PROGRAMS])

    # -- programs in the root

    def argv(self, argv, env=None):
        """`argv` as run in the root, with the desktop's environment."""
        environment = dict(self.env, **(env or {}))
        return self.root.argv(["env", "-i", *(f"{k}={v}" for k, v in environment.items()), *argv])

    def run(self, argv, env=None, check=True, timeout=DEADLINE):
        result = subprocess.run(self.argv(argv, env), stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise AssertionError(f"{shlex.join(argv)} exited {result.returncode}: "
                                 f"{result.stderr.decode(errors='replace')[-2000:]}")
        return result

    def spawn(self, argv, wine=True, env=None, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        proc = subprocess.Popen(self.argv((["wine"] if wine else []) + argv, env), **kwargs)
        self.children.append(proc)
        return proc

    def wait(self, ready, what, timeout=DEADLINE):
        deadline = time.monotonic() + timeout
        while not (value := ready()):
            if time.monotonic() > deadline:
                raise AssertionError(f"{what}: not within {timeout} s" + self.diagnosis())
            time.sleep(0.1)
        return value

    def diagnosis(self):
        """What the desktop's programs said, for a failure's message."""
        lines = []
        for proc in self.children:
            state = "running" if proc.poll() is None else f"exited {proc.returncode}"
            lines.append(f"\n  {shlex.join(proc.args[-3:])}: {state}")
        xvfb = self.run(["cat", "/tmp/xvfb.log"], check=False).stdout.decode(errors="replace")
        openbox = self.run(["cat", "/tmp/openbox.log"], check=False).stdout.decode(errors="replace")
        self.log.flush()
        with open(self.log.name, "rb") as log:
            wine = log.read()[-3000:].decode(errors="replace")
        processes = self.run(["ps", "-eo", "pid,stat,etime,args"], check=False).stdout.decode(errors="replace")
        wine_processes = "\n".join(line for line in processes.splitlines()
                                   if any(word in line for word in ("wine", ".exe", "Xvfb", "openbox")))
        return ("".join(lines) + "\n  Xvfb said: " + xvfb[-2000:] + "\n  openbox said: " + openbox[-2000:] + "\n  Wine said: " + wine +
                "\n  Wine's processes (the machine's):\n" + wine_processes[-3000:])

    def read_line(self, proc, what):
        ready, _, _ = select.select([proc.stdout], [], [], DEADLINE)
        line = proc.stdout.readline() if ready else b""
        if not line:
            raise AssertionError(f"{what}: nothing within {DEADLINE} s" + self.diagnosis())
        return line

    def xdotool(self, *args):
        return self.run(["xdotool", *args]).stdout.decode()

    # -- windows

    def test_window(self, *titles, program=TEST_WINDOW, model_id=None, address_bar=None):
        """A test_window process with one window per title; `address_bar`:
        (automation id, value) of an address bar in its first window."""
        argv = [program]
        if model_id is not None:
            argv += ["--model-id", hex16(model_id)]
        if address_bar is not None:
            argv += ["--address-bar", hex16(address_bar[0]), hex16(address_bar[1])]
        for title in titles:
            argv += ["--window", hex16(title)]
        # Unbuffered, so that what select() sees is all there is to read.
        proc = self.spawn(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, bufsize=0,
                          env={"WINEDEBUG": "-all,err+all"})
        windows = []
        for _ in titles:
            hwnd, x = self.read_line(proc, "test_window's windows").split()
            windows.append((int(hwnd), int(x)))
        for _, x in windows:
            self.wait(lambda: self.is_managed(x), "a test window managed by openbox")
        return TestWindow(self, proc, windows)

    def notepad(self):
        """Wine's notepad (no version resource); returns its X window."""
        before = set(self.x_windows("Notepad"))
        self.spawn([NOTEPAD], stderr=self.log, env={"WINEDEBUG": "-all,err+all"})
        found = self.wait(lambda: set(self.x_windows("Notepad")) - before, "notepad's window")
        x = found.pop()
        self.wait(lambda: self.is_managed(x), "notepad managed by openbox")
        return x

    def x_windows(self, name):
        result = self.run(["xdotool", "search", "--onlyvisible", "--name", name], check=False)
        return [int(w) for w in result.stdout.split()]

    def is_managed(self, x):
        return hex(x) in self.run(["xprop", "-root", "_NET_CLIENT_LIST"]).stdout.decode()

    def activate(self, x):
        self.xdotool("windowactivate", "--sync", str(x))

    def collector(self, env=None, read=True):
        return Collector(self.argv(["wine", COLLECTOR], env), read=read)

    def close(self):
        if self.root and self.root.holder:
            self.run(["wineserver", "--kill"], check=False)
        for proc in reversed(self.children):
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()
        self.children = []
        if self.root:
            self.root.close()
            self.root = None
        self.log.close()
