"""End-to-end tests of the collector on a Wayland desktop.

Real compositor: headless sway under an unprivileged user (sway refuses to run
as root) with a private XDG_RUNTIME_DIR, driven with swaymsg through its IPC
socket; windows from foot and from a small xdg-shell client
(test_toplevel.c), input from wtype. Scripted compositor (test_compositor.c):
the ext-idle-notify path, exact event batches, a compositor that stops
answering, and one without the foreign-toplevel manager for the choice of
window system at start.

Environment: PALVERN_COLLECTOR, PALVERN_TEST_COMPOSITOR, PALVERN_TEST_TOPLEVEL.
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x11"))
from desktops import offers  # noqa: E402
from record_check import parse_line  # noqa: E402
from x11_e2e_test import COLLECTOR, DEADLINE, REFRESH, Collector, XSession  # noqa: E402

COMPOSITOR = os.environ.get("PALVERN_TEST_COMPOSITOR", "wayland_test_compositor")
TOPLEVEL = os.environ.get("PALVERN_TEST_TOPLEVEL", "wayland_test_toplevel")
NOBODY = 65534
UNKNOWN = ("Unknown", "", "")


def base_env(runtime_dir, **extra):
    """The environment of a client of a private compositor: no X display."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET")}
    env.update(XDG_RUNTIME_DIR=runtime_dir, **extra)
    return env


def wait_for(ready, what, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        value = ready()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {timeout} s")
        time.sleep(0.05)


def facts(record):
    return record["process"], record["bundle_id"], record["window_title"]


class CollectorTest(unittest.TestCase):
    """Starts collectors that are finished cleanly (exit 0, empty standard
    error) at the end of each test."""

    def collector(self, env):
        collector = Collector(env)
        self.addCleanup(collector.kill)
        self.addCleanup(self.assert_clean_exit, collector)
        return collector

    def assert_clean_exit(self, collector):
        status, stderr = collector.finish()
        self.assertEqual((status, stderr), (0, b""))

    def assert_input_ending_at_start_writes_nothing_untrue(self, env, expected, runs=10):
        """Runs the collector `runs` times with its input at its end from the
        outset (the host that starts it and stops it at once): each ends with
        status 0 and writes no record but a start record with the `expected`
        facts. The start-up wait sees the end of input and writes nothing
        after; what it wrote before is true."""
        for _ in range(runs):
            proc = subprocess.run([COLLECTOR], stdin=subprocess.DEVNULL, capture_output=True, env=env,
                                  timeout=DEADLINE)
            self.assertEqual((proc.returncode, proc.stderr), (0, b""))
            for line in proc.stdout.splitlines(keepends=True):
                record = parse_line(line)
                self.assertEqual((record.get("event"), facts(record)), ("start", expected), record)

    def next_without_focus(self, collector, event):
        """The next record of `event`; fails on a focus record before it."""
        while True:
            record = collector.next()
            if record["event"] == event:
                return record
            self.assertNotEqual(record["event"], "focus", record)

    def next_focus(self, collector, process):
        """The next focus record, which must be for `process`: a record that
        came too many before it shows up here."""
        record = collector.next_event("focus")
        self.assertEqual(record["process"], process, record)
        return record


# ---------------------------------------------------------------------------
# The scripted compositor.

class TestCompositor:
    """test_compositor.c on a socket of its own; `send` runs one command."""

    def __init__(self, bare=False, name="wayland-test", idle_version=1):
        self.dir = tempfile.mkdtemp(prefix="palvern-wl-")
        self.name = name
        self.env = base_env(self.dir, WAYLAND_DISPLAY=self.name)
        argv = [COMPOSITOR] + (["--bare"] if bare else [f"--idle-version={idle_version}"]) + [self.name]
        self.proc = subprocess.Popen(argv, env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        assert self.proc.stdout.readline() == b"ready\n"

    def send(self, *words):
        self.proc.stdin.write((" ".join(words) + "\n").encode())
        self.proc.stdin.flush()
        assert self.proc.stdout.readline() == b"ok\n"

    def new(self, number, app_id, title):
        app = "-" if app_id is None else app_id.encode().hex()
        self.send("new", str(number), app, title.encode().hex())

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class ScriptedTest(CollectorTest):
    def setUp(self):
        self.wl = TestCompositor()
        self.addCleanup(self.wl.close)
        self.wl.new(1, "alpha.app", "Alpha one")
        self.wl.new(2, "alpha.app", "Alpha two")
        self.wl.new(3, "beta.app", "Beta")
        self.wl.new(4, None, "No app id")
        self.wl.send("activate", "1")

    def start(self):
        collector = self.collector(self.wl.env)
        return collector, collector.next()


class ScriptedCompositor(ScriptedTest):
    def test_start_record_names_the_activated_toplevel(self):
        _, start = self.start()  # no error record: the compositor offers the manager
        self.assertEqual(start["event"], "start")
        self.assertEqual(facts(start), ("alpha.app", "alpha.app", "Alpha one"))
        self.assertEqual((start["keys_total"], start["clicks_total"], start["url"]), (0, 0, ""))

    def test_one_focus_record_per_application_switch(self):
        collector, _ = self.start()
        self.wl.send("activate", "2")  # the same application: no record
        self.wl.send("activate", "1")
        for number, expected in [("3", ("beta.app", "beta.app", "Beta")),
                                 ("2", ("alpha.app", "alpha.app", "Alpha two")),
                                 ("4", ("Unknown", "", "No app id")),
                                 ("3", ("beta.app", "beta.app", "Beta"))]:
            self.wl.send("activate", number)
            self.assertEqual(facts(collector.next_event("focus")), expected)

    def test_an_empty_workspace_has_no_frontmost_application(self):
        collector, _ = self.start()
        self.wl.send("activate", "0")
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")), UNKNOWN)
        self.wl.send("activate", "1")  # back to the application last posted: nothing new
        self.wl.send("activate", "3")
        self.next_focus(collector, "beta.app")

    def test_closing_the_active_toplevel(self):
        collector, _ = self.start()
        self.wl.send("close", "1")
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")), UNKNOWN)
        self.wl.send("activate", "2")  # its sibling: still the application last posted
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")),
                         ("alpha.app", "alpha.app", "Alpha two"))

    def test_a_desktop_entry_names_the_application_by_its_app_id(self):
        data = tempfile.mkdtemp(prefix="palvern-entries-")
        self.addCleanup(shutil.rmtree, data, ignore_errors=True)
        os.makedirs(os.path.join(data, "applications"))
        with open(os.path.join(data, "applications", "beta.app.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Beta Application\nName[de]=Beta-Anwendung\n")
        env = dict(self.wl.env, XDG_DATA_HOME=data, XDG_DATA_DIRS=os.path.join(data, "none"), LC_ALL="de_DE.UTF-8")
        collector = self.collector(env)
        self.assertEqual(facts(collector.next()), ("alpha.app", "alpha.app", "Alpha one"))  # no entry
        self.wl.send("activate", "3")
        self.assertEqual(facts(collector.next_event("focus")), ("Beta-Anwendung", "beta.app", "Beta"))

    def test_titles_as_sent_and_changed(self):
        collector, _ = self.start()
        self.wl.send("title", "1", b'q"b\\n\nl\x01 \xff\xfe\xc3'.hex())
        refresh = collector.next_event("refresh")
        self.assertEqual(refresh["window_title"], 'q"b\\n\nl\x01 \ufffd\ufffd\ufffd')

    def test_idle_from_ext_idle_notify(self):
        collector, start = self.start()
        self.assertEqual(start["idle_seconds"], 0)
        self.wl.send("idle")
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertGreaterEqual(first["idle_seconds"], 1)
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        self.wl.send("resume")
        self.wl.send("activate", "3")
        self.assertEqual(self.next_focus(collector, "beta.app")["idle_seconds"], 0)

    def test_an_idle_inhibitor_holds_back_the_notification_of_version_1_only(self):
        for version, held_back in [(1, True), (2, False)]:
            with self.subTest(f"ext_idle_notifier_v1 version {version}"):
                wl = TestCompositor(idle_version=version)
                self.addCleanup(wl.close)
                wl.new(1, "video.app", "Video")
                wl.send("activate", "1")
                collector = self.collector(wl.env)
                collector.next()
                wl.send("inhibit")  # a video plays; the user's input stops
                wl.send("idle")
                idle = collector.next_event("refresh")["idle_seconds"]
                if held_back:
                    self.assertEqual(idle, 0)
                else:
                    self.assertGreaterEqual(idle, 1)

    def test_a_compositor_that_stops_answering_is_dropped_and_found_again(self):
        collector, _ = self.start()
        collector.next_event("refresh")
        self.wl.send("stall")  # the socket stays open; nothing is answered
        records = [collector.next_event("refresh") for _ in range(2)]
        self.assertEqual(facts(records[-1]), UNKNOWN)
        self.wl.send("serve")
        record = collector.next_event("refresh")
        if facts(record) == UNKNOWN:  # the stalled attempt ran out just before
            record = collector.next_event("refresh")
        self.assertEqual(facts(record), ("alpha.app", "alpha.app", "Alpha one"))


# ---------------------------------------------------------------------------
# The choice of window system at start.

ERROR = {"error": "Accessibility permission is not granted; window titles cannot be read."}


class Selection(CollectorTest):
    def test_a_compositor_without_the_manager_and_no_display_gives_the_error_record(self):
        wl = TestCompositor(bare=True)
        self.addCleanup(wl.close)
        collector = self.collector(wl.env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)

    def test_a_compositor_that_never_answers_holds_nothing_up(self):
        directory = tempfile.mkdtemp(prefix="palvern-wl-")
        self.addCleanup(shutil.rmtree, directory, True)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        listener.bind(os.path.join(directory, "wayland-mute"))
        listener.listen(8)  # connections wait in the backlog, never accepted
        env = base_env(directory, WAYLAND_DISPLAY="wayland-mute")
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        # Standard input ends while the collector is still connecting.
        early = Collector(env)
        self.addCleanup(early.kill)
        status, stderr = early.finish()
        self.assertEqual((status, stderr), (0, b""))

    def test_where_the_compositor_is_looked_for(self):
        for case in ("wayland-0 in the runtime directory", "absolute path"):
            with self.subTest(case):
                wl = TestCompositor(name="wayland-0")
                self.addCleanup(wl.close)
                wl.new(1, "found.app", "Found")
                wl.send("activate", "1")
                env = dict(wl.env)
                if case == "absolute path":
                    env["WAYLAND_DISPLAY"] = os.path.join(wl.dir, "wayland-0")
                    env.pop("XDG_RUNTIME_DIR")
                else:
                    env.pop("WAYLAND_DISPLAY")
                collector = self.collector(env)
                self.assertEqual(facts(collector.next()), ("found.app", "found.app", "Found"))

    def test_no_compositor_and_an_x_display_reports_x11(self):
        for bare in (True, None):
            with self.subTest("bare compositor" if bare else "no compositor"):
                x = XSession()
                self.addCleanup(x.close)
                window = x.xterm("X window", "XTerm11")
                x.activate(window)
                if bare:
                    wl = TestCompositor(bare=True)
                    self.addCleanup(wl.close)
                    env = dict(wl.env, DISPLAY=x.display)
                else:
                    env = dict(base_env(tempfile.gettempdir(), WAYLAND_DISPLAY="wayland-absent"),
                               DISPLAY=x.display)
                collector = self.collector(env)
                self.assertEqual(facts(collector.next()), ("XTerm11", "XTerm11", "X window"))

    def test_a_compositor_with_the_manager_wins_over_an_x_display(self):
        x = XSession()
        self.addCleanup(x.close)
        x.activate(x.xterm("X window", "XTerm11"))
        wl = TestCompositor()
        self.addCleanup(wl.close)
        wl.new(1, "wayland.app", "Wayland window")
        wl.send("activate", "1")
        collector = self.collector(dict(wl.env, DISPLAY=x.display))
        self.assertEqual(facts(collector.next()), ("wayland.app", "wayland.app", "Wayland window"))


# ---------------------------------------------------------------------------
# Headless sway.

class Sway:
    """Headless sway under an unprivileged user, its runtime directory its own."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="palvern-sway-")
        os.chmod(self.dir, 0o755)
        self.runtime = os.path.join(self.dir, "run")
        os.mkdir(self.runtime, 0o700)
        os.chown(self.runtime, NOBODY, NOBODY)
        self.config = os.path.join(self.dir, "config")
        with open(self.config, "w") as config:
            config.write("output HEADLESS-1 resolution 1280x720\nxwayland disable\n")
        os.chmod(self.config, 0o644)
        self.children = []
        self.proc = None
        self.start()

    def start(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.dir,
               "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless",
               "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
        self.log = open(os.path.join(self.dir, "sway.log"), "ab")
        self.proc = subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "sway", "-c", self.config],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        ipc = wait_for(lambda: self.proc.poll() is None and self._file(f"sway-ipc.{NOBODY}.{self.proc.pid}.sock"),
                       "sway's IPC socket" + self.diagnosis())
        display = wait_for(lambda: self._file("wayland-", ".lock"), "sway's Wayland socket" + self.diagnosis())
        self.env = base_env(self.runtime, WAYLAND_DISPLAY=display, SWAYSOCK=os.path.join(self.runtime, ipc))
        wait_for(lambda: subprocess.run(["swaymsg", "-t", "get_version"], env=self.env,
                                        capture_output=True).returncode == 0, "sway's IPC")

    def _file(self, prefix, not_suffix=None):
        for name in sorted(os.listdir(self.runtime)):
            if name.startswith(prefix) and not (not_suffix and name.endswith(not_suffix)):
                return name
        return None

    def diagnosis(self):
        self.log.flush()
        try:
            with open(os.path.join(self.dir, "sway.log"), "rb") as log:
                return "\n  sway said: " + log.read()[-2000:].decode(errors="replace")
        except OSError:
            return ""

    def msg(self, *args):
        result = subprocess.run(["swaymsg", *args], env=self.env, capture_output=True, timeout=30)
        if result.returncode != 0:
            raise AssertionError(f"swaymsg {args}: {result.stdout!r} {result.stderr!r}")
        return result.stdout

    def views(self):
        """Every view: (con_id, app_id, name)."""
        found = []

        def walk(node):
            if node.get("type") in ("con", "floating_con") and node.get("pid"):
                found.append((node["id"], node.get("app_id"), node.get("name")))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(json.loads(self.msg("-t", "get_tree").decode("utf-8", "replace")))  # titles as clients set them
        return found

    def _new_view(self, before, app_id):
        def ready():
            for view in self.views():
                if view[0] not in before and view[1] == app_id:
                    return view[0]
            return None
        return wait_for(ready, f"a window of {app_id!r}" + self.diagnosis())

    def spawn(self, argv, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=self.env, **kwargs)
        self.children.append(proc)
        return proc

    def foot(self, app_id, title):
        """A foot window; returns its container id."""
        before = {v[0] for v in self.views()}
        self.spawn(["foot", f"--app-id={app_id}", f"--title={title}", "sleep", "100000"],
                   stdin=subprocess.DEVNULL)
        return self._new_view(before, app_id)

    def client(self, app_id, title):
        """A test_toplevel window (bytes for both); returns its container id."""
        before = {v[0] for v in self.views()}
        proc = self.spawn([TOPLEVEL, app_id.hex(), title.hex()], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert proc.stdout.readline() == b"mapped\n", self.diagnosis()
        return self._new_view(before, app_id.decode("utf-8", "replace"))

    def focus(self, con_id):
        self.msg(f"[con_id={con_id}]", "focus")

    def kill(self):
        self.proc.kill()
        self.proc.wait()
        for proc in self.children:
            proc.kill()
            proc.wait()
        self.log.close()

    def close(self):
        for proc in self.children:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()
        self.children = []
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class SwayTest(CollectorTest):
    @classmethod
    def setUpClass(cls):
        cls.sway = Sway()
        cls.addClassCleanup(cls.sway.close)

    def start(self):
        collector = self.collector(self.sway.env)
        start = collector.next()
        self.assertEqual(start["event"], "start")  # no error record
        return collector, start


class StartAndFocus(SwayTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.alpha = cls.sway.foot("alpha.term", "Alpha window")
        cls.alpha2 = cls.sway.foot("alpha.term", "Alpha second")
        cls.beta = cls.sway.foot("beta.term", "Beta window")

    def test_start_record_names_the_focused_window(self):
        self.sway.focus(self.beta)
        _, start = self.start()
        self.assertEqual(facts(start), ("beta.term", "beta.term", "Beta window"))
        self.assertEqual((start["keys_total"], start["clicks_total"]), (0, 0))

    def test_input_ending_during_start_up_writes_nothing_untrue(self):
        self.sway.focus(self.beta)
        self.assert_input_ending_at_start_writes_nothing_untrue(self.sway.env, ("beta.term", "beta.term", "Beta window"))

    def test_one_focus_record_per_application_switch_and_none_within_one(self):
        self.sway.focus(self.alpha)
        collector, _ = self.start()
        self.sway.focus(self.alpha2)  # the same application: no record
        self.sway.focus(self.alpha)
        for window, expected in [(self.beta, ("beta.term", "beta.term", "Beta window")),
                                 (self.alpha2, ("alpha.term", "alpha.term", "Alpha second")),
                                 (self.beta, ("beta.term", "beta.term", "Beta window"))]:
            self.sway.focus(window)
            self.assertEqual(facts(collector.next_event("focus")), expected)

    def test_a_desktop_entry_names_the_window_by_its_app_id(self):
        data = tempfile.mkdtemp(prefix="palvern-entries-")
        self.addCleanup(shutil.rmtree, data, ignore_errors=True)
        os.makedirs(os.path.join(data, "applications"))
        with open(os.path.join(data, "applications", "beta.term.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Beta Terminal\nName[de]=Beta-Terminal\n")
        self.sway.focus(self.alpha)
        env = dict(self.sway.env, XDG_DATA_HOME=data, XDG_DATA_DIRS=os.path.join(data, "none"),
                   LC_ALL="de_DE.UTF-8")
        collector = self.collector(env)
        self.assertEqual(facts(collector.next()), ("alpha.term", "alpha.term", "Alpha window"))  # no entry
        self.sway.focus(self.beta)
        self.assertEqual(facts(collector.next_event("focus")), ("Beta-Terminal", "beta.term", "Beta window"))

    def test_an_empty_workspace_and_back(self):
        self.sway.focus(self.alpha)
        collector, _ = self.start()
        self.sway.msg("workspace", "empty")
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")), UNKNOWN)
        self.sway.msg("workspace", "1")  # back to the application last posted: nothing new
        self.sway.focus(self.beta)
        self.next_focus(collector, "beta.term")

    def test_the_active_window_closing(self):
        window = self.sway.foot("gamma.term", "Gamma window")
        self.sway.focus(window)
        collector, start = self.start()
        self.assertEqual(start["process"], "gamma.term")
        self.sway.msg(f"[con_id={window}]", "kill")
        # sway focuses another window of the workspace: one of the others.
        focus = collector.next_event("focus")
        self.assertIn(focus["process"], ("alpha.term", "beta.term"))


class HostileTitles(SwayTest):
    CASES = [
        # (what, app_id bytes, title bytes, expected process, expected title)
        ("quotes and backslashes", b"hostile.one", b'say "hi" \\ \\n', "hostile.one", 'say "hi" \\ \\n'),
        ("newlines and controls", b"hostile.two", b"a\nb\r\tc\x01\x1f\x7f", "hostile.two", "a\nb\r\tc\x01\x1f\x7f"),
        ("invalid UTF-8", b"hostile.three", b"ok\xff\xfe\xc3", "hostile.three", "ok\ufffd\ufffd\ufffd"),
        ("long title", b"hostile.four", b"x" * 3000, "hostile.four", "x" * 3000),
        ("quotes and newline in app_id", b'bad"\napp', b"odd app", 'bad"\napp', "odd app"),
    ]

    def test_every_record_stays_one_valid_json_line(self):
        # A sway that disconnects a client for such a title shows it no one
        # (the scripted compositor's titles cover it).
        cases = [case for case in self.CASES
                 if not (case[0] == "invalid UTF-8" and offers("sway", "utf-8 titles only"))]
        windows = [(what, self.sway.client(app, title), process, expected)
                   for what, app, title, process, expected in cases]
        self.sway.focus(windows[-1][1])
        collector, _ = self.start()
        for what, window, process, title in windows:
            with self.subTest(what):
                self.sway.focus(window)
                focus = collector.next_event("focus")  # parsed strictly
                self.assertEqual((focus["process"], focus["bundle_id"], focus["window_title"]),
                                 (process, process, title))


class InputIdle(SwayTest):
    def test_idle_grows_without_input_and_drops_after_typing(self):
        alpha = self.sway.foot("alpha.term", "Alpha window")
        beta = self.sway.foot("beta.term", "Beta window")
        self.sway.focus(alpha)
        collector, _ = self.start()
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertGreaterEqual(first["idle_seconds"], 1)
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        subprocess.run(["wtype", "abc"], env=self.sway.env, check=True, capture_output=True, timeout=30)
        self.sway.focus(beta)
        focus = collector.next_event("focus")
        self.assertLessEqual(focus["idle_seconds"], 1)  # one second without input counts as idle
        self.assertEqual((focus["keys_total"], focus["clicks_total"]), (0, 0))

    def test_an_idle_inhibitor_keeps_the_user_looking_active_without_input_idle(self):
        window = self.sway.foot("video.term", "Video window")
        self.addCleanup(self.sway.msg, f"[con_id={window}]", "kill")
        self.sway.focus(window)
        self.sway.msg(f"[con_id={window}]", "inhibit_idle", "open")  # as a video player's inhibitor
        collector, _ = self.start()
        collector.next_event("refresh")
        idle = collector.next_event("refresh")["idle_seconds"]  # 5 s and more without input
        if offers("sway", "input idle"):
            self.assertGreaterEqual(idle, 5)
        else:
            self.assertEqual(idle, 0)


class LostCompositor(SwayTest):
    def test_a_lost_compositor_ends_nothing_and_comes_back(self):
        self.sway.focus(self.sway.foot("alpha.term", "Alpha window"))
        collector, start = self.start()
        self.assertEqual(start["process"], "alpha.term")
        display = self.sway.env["WAYLAND_DISPLAY"]

        self.sway.kill()
        refresh = collector.next_event("refresh")
        self.assertEqual(facts(refresh), UNKNOWN)
        self.assertIsNone(collector.proc.poll())

        self.sway.start()
        self.assertEqual(self.sway.env["WAYLAND_DISPLAY"], display)
        self.sway.focus(self.sway.foot("back.term", "Back again"))
        for _ in range(3):
            refresh = collector.next_event("refresh")
            if refresh["process"] != "Unknown":
                break
        self.assertEqual(facts(refresh), ("back.term", "back.term", "Back again"))


if __name__ == "__main__":
    unittest.main()
