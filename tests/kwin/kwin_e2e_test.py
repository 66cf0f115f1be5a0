"""End-to-end tests of the collector on KDE Plasma's KWin under Wayland.

KWin: a copy of kwin_wayland (the installed binary carries a file capability
that a container's bounding set may lack; a copy has none) on a virtual
output with XWayland, a private session bus from its own dbus-daemon, and a
private HOME and XDG_RUNTIME_DIR. Windows: GTK 3 windows on Wayland
(test_window.py) and test_window windows on KWin's XWayland (x11/); they are
activated through KWin's window runner (org.kde.krunner1 on /WindowsRunner).
Input for the idle time: kwin_test_activity (simulate_user_activity).

Environment: PALVERN_COLLECTOR, PALVERN_TEST_ACTIVITY, PALVERN_TEST_WINDOW;
PALVERN_GTK_PYTHON, a Python with the GTK 3 bindings (/usr/bin/python3).
"""

import fcntl
import glob
import json
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wayland"))
from desktops import offers  # noqa: E402
from wayland_e2e_test import ERROR, UNKNOWN, CollectorTest, TestCompositor, facts, wait_for  # noqa: E402
from x11_e2e_test import COLLECTOR, DEADLINE, Collector, prop  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ACTIVITY = os.environ.get("PALVERN_TEST_ACTIVITY", "kwin_test_activity")
TEST_WINDOW = os.environ.get("PALVERN_TEST_WINDOW", "x11_test_window")
GTK_PYTHON = os.environ.get("PALVERN_GTK_PYTHON", "/usr/bin/python3")
KWIN = shutil.which("kwin_wayland") or "/usr/bin/kwin_wayland"
SOCKET = "wayland-kwin"
SCRIPT_FILES = "palvern-collector-*.js"


class KWin:
    """kwin_wayland on a virtual output, with a session bus of its own that
    outlives it (so that it can be killed and started again on the same bus)."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="palvern-kwin-")
        self.runtime = os.path.join(self.dir, "run")
        os.mkdir(self.runtime, 0o700)
        self.home = os.path.join(self.dir, "home")
        os.mkdir(self.home)
        self.binary = os.path.join(self.dir, "kwin_wayland")
        shutil.copy(KWIN, self.binary)  # without the file capability
        self.log = open(os.path.join(self.dir, "kwin.log"), "ab")
        self.children = []
        self.proc = None
        bus_path = os.path.join(self.dir, "bus")
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address=unix:path={bus_path}"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        self.address = f"unix:path={bus_path}"
        wait_for(lambda: os.path.exists(bus_path), "the session bus")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_RUNTIME_DIR": self.runtime, "DBUS_SESSION_BUS_ADDRESS": self.address,
                    "WAYLAND_DISPLAY": SOCKET, "NO_AT_BRIDGE": "1"}
        self.display = None
        try:
            self.start()
        except BaseException:
            self.close()
            raise

    def start(self):
        # KWin takes over an X display whose lock names a dead process. Two
        # servers doing so at once both believe they own it, and the loser
        # removes the winner's socket and lock. So concurrent suites take
        # turns at choosing a display, as the X11 sessions do.
        with open("/tmp/.palvern-x11-displays", "a") as turn:
            fcntl.flock(turn, fcntl.LOCK_EX)
            self.proc = subprocess.Popen(
                [self.binary, "--virtual", "--socket", SOCKET, "--width", "1280", "--height", "720",
                 "--xwayland"],
                env=self.env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                start_new_session=True)
            self.display = self.wait(self._xwayland_display, "KWin's XWayland")
        self.wait(lambda: self.running() and self.call_ok("/Scripting", "org.kde.kwin.Scripting",
                                                          "isScriptLoaded", "s", "none"),
                  "KWin on the session bus")
        self.wait(lambda: os.path.exists(os.path.join(self.runtime, SOCKET)), "KWin's Wayland socket")

    def wait(self, ready, what):
        deadline = time.monotonic() + DEADLINE
        while not (value := ready()):
            if not self.running():
                raise AssertionError(f"KWin exited ({self.proc.returncode}) before {what}" + self.diagnosis())
            if time.monotonic() > deadline:
                raise AssertionError(f"{what}: not within {DEADLINE} s" + self.diagnosis())
            time.sleep(0.05)
        return value

    def _forget_display(self):
        """Removes the lock and socket a killed KWin leaves for its XWayland
        display, when no other server has taken them over."""
        if not self.display:
            return
        number = self.display[1:]
        with open("/tmp/.palvern-x11-displays", "a") as turn:
            fcntl.flock(turn, fcntl.LOCK_EX)
            if lock_owner(number) == self.proc.pid:
                for path in (f"/tmp/.X{number}-lock", f"/tmp/.X11-unix/X{number}"):
                    try:
                        os.remove(path)
                    except OSError:
                        pass

    def running(self):
        return self.proc.poll() is None

    def _xwayland_display(self):
        """KWin's X display: the one whose lock names KWin, which listens on
        its socket (KWin 6 starts XWayland only when the first X client
        connects there)."""
        for lock in glob.glob("/tmp/.X*-lock"):
            number = lock[len("/tmp/.X"):-len("-lock")]
            if lock_owner(number) == self.proc.pid and os.path.exists(f"/tmp/.X11-unix/X{number}"):
                return ":" + number
        return None

    def diagnosis(self):
        self.log.flush()
        try:
            with open(os.path.join(self.dir, "kwin.log"), "rb") as log:
                return "\n  KWin said: " + log.read()[-3000:].decode(errors="replace")
        except OSError:
            return ""

    # -- the session bus

    def busctl(self, *args, check=True):
        result = subprocess.run(["busctl", f"--address={self.address}", *args], capture_output=True,
                                timeout=DEADLINE)
        if check and result.returncode != 0:
            raise AssertionError(f"busctl {args}: {result.stdout!r} {result.stderr!r}")
        return result

    def call(self, path, interface, member, *signature_and_args, destination="org.kde.KWin"):
        result = self.busctl("--json=short", "call", destination, path, interface, member,
                             *signature_and_args)
        return json.loads(result.stdout)["data"] if result.stdout.strip() else None

    def call_ok(self, path, interface, member, *signature_and_args):
        return self.busctl("call", "org.kde.KWin", path, interface, member, *signature_and_args,
                           check=False).returncode == 0

    def script_loaded(self, name):
        return self.call("/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded", "s", name) == [True]

    def load_script(self, text, name):
        """Loads and runs a script of the test's own."""
        path = os.path.join(self.runtime, f"test-{name}.js")
        with open(path, "w") as f:
            f.write(text)
        [number] = self.call("/Scripting", "org.kde.kwin.Scripting", "loadScript", "ss", path, name)
        assert number >= 0, number
        script = f"/Scripting/Script{number}" if offers("kwin", "script objects under /Scripting") else f"/{number}"
        self.call(script, "org.kde.kwin.Script", "run")

    # -- windows

    def windows(self):
        """The windows the window runner lists: {caption: id}."""
        [matches] = self.call("/WindowsRunner", "org.kde.krunner1", "Match", "s", "")
        return {text: match_id for match_id, text, *_ in matches}

    def activate(self, caption):
        match_id = wait_for(lambda: self.windows().get(caption), f"the window {caption!r}")
        self.call("/WindowsRunner", "org.kde.krunner1", "Run", "ss", match_id, "")

    def spawn(self, argv, env, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=env, **kwargs)
        self.children.append(proc)
        return proc

    def gtk(self, app_id, *titles, captions=None):
        """GTK windows on Wayland, one process; returns it (see set_title).
        `captions`: the titles as KWin shows them, when it changes them."""
        env = dict(self.env, GDK_BACKEND="wayland")
        proc = self.spawn([GTK_PYTHON, os.path.join(HERE, "test_window.py"), app_id.encode().hex(),
                           *(title.encode().hex() for title in titles)],
                          env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.read_reply(proc, b"mapped\n", "GTK windows")
        for caption in captions or titles:
            wait_for(lambda: caption in self.windows(), f"KWin listing {caption!r}")
        return proc

    def set_title(self, proc, title, index=0):
        proc.stdin.write(f"title {index} ".encode() + title.encode().hex().encode() + b"\n")
        proc.stdin.flush()
        self.read_reply(proc, b"ok\n", "a title change")

    def x_window(self, *properties, with_pid=True):
        """A test_window window on XWayland, properties byte for byte; with
        the test's own process as its _NET_WM_PID unless told otherwise."""
        env = dict(self.env, DISPLAY=self.display)
        env.pop("WAYLAND_DISPLAY")
        if with_pid:
            properties += (prop("_NET_WM_PID", "CARDINAL", struct.pack("=I", os.getpid())),)
        proc = self.spawn([TEST_WINDOW, *properties], env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          bufsize=0)
        self.read_reply(proc, None, "an XWayland window")
        return proc

    def read_reply(self, proc, expected, what):
        ready, _, _ = select.select([proc.stdout], [], [], DEADLINE)
        line = proc.stdout.readline() if ready else b""
        if not line or (expected is not None and line != expected):
            raise AssertionError(f"{what}: {line!r}" + self.diagnosis())

    def simulate_activity(self):
        subprocess.run([ACTIVITY], env=self.env, check=True, timeout=DEADLINE)

    # -- KWin going away

    def kill(self):
        """KWin ends as a crash would; its clients with it."""
        os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait()
        self._forget_display()
        for proc in self.children:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()
        self.children = []

    def stop(self):
        os.killpg(self.proc.pid, signal.SIGSTOP)

    def cont(self):
        os.killpg(self.proc.pid, signal.SIGCONT)

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.cont()
            self.kill()
        elif self.proc:
            self._forget_display()
        self.bus.terminate()
        self.bus.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def x_class(wm_class):
    """An XWayland window's class as KWin gives it."""
    return wm_class if offers("kwin", "x classes as set") else wm_class.lower()


def lock_owner(number):
    """The process an X display's lock names, or None."""
    try:
        with open(f"/tmp/.X{number}-lock") as f:
            return int(f.read().strip() or 0)
    except (OSError, ValueError):
        return None


def script_files(kwin):
    return sorted(os.path.basename(p)[:-3] for p in glob.glob(os.path.join(kwin.runtime, SCRIPT_FILES)))


def own_script(kwin, collector):
    """The name of the script `collector` loaded, from its file."""
    prefix = f"palvern-collector-{collector.proc.pid}-"
    return wait_for(lambda: next((n for n in script_files(kwin) if n.startswith(prefix)), None),
                    "the collector's script file")


def script_constant(kwin, collector, name):
    """A constant of the collector's script, as its file holds it."""
    with open(os.path.join(kwin.runtime, own_script(kwin, collector) + ".js")) as f:
        return re.search(f'const {name} = "([^"]+)"', f.read()).group(1)


def collector_destination(kwin, collector):
    """The collector's unique name on the bus, as its script quotes it."""
    return script_constant(kwin, collector, "destination")


class KWinTest(CollectorTest):
    @classmethod
    def setUpClass(cls):
        cls.kwin = KWin()
        cls.addClassCleanup(cls.kwin.close)

    def start(self, env=None):
        collector = self.collector(env or self.kwin.env)
        start = collector.next()
        self.assertEqual(start["event"], "start")  # no error record
        return collector, start


# ---------------------------------------------------------------------------


class Selection(KWinTest):
    def test_kwin_without_a_wayland_session_is_not_chosen_and_nothing_is_left_behind(self):
        env = dict(self.kwin.env, WAYLAND_DISPLAY="wayland-absent")  # as KWin on X11, without a display
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        self.assertEqual(script_files(self.kwin), [])

    def test_a_session_bus_without_kwin_is_not_chosen(self):
        bus_dir = tempfile.mkdtemp(prefix="palvern-bus-")
        self.addCleanup(shutil.rmtree, bus_dir, True)
        path = os.path.join(bus_dir, "bus")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                f"--address=unix:path={path}"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        self.addCleanup(bus.wait)
        self.addCleanup(bus.terminate)
        wait_for(lambda: os.path.exists(path), "a session bus")
        collector = self.collector(dict(self.kwin.env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={path}"))
        self.assertEqual(collector.next(), ERROR)  # KWin's compositor, but no KWin to ask
        self.assertEqual(facts(collector.next()), UNKNOWN)

    def test_input_ending_while_kwin_does_not_answer_ends_the_collector_at_once(self):
        self.kwin.stop()
        self.addCleanup(self.kwin.cont)
        early = Collector(self.kwin.env)
        self.addCleanup(early.kill)
        begun = time.monotonic()
        status, stderr = early.finish()
        self.assertEqual((status, stderr), (0, b""))
        self.assertLess(time.monotonic() - begun, 3.0)


class StandIn(CollectorTest):
    """stand_in_kwin.py on a private bus, with the scripted compositor
    (no toplevel manager) for the idle connection."""

    def stand_in(self, mode):
        wl = TestCompositor(bare=True)
        self.addCleanup(wl.close)
        path = os.path.join(wl.dir, "bus")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                f"--address=unix:path={path}"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        self.addCleanup(bus.wait)
        self.addCleanup(bus.terminate)
        wait_for(lambda: os.path.exists(path), "a session bus")
        env = dict(wl.env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={path}")
        kwin = subprocess.Popen([GTK_PYTHON, os.path.join(HERE, "stand_in_kwin.py"), env["DBUS_SESSION_BUS_ADDRESS"],
                                 mode], stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        self.addCleanup(kwin.wait)
        self.addCleanup(kwin.stdout.close)
        self.addCleanup(kwin.stdin.close)
        assert kwin.stdout.readline() == b"ready\n"
        return env, kwin, wl.dir

    def calls(self, kwin, until):
        """The stand-in's log up to and with the line `until`."""
        lines = []
        while not lines or lines[-1] != until:
            ready, _, _ = select.select([kwin.stdout], [], [], DEADLINE)
            self.assertTrue(ready, lines)
            lines.append(kwin.stdout.readline().decode().strip())
        return lines

    def command(self, kwin, *words):
        """Has the stand-in carry out a command; its log up to then."""
        kwin.stdin.write((" ".join(words) + "\n").encode())
        kwin.stdin.flush()
        return self.calls(kwin, "ok")[:-1]

    def test_plasma6_names_the_script_object_after_the_scripting_object(self):
        env, kwin, _ = self.stand_in("plasma6")
        collector = self.collector(env)
        self.assertEqual(facts(collector.next()), ("start.app", "start.app", "Start window"))
        calls = self.calls(kwin, "run /Scripting/Script0")
        self.assertEqual([c.split()[0] for c in calls], ["loadScript", "run"])

    def test_a_number_another_scripts_object_answers_at_is_not_run(self):
        env, kwin, runtime = self.stand_in("taken")
        collector = self.collector(env)
        self.assertEqual(facts(collector.next()), ("start.app", "start.app", "Start window"))
        calls = self.calls(kwin, "run /2")
        name = calls[0].split()[1]
        # The copy given 1 cannot be reached: it is unloaded, and the next
        # copy, given 2, runs.
        self.assertEqual(calls, [f"loadScript {name}", f"loadScript {name}-1", f"unloadScript {name}", "run /2"])
        self.assertEqual(sorted(os.path.basename(p) for p in glob.glob(os.path.join(runtime, SCRIPT_FILES))),
                         [f"{name}-1.js"])

    def test_a_refused_script_is_not_chosen_and_leaves_nothing(self):
        env, kwin, runtime = self.stand_in("refuse")
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        self.assertEqual(glob.glob(os.path.join(runtime, SCRIPT_FILES)), [])

    def test_what_others_send_is_refused_and_changes_nothing(self):
        env, kwin, _ = self.stand_in("kwin5")
        collector = self.collector(env)
        self.assertEqual(facts(collector.next()), ("start.app", "start.app", "Start window"))
        self.calls(kwin, "run /0")
        forged = [
            # KWin's name changing hands, said by a connection that is not the bus.
            ("forge-owner",),
            # Calls through KWin's own connection (another script's), without
            # this run's token, or with another.
            ("call-token", "-"),
            ("call-token", "0" * 32),
        ]
        for words in forged:
            self.assertEqual(self.command(kwin, *words), [], words)
        # Had the owner change been believed, the refresh would find no script
        # and load it again; had a call, it would report forged.app.
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")),
                         ("start.app", "start.app", "Start window"))
        self.assertEqual(self.command(kwin), [])  # nothing loaded again

    def test_a_load_never_answered_holds_start_up_a_second_at_most(self):
        env, kwin, _ = self.stand_in("mute")
        begun = time.monotonic()
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertLess(time.monotonic() - begun, 3.0)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        early = Collector(env)  # standard input ends while the load is unanswered
        self.addCleanup(early.kill)
        self.assertEqual(early.finish(), (0, b""))

    def test_a_script_that_never_reports_is_a_failed_start_and_is_unloaded(self):
        env, kwin, runtime = self.stand_in("silent")
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        calls = self.calls(kwin, "run /0")
        name = calls[0].split()[1]
        self.assertEqual(self.calls(kwin, f"unloadScript {name}")[-1], f"unloadScript {name}")
        self.assertEqual(glob.glob(os.path.join(runtime, SCRIPT_FILES)), [])


class StartAndFocus(KWinTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.alpha = cls.kwin.gtk("alpha.app", "Alpha window", "Alpha second")
        cls.beta = cls.kwin.gtk("beta.app", "Beta window")
        cls.x = cls.kwin.x_window(prop("WM_CLASS", "STRING", b"kwtest\0KWTest\0"),
                                  prop("_NET_WM_NAME", "UTF8_STRING", b"X window"))
        cls.x_nameless = cls.kwin.x_window(prop("WM_CLASS", "STRING", b"nopid\0NoPid\0"),
                                           prop("_NET_WM_NAME", "UTF8_STRING", b"No pid"), with_pid=False)

    def test_start_record_names_the_active_window(self):
        self.kwin.activate("Beta window")
        _, start = self.start()
        self.assertEqual(facts(start), ("beta.app", "beta.app", "Beta window"))
        self.assertEqual((start["keys_total"], start["clicks_total"], start["url"]), (0, 0, ""))

    def test_input_ending_during_start_up_writes_nothing_untrue_and_leaves_nothing(self):
        self.kwin.activate("Beta window")
        self.assert_input_ending_at_start_writes_nothing_untrue(self.kwin.env, ("beta.app", "beta.app", "Beta window"))
        self.assertEqual(script_files(self.kwin), [])

    def test_one_focus_record_per_application_switch_and_none_within_one(self):
        self.kwin.activate("Alpha window")
        collector, start = self.start()
        self.assertEqual(start["process"], "alpha.app")
        self.kwin.activate("Alpha second")  # the same application: no record
        self.kwin.activate("Alpha window")
        for caption, expected in [("Beta window", ("beta.app", "beta.app", "Beta window")),
                                  ("Alpha second", ("alpha.app", "alpha.app", "Alpha second")),
                                  ("X window", (x_class("KWTest"), x_class("KWTest"), "X window")),
                                  ("No pid", (x_class("NoPid"), x_class("NoPid"), "No pid")),
                                  ("Beta window", ("beta.app", "beta.app", "Beta window"))]:
            self.kwin.activate(caption)
            self.assertEqual(facts(collector.next_event("focus")), expected)

    def test_a_title_change_is_seen_without_a_focus_record(self):
        self.kwin.activate("Alpha window")
        collector, _ = self.start()
        self.kwin.set_title(self.alpha, "Alpha renamed")
        self.addCleanup(self.kwin.set_title, self.alpha, "Alpha window")
        record = self.next_without_focus(collector, "refresh")
        if record["window_title"] != "Alpha renamed":  # the refresh came before the change
            record = self.next_without_focus(collector, "refresh")
        self.assertEqual(facts(record), ("alpha.app", "alpha.app", "Alpha renamed"))

    def test_the_desktop_entry_named_by_kwin_names_the_application(self):
        data = tempfile.mkdtemp(prefix="palvern-entries-")
        self.addCleanup(shutil.rmtree, data, ignore_errors=True)
        os.makedirs(os.path.join(data, "applications"))
        with open(os.path.join(data, "applications", "beta.app.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Beta Application\n")
        self.kwin.activate("Alpha window")
        env = dict(self.kwin.env, XDG_DATA_HOME=data, XDG_DATA_DIRS=os.path.join(data, "none"))
        collector, _ = self.start(env)
        self.kwin.activate("Beta window")
        self.assertEqual(facts(collector.next_event("focus")), ("Beta Application", "beta.app", "Beta window"))


class HostileInput(KWinTest):
    TITLES = [
        # (what, title sent, title as KWin gives it: whitespace simplified)
        ("quotes and backslashes", 'say "hi" \\ \\n', 'say "hi" \\ \\n'),
        ("newlines and controls", "a\nb\r\tc\x01\x1f\x7f", "a b c\x01\x1f\x7f"),
        ("long title (a Wayland message holds 4 KiB)", "x" * 3000, "x" * 3000),
        ("beyond the BMP", "\U0001F600 \u00e9\u0301", "\U0001F600 \u00e9\u0301"),
    ]

    def test_titles_from_wayland_and_xwayland_stay_one_valid_json_line(self):
        cases = [(what, f"hostile.{i}", sent, expected) for i, (what, sent, expected) in enumerate(self.TITLES)]
        for what, app_id, sent, expected in cases:
            self.kwin.gtk(app_id, sent, captions=[expected])
        self.kwin.x_window(prop("WM_CLASS", "STRING", b"bad\0BadX\0"),
                           prop("_NET_WM_NAME", "UTF8_STRING", b"ok\xff\xfe\xc3"))
        self.kwin.x_window(prop("WM_CLASS", "STRING", b"long\0LongX\0"), "_NET_WM_NAME=UTF8_STRING:100000*79")
        self.kwin.activate(cases[0][3])
        collector, _ = self.start()
        for what, app_id, sent, expected in cases[1:]:
            with self.subTest(what):
                self.kwin.activate(expected)
                focus = collector.next_event("focus")  # parsed strictly
                self.assertEqual(facts(focus), (app_id, app_id, expected))
        with self.subTest("ill-formed UTF-8 on XWayland"):
            caption = next(c for c in self.kwin.windows() if c.startswith("ok"))
            self.assertEqual(caption, "ok\ufffd\ufffd\ufffd")
            self.kwin.activate(caption)
            focus = collector.next_event("focus")
            self.assertEqual((focus["process"], focus["window_title"]), (x_class("BadX"), caption))
        with self.subTest("a long title on XWayland"):
            caption = next(c for c in self.kwin.windows() if c.startswith("yyy"))
            self.kwin.activate(caption)
            focus = collector.next_event("focus")
            self.assertEqual((focus["process"], focus["window_title"]), (x_class("LongX"), caption[:64 * 1024]))
            self.assertEqual(len(caption), 100000)

    def test_calls_of_the_wrong_form_from_kwin_and_calls_from_others(self):
        self.kwin.gtk("steady.app", "Steady window")
        self.kwin.gtk("other.app", "Other window")
        self.kwin.activate("Steady window")
        collector, start = self.start()
        self.assertEqual(facts(start), ("steady.app", "steady.app", "Steady window"))
        destination = collector_destination(self.kwin, collector)
        token = script_constant(self.kwin, collector, "token")
        path, iface = "/dev/palvern/Collector/KWin", "dev.palvern.Collector.KWin"
        # From KWin itself, through another program's script, which cannot
        # know this run's token: refused, nothing changes.
        forged = f"""
const d = "{destination}", p = "{path}", i = "{iface}";
callDBus(d, p, i, "Active", "FAKE", "evil", "evil", "evil", "w", 1);
callDBus(d, p, i, "Active", "{'0' * len(token)}", "evil", "evil", "evil", "w", 1);
callDBus(d, p, i, "Active", "evil", "evil", "evil", "w", 1);
callDBus(d, p, i, "Inactive", "FAKE");
callDBus(d, p, i, "Inactive");
"""
        self.kwin.load_script(forged, "forged-calls")
        self.addCleanup(self.kwin.call, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s",
                        "forged-calls")
        self.assertEqual(facts(self.next_without_focus(collector, "refresh")),
                         ("steady.app", "steady.app", "Steady window"))
        # From KWin with the token (a script of the test's own, which read
        # it from the collector's file, calling as the collector's script
        # does), with every kind of wrong call, a flood, and a huge caption;
        # then the real window again.
        script = f"""
const d = "{destination}", p = "{path}", i = "{iface}", t = "{token}";
callDBus(d, p, i, "Active", t, "missing fields");
callDBus(d, p, i, "Active", t, 1, 2, 3, 4, "five");
callDBus(d, p, i, "Active", t, "a", "b", "c", "d", 1, "extra");
callDBus(d, p, i, "NoSuchMethod", t, "x");
callDBus(d, "/elsewhere", i, "Active", t, "a", "b", "c", "d", 1);
for (let n = 0; n < 2000; ++n) callDBus(d, p, i, "Active", t, "flood " + n, "flood.app", "flood.app", "w" + n, n);
callDBus(d, p, i, "Active", t, "h".repeat(1 << 20), "huge.app", "huge.app", "huge", 1);
"""
        self.kwin.load_script(script, "hostile-calls")
        self.addCleanup(self.kwin.call, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s",
                        "hostile-calls")
        focus = collector.next_event("focus")  # the flood's application, posted once per batch
        self.assertIn(focus["process"], ("flood.app", "huge.app"))
        # The flood's pids are all different applications; every line is
        # still one valid record, and the collector follows the end state,
        # its caption cut at 64 KiB.
        record = collector.next_event("refresh")
        while record["process"] != "huge.app":
            record = collector.next_event("refresh")
        self.assertEqual(facts(record), ("huge.app", "huge.app", "h" * (64 * 1024)))
        # From anyone else, token and all: refused, nothing changes.
        result = self.kwin.busctl("call", destination, path, iface, "Active", "sssssi", token, "Intruder",
                                  "intruder", "intruder", "x", "1", check=False)
        self.assertNotEqual(result.returncode, 0)
        self.kwin.activate("Other window")  # KWin's active window changes: its script reports again
        self.assertEqual(facts(collector.next_event("focus")), ("other.app", "other.app", "Other window"))
        self.kwin.activate("Steady window")
        self.assertEqual(facts(collector.next_event("focus")), ("steady.app", "steady.app", "Steady window"))
        self.assertEqual(facts(collector.next_event("refresh")), ("steady.app", "steady.app", "Steady window"))


class InputIdle(KWinTest):
    def test_idle_grows_without_input_and_drops_after_activity(self):
        self.kwin.gtk("alpha.app", "Alpha window")
        self.kwin.gtk("beta.app", "Beta window")
        self.kwin.activate("Alpha window")
        collector, _ = self.start()
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertGreaterEqual(first["idle_seconds"], 1)
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        self.kwin.simulate_activity()
        self.kwin.activate("Beta window")
        focus = collector.next_event("focus")
        self.assertLessEqual(focus["idle_seconds"], 1)  # one second without input counts as idle
        self.assertEqual((focus["keys_total"], focus["clicks_total"]), (0, 0))


class ScriptLifetime(KWinTest):
    def test_the_script_is_unloaded_and_its_file_removed_at_the_end_of_input(self):
        collector, _ = self.start()
        name = own_script(self.kwin, collector)
        self.assertTrue(self.kwin.script_loaded(name))
        self.assert_clean_exit(collector)
        self.assertFalse(self.kwin.script_loaded(name))
        self.assertEqual(script_files(self.kwin), [])

    def test_a_number_kwin_gives_again_is_not_run(self):
        # KWin numbers a new script by the count of scripts it holds: with a
        # dead collector's script at 0 and another program's at 1, unloading
        # the first makes 1 the number KWin hands out next.
        self.kwin.gtk("alpha.app", "Alpha window")
        self.kwin.activate("Alpha window")
        dead = Collector(self.kwin.env)
        self.addCleanup(dead.kill)
        dead.next()
        name = own_script(self.kwin, dead)
        self.kwin.load_script("// another program's script\n", "other-program")
        self.addCleanup(self.kwin.call, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s",
                        "other-program")
        dead.kill()
        collector, start = self.start()
        self.assertEqual(facts(start), ("alpha.app", "alpha.app", "Alpha window"))
        self.assertFalse(self.kwin.script_loaded(name))
        self.assertTrue(self.kwin.script_loaded("other-program"))
        self.assert_clean_exit(collector)
        self.assertEqual(script_files(self.kwin), [])

    def test_a_script_left_under_this_collectors_pid_is_unloaded(self):
        # A collector that had this pid before was killed with its script
        # loaded: the shell that starts the collector is given the same
        # name's script and file first, then becomes the collector.
        shell = subprocess.Popen(["sh", "-c", 'read go; exec "$0"', COLLECTOR], env=self.kwin.env,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(shell.wait)
        self.addCleanup(shell.kill)
        leftover = f"palvern-collector-{shell.pid}-1"
        self.kwin.load_script("// a killed collector's script\n", leftover)
        os.rename(os.path.join(self.kwin.runtime, f"test-{leftover}.js"),
                  os.path.join(self.kwin.runtime, f"{leftover}.js"))
        shell.stdin.write(b"go\n")
        shell.stdin.flush()
        collector = Collector.adopt(shell)
        self.assertEqual(collector.next()["event"], "start")  # no error record first
        self.assertFalse(self.kwin.script_loaded(leftover))
        self.assertEqual(script_files(self.kwin), [own_script(self.kwin, collector)])
        self.assert_clean_exit(collector)

    def test_a_runtime_folder_others_can_write_is_not_used(self):
        for what, mode in [("writable by all", 0o777), ("writable by its group", 0o770),
                           ("owned by another user", 0o700)]:
            with self.subTest(what):
                folder = tempfile.mkdtemp(prefix="palvern-runtime-")
                self.addCleanup(shutil.rmtree, folder, True)
                os.chmod(folder, mode)
                if what.startswith("owned"):
                    os.chown(folder, 65534, 65534)
                socket_path = os.path.join(self.kwin.runtime, SOCKET)
                env = dict(self.kwin.env, XDG_RUNTIME_DIR=folder, WAYLAND_DISPLAY=socket_path)
                env.pop("DISPLAY", None)
                collector = self.collector(env)
                self.assertEqual(collector.next(), ERROR)  # KWin was not used: no other desktop here
                self.assertEqual(facts(collector.next()), UNKNOWN)
                self.assertEqual(os.listdir(folder), [])
                self.assertEqual(script_files(self.kwin), [])

    def test_a_collector_that_died_has_its_script_unloaded_by_the_next(self):
        dead = Collector(self.kwin.env)
        self.addCleanup(dead.kill)
        dead.next()
        name = own_script(self.kwin, dead)
        dead.kill()  # SIGKILL: nothing is unloaded
        self.assertTrue(self.kwin.script_loaded(name))
        collector, _ = self.start()
        own = own_script(self.kwin, collector)
        self.assertFalse(self.kwin.script_loaded(name))
        self.assertEqual(script_files(self.kwin), [own])


class LostKWin(KWinTest):
    def test_a_kwin_that_stops_answering_holds_no_record_up(self):
        self.kwin.gtk("alpha.app", "Alpha window")
        self.kwin.gtk("beta.app", "Beta window")
        self.kwin.activate("Alpha window")
        collector, start = self.start()
        self.assertEqual(start["process"], "alpha.app")
        self.kwin.stop()
        # Nothing is asked of KWin meanwhile: its last report stands.
        for _ in range(2):
            self.assertEqual(facts(self.next_without_focus(collector, "refresh")),
                             ("alpha.app", "alpha.app", "Alpha window"))
        self.kwin.cont()
        self.kwin.activate("Beta window")
        self.next_focus(collector, "beta.app")

    def test_input_ending_while_kwin_does_not_answer_ends_the_collector_at_once(self):
        collector, _ = self.start()
        self.kwin.stop()
        self.addCleanup(self.kwin.cont)
        begun = time.monotonic()
        status, stderr = collector.finish()
        self.assertEqual((status, stderr), (0, b""))
        self.assertLess(time.monotonic() - begun, 3.0)

    def test_a_lost_kwin_ends_nothing_and_comes_back(self):
        self.kwin.gtk("alpha.app", "Alpha window")
        self.kwin.activate("Alpha window")
        collector, start = self.start()
        self.assertEqual(start["process"], "alpha.app")

        self.kwin.kill()
        refresh = collector.next_event("refresh")
        self.assertEqual(facts(refresh), UNKNOWN)
        self.assertIsNone(collector.proc.poll())

        self.kwin.start()
        self.kwin.gtk("back.app", "Back again")
        self.kwin.activate("Back again")
        for _ in range(4):
            refresh = collector.next_event("refresh")
            if refresh["process"] != "Unknown":
                break
        self.assertEqual(facts(refresh), ("back.app", "back.app", "Back again"))


if __name__ == "__main__":
    unittest.main()
