"""End-to-end tests of the collector on an X11 desktop.

Each suite starts its own Xvfb (on a display number the server picks) and
openbox, drives real xterms and small test clients with xdotool, and checks
every line the collector writes with a real JSON parser.

Environment: PALVERN_COLLECTOR (the executable) and PALVERN_TEST_WINDOW (the
test client, see test_window.c).
"""

import fcntl
import os
import queue
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from record_check import parse_line  # noqa: E402

COLLECTOR = os.environ.get("PALVERN_COLLECTOR", "PalvernCollector")
TEST_WINDOW = os.environ.get("PALVERN_TEST_WINDOW", "x11_test_window")
REFRESH = 5.0
# Every wait is for an event, bound by a deadline generous enough for a
# loaded machine: a wait that ends early only costs time when it fails.
DEADLINE = 90
# The environment without a Wayland compositor, which the collector would
# otherwise prefer (one that does not exist also keeps it from looking for
# the default wayland-0).
X11_ONLY = dict(os.environ, WAYLAND_DISPLAY="palvern-no-compositor")


def hexbytes(data):
    return data.hex() if data else ""


def prop(name, kind, data):
    """A test_window property argument: NAME=TYPE:HEX."""
    return f"{name}={kind}:{hexbytes(data)}"


class Collector:
    """The collector as a host runs it: pipes on all three descriptors."""

    def __init__(self, env, proc=None):
        self.proc = proc or subprocess.Popen([COLLECTOR], env=env, stdin=subprocess.PIPE,
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = queue.Queue()
        self.stderr = b""
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.stderr_reader = threading.Thread(target=self._read_stderr, daemon=True)
        self.stderr_reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def _read_stderr(self):
        self.stderr = self.proc.stderr.read()

    @classmethod
    def adopt(cls, proc):
        """The collector in `proc`, a process the test started with the three pipes."""
        return cls(None, proc)

    def next(self, timeout=DEADLINE):
        line = self.lines.get(timeout=timeout)
        if line is None:
            raise AssertionError("the collector ended its output")
        return parse_line(line)

    def next_event(self, event, timeout=DEADLINE):
        deadline = time.monotonic() + timeout
        while True:
            record = self.next(max(0.01, deadline - time.monotonic()))
            if record.get("event") == event:
                return record

    def finish(self, timeout=10):
        """Ends standard input; returns the exit status and what stderr got."""
        self.proc.stdin.close()
        status = self.proc.wait(timeout=timeout)
        self.stderr_reader.join(timeout=10)
        return status, self.stderr

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=10)
        self.stderr_reader.join(timeout=10)
        for pipe in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            pipe.close()


class XSession:
    """Xvfb and openbox on a free display, and the clients started on it."""

    def __init__(self, window_manager=True, cookie=None):
        self.children = []
        self.server = None
        # Openbox keeps its log and state under these: one of its own for each
        # session, since concurrent instances overwrite each other's.
        self.home = tempfile.TemporaryDirectory(prefix="palvern-x11-")
        self.cookie = cookie
        try:
            self.start_server(window_manager=window_manager)
        except BaseException:
            self.close()
            raise

    @staticmethod
    def in_use(number):
        if os.path.exists(f"/tmp/.X{number}-lock"):
            return True
        with open("/proc/net/unix") as sockets:  # a server's abstract socket
            return f"@/tmp/.X11-unix/X{number}\n" in sockets.read()

    def start_server(self, display=None, window_manager=True):
        """Starts Xvfb and openbox on `display`, or on the first free display
        from :100 on. Concurrent suites take turns at choosing a number. With
        a cookie, the server admits only clients that show it."""
        with open("/tmp/.palvern-x11-displays", "a") as turn:
            fcntl.flock(turn, fcntl.LOCK_EX)
            number = int(display[1:]) if display else 100
            while display is None and self.in_use(number):
                number += 1
            self.display = f":{number}"
            self.env = dict(X11_ONLY, DISPLAY=self.display)
            auth = []
            if self.cookie:
                self.env["XAUTHORITY"] = os.path.join(self.home.name, "Xauthority")
                subprocess.run(["xauth", "-f", self.env["XAUTHORITY"], "add", self.display, ".", self.cookie],
                               check=True, capture_output=True)
                auth = ["-auth", self.env["XAUTHORITY"]]
            self.server = subprocess.Popen(
                ["Xvfb", self.display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset", *auth],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._wait(lambda: self.server.poll() is None and subprocess.run(
                ["xprop", "-root", "-len", "1", "_NET_SUPPORTED"], env=self.env,
                capture_output=True).returncode == 0, "the server")
        self.wm = None
        if not window_manager:
            return
        self.wm = self.spawn(["openbox", "--sm-disable"],
                             env=dict(self.env, XDG_CACHE_HOME=self.home.name, XDG_CONFIG_HOME=self.home.name))
        # Openbox sets the client list once it has taken over the screen.
        self._wait(lambda: "_NET_CLIENT_LIST(WINDOW)" in self.root_property("_NET_CLIENT_LIST"),
                   "the window manager")

    def _wait(self, ready, what, timeout=DEADLINE):
        deadline = time.monotonic() + timeout
        while not ready():
            if time.monotonic() > deadline:
                raise AssertionError(f"{what} did not start on {self.display}" + self.diagnosis())
            time.sleep(0.1)

    def diagnosis(self):
        lines = []
        for proc in [self.server] + self.children:
            state = "running" if proc.poll() is None else f"exited {proc.returncode}"
            lines.append(f"\n  {proc.args[0]} {proc.pid}: {state}")
        try:
            with open(os.path.join(self.home.name, "openbox", "openbox.log")) as log:
                lines.append("\n  openbox said: " + log.read())
        except OSError:
            pass
        return "".join(lines)

    def spawn(self, argv, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=kwargs.pop("env", self.env), **kwargs)
        self.children.append(proc)
        return proc

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, capture_output=True,
                              timeout=DEADLINE).stdout.decode()

    def root_property(self, name):
        return subprocess.run(["xprop", "-root", name], env=self.env, capture_output=True, text=True).stdout

    def xterm(self, title, cls, env=None):
        """An xterm process; returns its window."""
        name = cls.lower()
        self.spawn(["xterm", "-T", title, "-name", name, "-class", cls, "-e", "sleep", "100000"],
                   env=env or self.env)
        window = int(self.xdotool("search", "--sync", "--classname", name).split()[0])
        self._wait(lambda: hex(window) in self.root_property("_NET_CLIENT_LIST"), "an xterm")
        self.settle(window)
        return window

    def active_window(self):
        words = self.root_property("_NET_ACTIVE_WINDOW").split()
        return int(words[-1], 16) if words and words[-1].startswith("0x") else None

    def settle(self, window):
        """Waits until openbox has focused `window`, the window it mapped last:
        it lists a new window before it focuses it, and a focus it gives late
        would undo an activation the test asks for meanwhile."""
        self._wait(lambda: self.active_window() == window, "the new window's focus")

    def client(self, *windows):
        """A test_window process owning one window per list of properties.
        Returns the process and its windows."""
        argv = [TEST_WINDOW]
        for i, properties in enumerate(windows):
            argv += (["--"] if i else []) + list(properties)
        # Unbuffered, so that what select() sees is all there is to read.
        proc = self.spawn(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        # The client prints its windows once the window manager manages them all.
        ids = [int(self.read_reply(proc, "a test window")) for _ in windows]
        if self.wm:
            self.settle(ids[-1])
        return proc, ids

    def read_reply(self, client, what):
        """A line from a test client, within the deadline."""
        ready, _, _ = select.select([client.stdout], [], [], DEADLINE)
        line = client.stdout.readline() if ready else b""
        if not line:
            raise AssertionError(f"{what} did not answer on {self.display}" + self.diagnosis())
        return line

    def set_property(self, client, index, assignment):
        client.stdin.write(f"set {index} {assignment}\n".encode())
        client.stdin.flush()
        assert self.read_reply(client, "a property change") == b"ok\n"

    def activate(self, window):
        self.xdotool("windowactivate", "--sync", str(window))

    def collector(self):
        return Collector(self.env)

    def kill_server(self):
        """Kills the X server as a crash would, and waits for its clients to go."""
        self.server.kill()
        self.server.wait()
        for proc in self.children:
            proc.wait(timeout=10)

    def close(self):
        for proc in reversed(self.children):
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()
        if self.server and self.server.poll() is None:
            self.server.terminate()
            self.server.wait()
        self.home.cleanup()


class SessionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XSession()
        cls.addClassCleanup(cls.x.close)

    def start(self, env=None):
        """A collector (with `env`, else the session's environment) whose start
        record has been read; finished cleanly at the end of the test."""
        collector = Collector(env) if env else self.x.collector()
        self.addCleanup(collector.kill)
        self.addCleanup(self.assert_clean_exit, collector)
        return collector, collector.next_event("start")

    def assert_clean_exit(self, collector):
        status, stderr = collector.finish()
        self.assertEqual(status, 0)
        self.assertEqual(stderr, b"")

    def focus_records_until(self, collector, window, process):
        """Activates `window` of `process` and returns the focus records
        written before the one for it: the events before the activation were
        all handled by then."""
        self.x.activate(window)
        records = []
        while True:
            record = collector.next_event("focus")
            if record["process"] == process:
                return records
            records.append(record)


class NoDisplay(unittest.TestCase):
    def test_without_a_display_the_collector_still_runs(self):
        for case, env in [("unset", {k: v for k, v in X11_ONLY.items() if k != "DISPLAY"}),
                          ("unreachable", dict(X11_ONLY, DISPLAY=":4077"))]:
            with self.subTest(case):
                collector = Collector(env)
                try:
                    self.assertEqual(collector.next(), {
                        "error": "Accessibility permission is not granted; window titles cannot be read."})
                    self.assertEqual(collector.next(), {
                        "event": "start", "process": "Unknown", "bundle_id": "", "idle_seconds": 0,
                        "url": "", "window_title": "", "keys_total": 0, "clicks_total": 0})
                    status, stderr = collector.finish()
                    self.assertEqual((status, stderr), (0, b""))
                finally:
                    collector.kill()


class TwoXtermsTest(SessionTest):
    """A session with two xterms of their own classes, Alpha and Beta."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.alpha = cls.x.xterm("Alpha window", "AlphaTerm")
        cls.beta = cls.x.xterm("Beta window", "BetaTerm")


class StartAndFocus(TwoXtermsTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.two, cls.two_windows = cls.x.client(
            [prop("WM_CLASS", "STRING", b"two\0TwoWindows\0"), prop("WM_NAME", "STRING", b"first")],
            [prop("WM_CLASS", "STRING", b"two\0TwoWindows\0"), prop("WM_NAME", "STRING", b"second")])

    def test_start_record_names_the_active_xterm(self):
        self.x.activate(self.alpha)
        _, start = self.start()
        self.assertEqual(start["process"], "AlphaTerm")
        self.assertEqual(start["bundle_id"], "AlphaTerm")
        self.assertEqual(start["window_title"], "Alpha window")
        self.assertEqual(start["url"], "")

    def test_input_ending_during_start_up_writes_nothing_untrue(self):
        # A host that starts the collector and stops it at once: the display
        # works and the window manager keeps the active window, so the only
        # true record is a start record for it.
        self.x.activate(self.alpha)
        for _ in range(10):
            proc = subprocess.run([COLLECTOR], stdin=subprocess.DEVNULL, capture_output=True, env=self.x.env,
                                  timeout=DEADLINE)
            self.assertEqual((proc.returncode, proc.stderr), (0, b""))
            for line in proc.stdout.splitlines(keepends=True):
                record = parse_line(line)
                self.assertEqual((record.get("event"), record["process"], record["window_title"]),
                                 ("start", "AlphaTerm", "Alpha window"), record)

    def test_activating_another_process_gives_exactly_one_focus_record(self):
        self.x.activate(self.alpha)
        collector, _ = self.start()
        for window, cls, title in [(self.beta, "BetaTerm", "Beta window"),
                                   (self.alpha, "AlphaTerm", "Alpha window")]:
            self.x.activate(window)
            focus = collector.next_event("focus")
            self.assertEqual((focus["process"], focus["window_title"]), (cls, title))
        # A switch to a third application: no second record came for either.
        self.assertEqual(self.focus_records_until(collector, self.two_windows[0], "TwoWindows"), [])

    def test_switching_between_windows_of_one_process_gives_none(self):
        first, second = self.two_windows
        self.x.activate(first)
        collector, start = self.start()
        self.assertEqual((start["process"], start["window_title"]), ("TwoWindows", "first"))
        self.x.activate(second)
        self.x.activate(first)
        self.x.activate(second)
        self.assertEqual(self.focus_records_until(collector, self.alpha, "AlphaTerm"), [])

    def test_a_changed_title_shows_at_the_next_sample(self):
        first, _ = self.two_windows
        self.x.activate(first)
        collector, start = self.start()
        self.assertEqual(start["window_title"], "first")
        self.x.set_property(self.two, 0, prop("WM_NAME", "STRING", b"renamed"))
        titles = []
        for window in (self.alpha, first):
            self.x.activate(window)
            titles.append(collector.next_event("focus")["window_title"])
        self.assertEqual(titles, ["Alpha window", "renamed"])
        self.x.set_property(self.two, 0, prop("WM_NAME", "STRING", b"first"))

    def test_refresh_records_with_nothing_changed_are_identical(self):
        self.x.activate(self.beta)
        collector, _ = self.start()
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertEqual(first["window_title"], "Beta window")
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        first.pop("idle_seconds"), second.pop("idle_seconds")
        self.assertEqual(first, second)


class InputActivity(TwoXtermsTest):
    def test_totals_count_the_injected_presses_and_idle_follows_input(self):
        self.x.activate(self.alpha)
        self.x.xdotool("mousemove", "--window", str(self.alpha), "40", "40")
        collector, start = self.start()
        self.x.xdotool("key", "a", "b", "c", "d", "e", "shift+f")  # six key presses with shift
        for button in ["1", "1", "3", "2", "8", "9"]:
            self.x.xdotool("click", button)
        for button in ["4", "5", "6", "7"]:  # the scroll wheel: idle only
            self.x.xdotool("click", button)
        self.x.activate(self.beta)
        focus = collector.next_event("focus")
        self.assertEqual(focus["keys_total"] - start["keys_total"], 7)
        self.assertEqual(focus["clicks_total"] - start["clicks_total"], 6)
        self.assertEqual(focus["idle_seconds"], 0)

        refresh = collector.next_event("refresh")  # five seconds after the start
        later = collector.next_event("refresh")
        self.assertGreaterEqual(refresh["idle_seconds"], 2)
        self.assertGreaterEqual(later["idle_seconds"], refresh["idle_seconds"] + 4)
        for record in (refresh, later):
            self.assertEqual((record["keys_total"], record["clicks_total"]),
                             (focus["keys_total"], focus["clicks_total"]))

        self.x.xdotool("mousemove", "--window", str(self.beta), "60", "60")  # movement alone
        self.x.activate(self.alpha)
        focus = collector.next_event("focus")
        self.assertEqual((focus["idle_seconds"], focus["keys_total"]), (0, later["keys_total"]))


class Titles(SessionTest):
    # WM_NAME as xterm sets it for "Привет 日本 Ελ": ISO 8859-5, JIS X 0208 and
    # ISO 8859-7 segments.
    CTEXT = bytes.fromhex("1b2d4cbfe0d8d2d5e2201b242842467c4b5c1b284220" "1b2d46c5eb")

    CASES = [
        # (what, properties, expected title)
        ("Latin-1 STRING", [prop("WM_NAME", "STRING", "Café naïve ÿ".encode("latin-1"))], "Café naïve ÿ"),
        ("COMPOUND_TEXT", [prop("WM_NAME", "COMPOUND_TEXT", CTEXT)], "Привет 日本 Ελ"),
        ("COMPOUND_TEXT, unknown set and UTF-8 segment",
         [prop("WM_NAME", "COMPOUND_TEXT", b"a\x1b$(Z!!\x1b(Bb \x1b%G\xe2\x82\xac\x1b%@ \xe9")], "a\ufffdb € é"),
        ("_NET_WM_NAME before WM_NAME",
         [prop("_NET_WM_NAME", "UTF8_STRING", "Ünïcode ✓".encode()), prop("WM_NAME", "STRING", b"plain")],
         "Ünïcode ✓"),
        ("UTF8_STRING WM_NAME", [prop("WM_NAME", "UTF8_STRING", "naïve ✓".encode())], "naïve ✓"),
        ("no name at all", [], ""),
    ]

    def test_titles_come_out_as_text(self):
        windows = []
        for i, (what, properties, title) in enumerate(self.CASES):
            cls = f"Title{i}"
            _, (window,) = self.x.client([prop("WM_CLASS", "STRING", f"t{i}\0{cls}\0".encode())] + properties)
            windows.append((what, cls, window, title))
        self.x.activate(windows[-1][2])
        collector, _ = self.start()
        for what, cls, window, title in windows:
            with self.subTest(what):
                self.x.activate(window)
                focus = collector.next_event("focus")
                self.assertEqual((focus["process"], focus["window_title"]), (cls, title))

    def test_xterm_sets_a_compound_text_title(self):
        window = self.x.xterm("Привет 日本 Ελ", "CtextTerm", env=dict(self.x.env, LC_ALL="C.UTF-8"))
        self.x.activate(window)
        _, start = self.start()
        self.assertEqual((start["process"], start["window_title"]), ("CtextTerm", "Привет 日本 Ελ"))


class HostileTitles(SessionTest):
    BIG = 8 * 1024 * 1024
    CASES = [
        # (what, properties, expected process, expected title; None: only parse)
        ("invalid UTF-8", [prop("_NET_WM_NAME", "UTF8_STRING", b"ok\xff\xfe\xc3")], "Hostile", "ok\ufffd\ufffd\ufffd"),
        ("controls, quotes, NUL", [prop("_NET_WM_NAME", "UTF8_STRING", b'a\nb"c\\d\x01\x1f\x7f\x00e\r\t')],
         "Hostile", 'a\nb"c\\d\x01\x1f\x7f\x00e\r\t'),
        # Titles are cut at 64 KiB of UTF-8, after a whole character.
        ("100 KiB title", ["_NET_WM_NAME=UTF8_STRING:102400*78"], "Hostile", "x" * 65536),
        ("8 MiB title", [f"_NET_WM_NAME=UTF8_STRING:{BIG}*7a"], "Hostile", "z" * 65536),
        ("long title of three-byte characters", ["_NET_WM_NAME=UTF8_STRING:30000*e697a5"], "Hostile", "日" * 21845),
        ("long Latin-1 title, two bytes each in UTF-8", ["WM_NAME=STRING:70000*e9"], "Hostile", "é" * 32768),
        ("truncated COMPOUND_TEXT", [prop("WM_NAME", "COMPOUND_TEXT", b"abc\x1b$(")], "Hostile", "abc"),
        ("COMPOUND_TEXT of C1 controls", [prop("WM_NAME", "COMPOUND_TEXT", b"\x9b\x85\x1b")], "Hostile", None),
    ]
    CLASSES = [
        # (what, WM_CLASS bytes, expected process)
        ("class without NUL", b"lonely", "x11_test_window"),
        ("extra strings", b"inst\0Cls\0extra\0more", "Cls"),
        ("class without final NUL", b"inst\0Last", "Last"),
        ("quotes and newline in class", b'i\0Bad"\nClass\0', 'Bad"\nClass'),
        ("invalid UTF-8 class", b"i\0\xc0\xaf\0", None),
    ]

    def test_every_record_stays_one_valid_json_line(self):
        windows = []
        for what, properties, process, title in self.CASES:
            _, (window,) = self.x.client([prop("WM_CLASS", "STRING", b"h\0Hostile\0")] + properties)
            windows.append((what, window, process, title))
        for what, wm_class, process in self.CLASSES:
            _, (window,) = self.x.client([prop("WM_CLASS", "STRING", wm_class),
                                          prop("_NET_WM_NAME", "UTF8_STRING", what.encode())])
            windows.append((what, window, process, what))
        self.x.activate(windows[-1][1])
        collector, _ = self.start()
        for what, window, process, title in windows:
            with self.subTest(what):
                self.x.activate(window)
                focus = collector.next_event("focus")  # parsed strictly
                if process is not None:
                    self.assertEqual(focus["process"], process)
                if title is not None:
                    self.assertEqual(focus["window_title"], title)


class DesktopEntries(SessionTest):
    """The collector with data directories of its own: a system one holding a
    test entry, and a data home whose applications/ folder does not exist
    until a test makes it."""

    ENTRY = ("[Desktop Entry]\nType=Application\nName=Entry Terminal\nName[de]=Eintrags-Terminal\n"
             "Name[de_AT]=Terminal aus Wien\nStartupWMClass=EntryTerm\nExec=xterm\n")

    def setUp(self):
        data = tempfile.TemporaryDirectory(prefix="palvern-entries-")
        self.addCleanup(data.cleanup)
        self.home = os.path.join(data.name, "home")
        system = os.path.join(data.name, "system")
        os.makedirs(self.home)
        os.makedirs(os.path.join(system, "applications", "palvern"))
        with open(os.path.join(system, "applications", "palvern", "entry-term.desktop"), "w") as entry:
            entry.write(self.ENTRY)
        self.env = dict(self.x.env, XDG_DATA_HOME=self.home, XDG_DATA_DIRS=system,
                        LC_ALL="de_DE.UTF-8", LANG="C")

    def next_refresh(self, collector, process, deadline=30):
        """The first refresh record naming `process`, within `deadline` seconds."""
        end = time.monotonic() + deadline
        while True:
            record = collector.next_event("refresh", timeout=max(0.01, end - time.monotonic()))
            if record["process"] == process:
                return record

    def test_an_entry_names_the_window_and_none_leaves_the_class(self):
        entry = self.x.xterm("Entry window", "EntryTerm")
        plain = self.x.xterm("Plain window", "PlainTerm")
        self.x.activate(entry)
        collector, start = self.start(self.env)
        self.assertEqual((start["process"], start["bundle_id"], start["window_title"]),
                         ("Eintrags-Terminal", "palvern-entry-term", "Entry window"))
        self.x.activate(plain)
        focus = collector.next_event("focus", timeout=30)
        self.assertEqual((focus["process"], focus["bundle_id"]), ("PlainTerm", "PlainTerm"))
        self.x.activate(entry)
        focus = collector.next_event("focus", timeout=30)
        self.assertEqual((focus["process"], focus["bundle_id"]), ("Eintrags-Terminal", "palvern-entry-term"))

    def test_an_entry_installed_while_running_is_used_from_the_next_refresh(self):
        late = self.x.xterm("Late window", "LateTerm")
        self.x.activate(late)
        collector, start = self.start(self.env)
        self.assertEqual((start["process"], start["bundle_id"]), ("LateTerm", "LateTerm"))
        # The data home's applications/ folder comes now; the file is renamed
        # into place whole, as installers do.
        applications = os.path.join(self.home, "applications")
        os.makedirs(applications)
        staging = os.path.join(self.home, "late.tmp")
        with open(staging, "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Late\nName[de]=Spät\nStartupWMClass=LateTerm\n")
        os.rename(staging, os.path.join(applications, "org.example.Late.desktop"))
        refresh = self.next_refresh(collector, "Spät")
        self.assertEqual((refresh["bundle_id"], refresh["window_title"]), ("org.example.Late", "Late window"))


class LostDisplay(SessionTest):
    def test_a_lost_display_ends_nothing_and_comes_back(self):
        window = self.x.xterm("Alpha window", "AlphaTerm")
        self.x.activate(window)
        collector, start = self.start()
        self.assertEqual(start["process"], "AlphaTerm")

        self.x.kill_server()
        refresh = collector.next_event("refresh")
        self.assertEqual((refresh["process"], refresh["bundle_id"], refresh["window_title"]), ("Unknown", "", ""))
        self.assertIsNone(collector.proc.poll())

        # A new server on the same display is found again at a later refresh.
        self.x.start_server(self.x.display)
        window = self.x.xterm("Back again", "BackTerm")
        self.x.activate(window)
        for _ in range(3):
            refresh = collector.next_event("refresh")
            if refresh["process"] != "Unknown":
                break
        self.assertEqual((refresh["process"], refresh["window_title"]), ("BackTerm", "Back again"))



class SilentSocket:
    """A listening socket in a display's place that accepts and never answers,
    as a hung server or a dead forwarded display does."""

    def __init__(self, display):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.bind(f"\0/tmp/.X11-unix/X{display[1:]}")  # found before the path socket
        self.socket.listen(16)

    def close(self):
        self.socket.close()


class HungDisplay(SessionTest):
    def test_a_silent_display_after_a_loss_holds_no_record_up(self):
        window = self.x.xterm("Alpha window", "AlphaTerm")
        self.x.activate(window)
        collector, start = self.start()
        self.assertEqual(start["process"], "AlphaTerm")
        self.x.kill_server()
        silent = SilentSocket(self.x.display)
        try:
            # Each refresh tries the display again and still comes on time.
            first = collector.next_event("refresh")
            second = collector.next_event("refresh")
            for record in (first, second):
                self.assertEqual((record["process"], record["window_title"]), ("Unknown", ""))
        finally:
            silent.close()
            self.x.start_server(self.x.display)

    def test_a_stopped_server_lets_end_of_input_end_the_collector(self):
        collector = self.x.collector()
        self.addCleanup(collector.kill)
        collector.next_event("start")
        self.x.server.send_signal(signal.SIGSTOP)
        try:
            # Past the next refresh, whose sample then waits for the server
            # (ending input must work whether or not it has begun).
            time.sleep(REFRESH + 1)
            status, stderr = collector.finish(timeout=DEADLINE)
        finally:
            self.x.server.send_signal(signal.SIGCONT)
        self.assertEqual((status, stderr), (0, b""))


class RefusingDisplay(unittest.TestCase):
    """A server that admits only the holders of its cookie."""

    @classmethod
    def setUpClass(cls):
        cls.x = XSession(window_manager=False, cookie=os.urandom(16).hex())
        cls.addClassCleanup(cls.x.close)

    def test_a_refusal_counts_as_no_display_and_stays_off_stderr(self):
        collector = Collector(dict(self.x.env, XAUTHORITY="/nonexistent"))
        try:
            self.assertEqual(collector.next(), {
                "error": "Accessibility permission is not granted; window titles cannot be read."})
            self.assertEqual(collector.next()["process"], "Unknown")
            status, stderr = collector.finish()
            self.assertEqual((status, stderr), (0, b""))
        finally:
            collector.kill()


if __name__ == "__main__":
    unittest.main()
