"""End-to-end tests of the collector on GNOME Shell under Wayland.

Real shell: headless gnome-shell on a private session bus and a stand-in
system bus (two dbus-daemons of its own, tests/bus.conf), HOME and XDG_RUNTIME_DIR
in a temporary folder, the project's extension installed in its
XDG_DATA_HOME by its install script and enabled there in a key-file
GSettings store before the shell starts (the shell loads no extension added
later); beside it a test-only extension (test-extension/, the entry for the
shell's version) turns on the shell's unsafe mode, so that the tests drive
the shell with org.gnome.Shell.Eval: closing the overview the shell starts
in, activating windows. Windows come from a GTK 3 Wayland client
(test_window.py), input for idle from Mutter's RemoteDesktop.

Scripted shell (stand_in_shell.py): the extension's and the idle monitor's
names on a private bus, answering in every wrong way; the bare scripted
compositor of tests/wayland gives the session its Wayland socket.

Needs /usr/bin/python3 with python3-gi (the tests talk D-Bus through Gio).
Environment: PALVERN_COLLECTOR, PALVERN_TEST_COMPOSITOR.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from gi.repository import Gio, GLib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "x11"))
sys.path.insert(0, os.path.join(HERE, "..", "wayland"))
from desktops import offers  # noqa: E402
from x11_e2e_test import DEADLINE, Collector, XSession  # noqa: E402
from wayland_e2e_test import UNKNOWN, CollectorTest, TestCompositor, base_env, facts  # noqa: E402

PYTHON = "/usr/bin/python3"
BUS_CONFIG = os.path.join(HERE, "..", "bus.conf")
EXTENSION = os.path.join(HERE, "..", "..", "extensions", "gnome")
TEST_UUID = "palvern-test@palvern.dev"
SHELL_NAME = "dev.palvern.Collector.Shell1"
DISPLAY_NAME = "palvern-gnome"
ERROR = {"error": "Accessibility permission is not granted; window titles cannot be read."}
KEYSYM_SHIFT = 0xFFE1


def wait_for(ready, what, timeout=DEADLINE):
    deadline = time.monotonic() + timeout
    while True:
        value = ready()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {timeout} s")
        time.sleep(0.05)


class PrivateBus:
    """A dbus-daemon of its own, starting no services."""

    def __init__(self):
        self.proc = subprocess.Popen(["dbus-daemon", f"--config-file={BUS_CONFIG}", "--nofork", "--print-address=1"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.address = self.proc.stdout.readline().decode().strip()
        assert self.address, "dbus-daemon gave no address"
        self.connection = Gio.DBusConnection.new_for_address_sync(
            self.address,
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)

    def call(self, name, path, interface, method, args=None, timeout_ms=30000):
        reply = self.connection.call_sync(name, path, interface, method, args, None, Gio.DBusCallFlags.NONE,
                                          timeout_ms, None)
        return reply.unpack() if reply else None

    def has_owner(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                         GLib.Variant("(s)", (name,)))[0]

    def close(self):
        self.connection.close_sync(None)
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()


def install_extension(home, data, config):
    """The extension installed and enabled as the README has a user do."""
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=data, XDG_CONFIG_HOME=config, GSETTINGS_BACKEND="keyfile")
    subprocess.run(["sh", os.path.join(EXTENSION, "install.sh")], env=env, check=True, capture_output=True)


class InstallScript(unittest.TestCase):
    def test_installs_its_own_files_whatever_cdpath_says(self):
        # Run as a user does, by a relative path, with a CDPATH whose first
        # folder holds a decoy of the same relative path.
        work = tempfile.mkdtemp(prefix="palvern-install-")
        self.addCleanup(shutil.rmtree, work, True)
        decoy = os.path.join(work, "decoy", "extensions", "gnome")
        shutil.copytree(EXTENSION, decoy)
        with open(os.path.join(decoy, "focus.js"), "w") as f:
            f.write("// not the extension\n")
        home, data, config = (os.path.join(work, d) for d in ("home", "data", "config"))
        env = dict(os.environ, HOME=home, XDG_DATA_HOME=data, XDG_CONFIG_HOME=config, GSETTINGS_BACKEND="keyfile",
                   CDPATH=os.path.join(work, "decoy"))
        root = os.path.join(EXTENSION, "..", "..")
        subprocess.run(["sh", "extensions/gnome/install.sh"], env=env, cwd=root, check=True, capture_output=True)
        installed = os.path.join(data, "gnome-shell", "extensions", "palvern-collector@palvern.dev", "focus.js")
        with open(installed) as got, open(os.path.join(EXTENSION, "focus.js")) as want:
            self.assertEqual(got.read(), want.read())


class GnomeShell:
    """Headless gnome-shell on private buses and private folders."""

    def __init__(self, extension=True, desktop_entries=()):
        self.dir = tempfile.mkdtemp(prefix="palvern-gnome-")
        self.home = os.path.join(self.dir, "home")
        self.runtime = os.path.join(self.dir, "run")
        self.data = os.path.join(self.home, ".local", "share")
        config = os.path.join(self.home, ".config")
        os.makedirs(self.runtime, 0o700)
        extensions = os.path.join(self.data, "gnome-shell", "extensions")
        os.makedirs(extensions)
        entry = "shell-45" if offers("gnome-shell", "es module extensions") else "shell-43"
        shutil.copytree(os.path.join(HERE, "test-extension", entry), os.path.join(extensions, TEST_UUID))
        os.makedirs(os.path.join(config, "glib-2.0", "settings"))
        with open(os.path.join(config, "glib-2.0", "settings", "keyfile"), "w") as settings:
            settings.write(f"[org/gnome/shell]\nenabled-extensions=['{TEST_UUID}']\n")
        if extension:
            install_extension(self.home, self.data, config)
        os.makedirs(os.path.join(self.data, "applications"))
        for name, contents in desktop_entries:
            with open(os.path.join(self.data, "applications", name), "w") as entry:
                entry.write(contents)
        self.extension = extension
        self.children = []
        self.proc = None
        self.system = self.session = None
        self.remote = None
        try:
            self.system = PrivateBus()
            self.session = PrivateBus()
            self.start()
        except BaseException:
            self.close()
            raise

    def start(self):
        # The shell turns extensions off after a start it takes for a crash.
        try:
            os.unlink(os.path.join(self.runtime, "gnome-shell-disable-extensions"))
        except FileNotFoundError:
            pass
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
               "XDG_RUNTIME_DIR": self.runtime, "XDG_DATA_HOME": self.data,
               "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
               "XDG_CACHE_HOME": os.path.join(self.home, ".cache"), "GSETTINGS_BACKEND": "keyfile",
               "DBUS_SESSION_BUS_ADDRESS": self.session.address,
               "DBUS_SYSTEM_BUS_ADDRESS": self.system.address, "NO_AT_BRIDGE": "1"}
        self.log = open(os.path.join(self.dir, "shell.log"), "ab")
        self.proc = subprocess.Popen(
            ["gnome-shell", "--headless", "--wayland", "--no-x11", f"--wayland-display={DISPLAY_NAME}",
             "--virtual-monitor", "1280x720"],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log, start_new_session=True)
        self.env = base_env(self.runtime, WAYLAND_DISPLAY=DISPLAY_NAME, DBUS_SESSION_BUS_ADDRESS=self.session.address,
                            HOME=self.home, XDG_DATA_HOME=self.data, NO_AT_BRIDGE="1")
        wait_for(lambda: self.running() and self.try_eval("true") == "true", "the shell's Eval" + self.diagnosis())
        if self.extension:
            wait_for(lambda: self.session.has_owner(SHELL_NAME), "the extension's name" + self.diagnosis())
        # The shell opens its overview once the start-up animation runs,
        # which is after Eval answers.
        wait_for(lambda: self.eval("Main.layoutManager._startingUp") == "false",
                 "the shell's start-up" + self.diagnosis())
        self.eval("Main.overview.hide()")
        wait_for(lambda: self.eval("Main.overview.visible || Main.overview.animationInProgress") == "false",
                 "the overview closed" + self.diagnosis())
        self.remote = None

    def running(self):
        if self.proc.poll() is not None:
            raise AssertionError("the shell ended" + self.diagnosis())
        return True

    def try_eval(self, script):
        try:
            ok, result = self.session.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                                           GLib.Variant("(s)", (script,)))
        except GLib.Error:
            return None
        return result if ok else None

    def eval(self, script):
        result = self.try_eval(script)
        if result is None:
            raise AssertionError(f"Eval {script!r} failed" + self.diagnosis())
        return result

    def diagnosis(self):
        self.log.flush()
        try:
            with open(os.path.join(self.dir, "shell.log"), "rb") as log:
                return "\n  the shell said: " + log.read()[-3000:].decode(errors="replace")
        except OSError:
            return ""

    def windows(self, app_id, *titles):
        """GTK windows of one process of their own, one per title; returns
        the process and the shell's stable sequence numbers of its windows,
        in the order of the titles."""
        proc = subprocess.Popen([PYTHON, os.path.join(HERE, "test_window.py"), app_id,
                                 *(title.encode().hex() for title in titles)],
                                env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        self.children.append(proc)
        assert proc.stdout.readline() == b"mapped\n", self.diagnosis()
        # Shown: the shell has given it the focus by then if it is to have it.
        script = (f"JSON.stringify(global.display.list_all_windows().filter(w => w.get_pid() == {proc.pid}"
                  " && w.get_compositor_private() && w.get_compositor_private().visible)"
                  ".map(w => [w.get_title(), w.get_stable_sequence()]))")

        def known():
            seen = dict(json.loads(json.loads(self.eval(script))))
            return [seen[title] for title in titles] if all(title in seen for title in titles) else None
        return proc, wait_for(known, f"the shell's windows of {app_id}" + self.diagnosis())

    def window(self, app_id, title):
        """One GTK window of a process of its own: (process, sequence)."""
        proc, (sequence,) = self.windows(app_id, title)
        return proc, sequence

    def set_title(self, proc, title, index=0):
        proc.stdin.write(f"title {index} {title.encode().hex()}\n".encode())
        proc.stdin.flush()
        assert proc.stdout.readline() == b"ok\n"

    def focused(self):
        return self.eval("global.display.focus_window ? global.display.focus_window.get_stable_sequence() : 0")

    def activate(self, sequence):
        """Activates a window as the shell's own switcher does, again until it
        is focused (the shell can open its overview by itself, and a window
        just mapped may not take the focus at once)."""
        script = (f"Main.activateWindow(global.display.list_all_windows()"
                  f".find(w => w.get_stable_sequence() == {sequence}))")
        attempts = {"next": 0.0}

        def focused():
            if time.monotonic() >= attempts["next"]:
                self.eval(script)
                attempts["next"] = time.monotonic() + 2
            return self.focused() == str(sequence)
        wait_for(focused, f"window {sequence} focused" + self.diagnosis())

    def press_key(self):
        """A key press and release through a remote-desktop session, which
        lives as long as the test's connection."""
        if self.remote is None:
            self.remote = self.session.call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                                            "org.gnome.Mutter.RemoteDesktop", "CreateSession")[0]
            self.session.call("org.gnome.Mutter.RemoteDesktop", self.remote,
                              "org.gnome.Mutter.RemoteDesktop.Session", "Start")
        for pressed in (True, False):
            self.session.call("org.gnome.Mutter.RemoteDesktop", self.remote, "org.gnome.Mutter.RemoteDesktop.Session",
                              "NotifyKeyboardKeysym", GLib.Variant("(ub)", (KEYSYM_SHIFT, pressed)))

    def idletime_ms(self):
        return self.session.call("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                                 "org.gnome.Mutter.IdleMonitor", "GetIdletime")[0]

    def _session_members(self):
        """The processes of the shell's session (it starts ibus-daemon, which
        does not end with it)."""
        members = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[3]) == self.proc.pid and fields[0] != "Z":
                members.append(int(entry))
        return members

    def kill(self):
        """Kills the shell and its session as a crash would, and waits for its
        windows' processes to go."""
        for pid in self._session_members():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.proc.wait()
        for proc in self.children:
            proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                pipe.close()
        self.children = []
        self.log.close()

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.kill()
        elif self.proc:
            self.log.close()
        for bus in (self.session, self.system):
            if bus:
                bus.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class ShellTest(CollectorTest):
    EXTENSION = True
    DESKTOP_ENTRIES = ()

    @classmethod
    def setUpClass(cls):
        cls.shell = GnomeShell(extension=cls.EXTENSION, desktop_entries=cls.DESKTOP_ENTRIES)
        cls.addClassCleanup(cls.shell.close)

    def start(self):
        collector = self.collector(self.shell.env)
        start = collector.next()
        self.assertEqual(start["event"], "start")  # no error record
        return collector, start


class StartAndFocus(ShellTest):
    DESKTOP_ENTRIES = [("org.palvern.Gamma.desktop",
                        "[Desktop Entry]\nType=Application\nName=Gamma Application\nExec=true\n"
                        "StartupWMClass=gamma.app\n")]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        alpha, (first, second) = cls.shell.windows("alpha.app", "Alpha window", "Alpha second")
        cls.alpha, cls.alpha2 = (alpha, first), (alpha, second)
        cls.beta = cls.shell.window("beta.app", "Beta window")

    def test_start_record_names_the_focused_window(self):
        self.shell.activate(self.beta[1])
        _, start = self.start()
        self.assertEqual(facts(start), ("beta.app", "beta.app", "Beta window"))
        self.assertEqual((start["keys_total"], start["clicks_total"], start["url"]), (0, 0, ""))

    def test_input_ending_during_start_up_writes_nothing_untrue(self):
        self.shell.activate(self.beta[1])
        self.assert_input_ending_at_start_writes_nothing_untrue(self.shell.env, ("beta.app", "beta.app", "Beta window"))

    def test_one_focus_record_per_application_switch_and_none_within_one(self):
        self.shell.activate(self.alpha[1])
        collector, _ = self.start()
        self.shell.activate(self.alpha2[1])  # the same application: no record
        self.shell.activate(self.alpha[1])
        for window, expected in [(self.beta, ("beta.app", "beta.app", "Beta window")),
                                 (self.alpha2, ("alpha.app", "alpha.app", "Alpha second")),
                                 (self.beta, ("beta.app", "beta.app", "Beta window"))]:
            self.shell.activate(window[1])
            self.assertEqual(facts(collector.next_event("focus")), expected)

    def test_a_title_change_shows_at_the_next_sample_without_a_focus_record(self):
        self.shell.activate(self.beta[1])
        collector, _ = self.start()
        self.shell.set_title(self.beta[0], 'Beta "renamed" \\ ünïcödé')
        # The refresh that follows may have been taken before the change.
        for _ in range(2):
            refresh = self.next_without_focus(collector, "refresh")
            if refresh["window_title"] != "Beta window":
                break
        self.assertEqual(facts(refresh), ("beta.app", "beta.app", 'Beta "renamed" \\ ünïcödé'))
        self.shell.set_title(self.beta[0], "Beta window")

    def test_the_shells_application_id_names_the_desktop_entry(self):
        gamma = self.shell.window("gamma.app", "Gamma window")
        self.shell.activate(self.alpha[1])
        collector, _ = self.start()
        self.shell.activate(gamma[1])
        self.assertEqual(facts(collector.next_event("focus")),
                         ("Gamma Application", "org.palvern.Gamma", "Gamma window"))

    def test_the_focused_window_closing(self):
        delta = self.shell.window("delta.app", "Delta window")
        self.shell.activate(delta[1])
        collector, start = self.start()
        self.assertEqual(start["process"], "delta.app")
        delta[0].kill()
        # The shell focuses another window: one of the others.
        self.assertIn(collector.next_event("focus")["process"], ("alpha.app", "beta.app", "gamma.app"))


class InputIdle(ShellTest):
    def test_idle_grows_without_input_and_drops_after_a_key(self):
        alpha = self.shell.window("alpha.app", "Alpha window")
        beta = self.shell.window("beta.app", "Beta window")
        self.shell.activate(alpha[1])
        wait_for(lambda: self.shell.idletime_ms() >= 2000, "two seconds without input")
        collector, start = self.start()
        self.assertGreaterEqual(start["idle_seconds"], 2)  # as Mutter counted before the start
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        self.shell.press_key()
        self.shell.activate(beta[1])
        focus = collector.next_event("focus")
        self.assertLessEqual(focus["idle_seconds"], 1)  # one second without input counts as idle
        wait_for(lambda: self.shell.idletime_ms() >= 1500, "idle again")
        self.assertGreaterEqual(collector.next_event("refresh")["idle_seconds"], 1)


class WithoutExtension(ShellTest):
    EXTENSION = False

    def test_the_error_record_unknown_samples_and_idle_from_mutter(self):
        self.shell.activate(self.shell.window("alpha.app", "Alpha window")[1])
        wait_for(lambda: self.shell.idletime_ms() >= 2000, "two seconds without input")
        collector = self.collector(self.shell.env)
        self.assertEqual(collector.next(), ERROR)
        start = collector.next()
        self.assertEqual((start["event"], *facts(start)), ("start", *UNKNOWN))
        self.assertGreaterEqual(start["idle_seconds"], 2)
        self.shell.press_key()
        refresh = collector.next_event("refresh")
        self.assertEqual(facts(refresh), UNKNOWN)
        self.assertLess(refresh["idle_seconds"], start["idle_seconds"] + 5)


class LostShell(ShellTest):
    def test_a_lost_shell_ends_nothing_and_comes_back(self):
        self.shell.activate(self.shell.window("alpha.app", "Alpha window")[1])
        collector, start = self.start()
        self.assertEqual(start["process"], "alpha.app")

        self.shell.kill()
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)
        self.assertIsNone(collector.proc.poll())

        self.shell.start()
        self.shell.activate(self.shell.window("back.app", "Back again")[1])
        for _ in range(3):
            refresh = collector.next_event("refresh")
            if refresh["process"] != "Unknown":
                break
        self.assertEqual(facts(refresh), ("back.app", "back.app", "Back again"))

    def test_a_lost_session_bus_ends_nothing(self):
        shell = GnomeShell()
        self.addCleanup(shell.close)
        shell.activate(shell.window("alpha.app", "Alpha window")[1])
        collector = self.collector(shell.env)
        self.assertEqual(facts(collector.next()), ("alpha.app", "alpha.app", "Alpha window"))
        shell.kill()
        shell.session.close()
        shell.session = None
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)


# ---------------------------------------------------------------------------
# The scripted shell.

class StandIn:
    """stand_in_shell.py on a private bus, beside a bare compositor that gives
    the session its Wayland socket."""

    def __init__(self, *options):
        self.bus = PrivateBus()
        self.compositor = TestCompositor(bare=True)
        self.env = dict(self.compositor.env, DBUS_SESSION_BUS_ADDRESS=self.bus.address)
        self.proc = subprocess.Popen([PYTHON, os.path.join(HERE, "stand_in_shell.py"), *options], env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert self.proc.stdout.readline() == b"ready\n"

    def send(self, *words):
        """Carries out a command; what the stand-in printed for it."""
        self.proc.stdin.write((" ".join(str(w) for w in words) + "\n").encode())
        self.proc.stdin.flush()
        printed = []
        while (line := self.proc.stdout.readline()) != b"ok\n":
            assert line, "the stand-in ended"
            printed.append(line.decode().strip())
        return printed

    def focus(self, window, title, wm_class, app_id="", pid=None, instance=None):
        text = lambda s: s.encode().hex() if s else "-"  # noqa: E731
        self.send("focus", window, text(title), text(wm_class), text(wm_class if instance is None else instance),
                  text(app_id), window + 100 if pid is None else pid)

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()
        self.bus.close()
        self.compositor.close()


class ScriptedShell(CollectorTest):
    def stand_in(self, *options):
        stand_in = StandIn(*options)
        self.addCleanup(stand_in.close)
        return stand_in

    def test_start_signals_and_the_desktop_file_id(self):
        shell = self.stand_in()
        data = tempfile.mkdtemp(prefix="palvern-entries-")
        self.addCleanup(shutil.rmtree, data, ignore_errors=True)
        os.makedirs(os.path.join(data, "applications"))
        with open(os.path.join(data, "applications", "org.example.Beta.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Beta Application\n")
        shell.focus(1, "Alpha one", "Alpha", instance="alpha")
        collector = self.collector(dict(shell.env, XDG_DATA_HOME=data, XDG_DATA_DIRS=os.path.join(data, "none")))
        start = collector.next()
        self.assertEqual((start["event"], *facts(start)), ("start", "Alpha", "Alpha", "Alpha one"))
        shell.focus(2, "Alpha two", "Alpha", instance="alpha", pid=101)  # the same process: no record
        shell.focus(3, "Beta", "beta-class", app_id="org.example.Beta")
        self.assertEqual(facts(collector.next_event("focus")), ("Beta Application", "org.example.Beta", "Beta"))
        shell.focus(3, "Beta retitled", "beta-class", app_id="org.example.Beta")
        shell.focus(0, "", "")  # no focused window: nothing to post
        shell.focus(4, "", "", pid=0)  # nothing known but the window
        self.assertEqual(facts(collector.next_event("focus")), UNKNOWN)

    def test_chosen_over_an_x_display_in_a_wayland_session_only(self):
        x = XSession()
        self.addCleanup(x.close)
        x.activate(x.xterm("X window", "XTerm11"))
        shell = self.stand_in()
        shell.focus(1, "Shell window", "shell.app")
        for case, env, expected in [
                ("the Wayland socket there", shell.env, ("shell.app", "shell.app", "Shell window")),
                ("no Wayland socket (GNOME on X11)", dict(shell.env, WAYLAND_DISPLAY="palvern-absent"),
                 ("XTerm11", "XTerm11", "X window"))]:
            with self.subTest(case):
                collector = self.collector(dict(env, DISPLAY=x.display))
                self.assertEqual(facts(collector.next()), expected)

    def test_replies_of_the_wrong_form_are_no_extension(self):
        for mode in ("wrong", "missing", "error", "absent"):
            with self.subTest(mode):
                shell = self.stand_in(f"--focus-reply={mode}")
                shell.send("idletime", 7000)
                shell.focus(1, "Alpha", "Alpha")
                collector = self.collector(shell.env)
                self.assertEqual(collector.next(), ERROR)
                start = collector.next()
                self.assertEqual(facts(start), UNKNOWN)
                self.assertGreaterEqual(start["idle_seconds"], 7)

    def test_signals_of_the_wrong_form_huge_texts_and_floods(self):
        shell = self.stand_in()
        shell.focus(1, "Alpha", "Alpha")
        collector = self.collector(shell.env)
        self.assertEqual(facts(collector.next()), ("Alpha", "Alpha", "Alpha"))
        shell.send("signal", "s", json.dumps(["only a title"]))
        shell.send("signal", "us", json.dumps([2, "missing fields"]))
        shell.send("signal", "ussssu", json.dumps([2, "t", "Other", "o", "", 4]))  # pid unsigned
        shell.focus(1, "é" * 1_000_000, "Alpha")  # two bytes each: cut at a character's end
        refresh = self.next_without_focus(collector, "refresh")
        if refresh["window_title"] == "Alpha":  # taken before the change arrived
            refresh = self.next_without_focus(collector, "refresh")
        self.assertEqual(facts(refresh), ("Alpha", "Alpha", "é" * (64 * 1024 // 2)))
        shell.focus(5, "Beta", "Beta")
        self.assertEqual(facts(collector.next_event("focus")), ("Beta", "Beta", "Beta"))
        shell.send("flood", 20000)  # ends on Beta again
        while True:  # every record valid; the refreshes go on, and end on Beta
            record = collector.next()
            if record["event"] == "refresh" and facts(record) == ("Beta", "Beta", "Beta"):
                break

    def test_signals_from_anyone_but_their_sender_change_nothing(self):
        shell = self.stand_in()
        shell.focus(1, "Alpha", "Alpha")
        collector = self.collector(shell.env)
        self.assertEqual(facts(collector.next()), ("Alpha", "Alpha", "Alpha"))
        for kind in ("focus", "watch", "shell-owner", "idle-owner"):
            shell.send("forge", kind)
        # A believed FocusChanged would post a focus record for "Forged"; a
        # believed WatchFired would make the user idle; a believed owner
        # change would lose the connection (Unknown), and the refresh would
        # connect again and ask for the focus a second time.
        refresh = self.next_without_focus(collector, "refresh")
        self.assertEqual((*facts(refresh), refresh["idle_seconds"]), ("Alpha", "Alpha", "Alpha", 0))
        self.assertEqual(shell.send("calls"), ["calls 1"])
        shell.focus(2, "Beta", "Beta")  # the shell itself is still heard
        self.assertEqual(facts(collector.next_event("focus")), ("Beta", "Beta", "Beta"))

    def test_idle_from_the_watches(self):
        shell = self.stand_in()
        shell.focus(1, "Alpha", "Alpha")
        collector = self.collector(shell.env)
        self.assertEqual(collector.next()["idle_seconds"], 0)
        shell.send("fire", 1)  # a second without input
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertGreaterEqual(first["idle_seconds"], 1)
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        shell.send("fire", 2)  # input
        shell.focus(2, "Beta", "Beta")
        self.assertEqual(collector.next_event("focus")["idle_seconds"], 0)

    def test_a_silent_shell_holds_nothing_up(self):
        shell = self.stand_in("--focus-reply=mute")
        shell.send("mute")
        collector = self.collector(shell.env)
        self.assertEqual(collector.next(), ERROR)  # no answer in time: not GNOME, and no X display
        self.assertEqual(facts(collector.next()), UNKNOWN)
        early = Collector(shell.env)  # standard input ends while the collector waits for the shell
        self.addCleanup(early.kill)
        time.sleep(0.1)
        closed = time.monotonic()
        self.assertEqual(early.finish(), (0, b""))
        # Well before the second that waiting out the start would take.
        self.assertLess(time.monotonic() - closed, 0.8)

    def test_a_session_bus_that_never_answers_holds_nothing_up(self):
        compositor = TestCompositor(bare=True)
        self.addCleanup(compositor.close)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        path = os.path.join(compositor.dir, "mute-bus")
        listener.bind(path)
        listener.listen(8)  # connections wait in the backlog, never accepted
        env = dict(compositor.env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={path}")
        collector = self.collector(env)
        self.assertEqual(collector.next(), ERROR)
        self.assertEqual(facts(collector.next()), UNKNOWN)
        early = Collector(env)
        self.addCleanup(early.kill)
        time.sleep(0.1)
        closed = time.monotonic()
        self.assertEqual(early.finish(), (0, b""))
        # Well before the second that waiting out the start would take.
        self.assertLess(time.monotonic() - closed, 0.8)

    def test_a_shell_that_goes_silent_and_comes_back(self):
        shell = self.stand_in()
        shell.focus(1, "Alpha", "Alpha")
        collector = self.collector(shell.env)
        self.assertEqual(facts(collector.next()), ("Alpha", "Alpha", "Alpha"))
        shell.send("mute")
        shell.send("release")
        shell.send("own")  # back under a new owner that does not answer
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)
        closed = time.monotonic()
        status, stderr = collector.finish()
        self.assertEqual((status, stderr), (0, b""))
        self.assertLess(time.monotonic() - closed, 1.0)

    def test_the_shell_answering_again(self):
        shell = self.stand_in()
        shell.focus(1, "Alpha", "Alpha")
        collector = self.collector(shell.env)
        collector.next()
        shell.send("release")
        self.assertEqual(facts(collector.next_event("refresh")), UNKNOWN)
        shell.send("own")
        for _ in range(3):
            refresh = collector.next_event("refresh")
            if refresh["process"] != "Unknown":
                break
        self.assertEqual(facts(refresh), ("Alpha", "Alpha", "Alpha"))


if __name__ == "__main__":
    unittest.main()
