"""PalvernCollector --describe (and --version) on real desktops and stand-ins,
asked three ways: the executable itself, the Node library's describe() and
the Python library's describe(); all three must give the expected
description. The sessions come from the other suites' fixtures: Xvfb and
openbox (tests/x11), a private session bus with the accessibility bus
(tests/url), headless sway and the scripted compositor (tests/wayland), the
GNOME Shell stand-in (tests/gnome) and the KWin stand-in (tests/kwin).

Environment: PALVERN_COLLECTOR, PALVERN_TEST_COMPOSITOR, PALVERN_VERSION.
"""

import dataclasses
import glob
import json
import os
import socket
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
for suite in ("x11", "wayland", "url", "gnome", "kwin"):
    sys.path.insert(0, os.path.join(HERE, "..", suite))
sys.path.insert(0, os.path.join(HERE, "..", "..", "hosts", "python"))
from x11_e2e_test import COLLECTOR, DEADLINE, X11_ONLY, Collector, XSession  # noqa: E402
from record_check import parse_description  # noqa: E402
import palvern_collector  # noqa: E402

VERSION = os.environ["PALVERN_VERSION"]
NODE_LIBRARY = os.path.join(HERE, "..", "..", "hosts", "node", "index.js")
MEMBERS = ["process", "bundle_id", "idle_seconds", "url", "window_title", "keys_total", "clicks_total"]
WINDOW = {"process": True, "bundle_id": True, "window_title": True}
ERROR = {"error": "Accessibility permission is not granted; window titles cannot be read."}


def described(window_system, **members):
    """The description of `window_system` with `members` (the rest false)."""
    return {"version": VERSION, "window_system": window_system,
            "members": {"event": True, **{member: members.get(member, False) for member in MEMBERS}}}


NOTHING = described("none")


def without_session_bus(env):
    """`env` with no session bus to be found (no address, a runtime folder without one)."""
    env = {k: v for k, v in env.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
    env.setdefault("XDG_RUNTIME_DIR", tempfile.gettempdir())
    return env


def node_describe(env):
    script = ("import { describe } from " + json.dumps("file://" + os.path.abspath(NODE_LIBRARY)) + ";\n"
              "console.log(JSON.stringify(await describe({ path: process.argv[1] })));\n")
    proc = subprocess.run(["node", "--input-type=module", "-e", script, COLLECTOR], env=env,
                          capture_output=True, timeout=DEADLINE)
    assert proc.returncode == 0, proc.stderr.decode()
    return json.loads(proc.stdout)


def python_describe(env):
    return dataclasses.asdict(palvern_collector.describe(COLLECTOR, env=env))


class DescribeTest(unittest.TestCase):
    def run_collector(self, *arguments, env, stdin=subprocess.DEVNULL):
        proc = subprocess.run([COLLECTOR, *arguments], env=env, stdin=stdin, capture_output=True, timeout=DEADLINE)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""), arguments)
        return proc.stdout

    def assert_described(self, env, expected):
        """The executable, with its input at its end, and both libraries give `expected`."""
        self.assertEqual(parse_description(self.run_collector("--describe", env=env)), expected)
        self.assertEqual(python_describe(env), expected)
        self.assertEqual(node_describe(env), expected)


class NoDisplay(DescribeTest):
    ENV = without_session_bus({k: v for k, v in X11_ONLY.items() if k != "DISPLAY"})

    def test_nothing_is_described(self):
        self.assert_described(self.ENV, NOTHING)

    def test_version(self):
        self.assertEqual(self.run_collector("--version", env=self.ENV), f"PalvernCollector {VERSION}\n".encode())
        self.assertEqual(self.run_collector("--version", "--describe", env=self.ENV),
                         f"PalvernCollector {VERSION}\n".encode())

    def test_a_silent_display_is_none_and_holds_the_answer_up_no_longer_than_start_up(self):
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        for number in range(960, 1000):  # an abstract socket no server holds
            try:
                listener.bind(f"\0/tmp/.X11-unix/X{number}")
                break
            except OSError:
                continue
        listener.listen(16)
        # The libraries' describe() gives up (and fails) after 10 s.
        self.assert_described(dict(self.ENV, DISPLAY=f":{number}"), NOTHING)

    def test_any_other_argument_starts_the_run_as_without_one(self):
        for arguments in (["--help"], ["-v"], ["--describe=yes"], ["--DESCRIBE"], ["describe"], ["", "--describe"]):
            with self.subTest(arguments):
                proc = subprocess.Popen([COLLECTOR, *arguments], env=self.ENV, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                collector = Collector.adopt(proc)
                try:
                    self.assertEqual(collector.next(), ERROR)
                    self.assertEqual(collector.next()["event"], "start")
                    self.assertEqual(collector.finish(), (0, b""))
                finally:
                    collector.kill()


class X11(DescribeTest):
    @classmethod
    def setUpClass(cls):
        cls.x = XSession()
        cls.addClassCleanup(cls.x.close)
        cls.env = without_session_bus(cls.x.env)

    def test_every_member_but_the_url_without_a_session_bus(self):
        self.assert_described(self.env, described("x11", **WINDOW, idle_seconds=True, keys_total=True,
                                                  clicks_total=True))

    def test_the_answer_does_not_depend_on_standard_input(self):
        expected = self.run_collector("--describe", env=self.env)
        read, write = os.pipe()
        self.addCleanup(os.close, read)
        with os.fdopen(write, "wb") as held:
            held.write(b"input that is dropped\n")
            held.flush()
            for name, stdin in [("a pipe that stays open", read), ("at its end", subprocess.DEVNULL)]:
                with self.subTest(name):
                    self.assertEqual(self.run_collector("--describe", env=self.env, stdin=stdin), expected)
        with self.subTest("closed"):
            proc = subprocess.run(["sh", "-c", 'exec "$0" --describe <&-', COLLECTOR], env=self.env,
                                  capture_output=True, timeout=DEADLINE)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, expected, b""))


class X11WithoutWindowManager(DescribeTest):
    def test_no_window_facts_without_the_active_window_kept(self):
        x = XSession(window_manager=False)
        self.addCleanup(x.close)
        self.assert_described(without_session_bus(x.env),
                              described("x11", idle_seconds=True, keys_total=True, clicks_total=True))


class Url(DescribeTest):
    """`url` follows the session's accessibility switch, which the collector only reads."""

    def test_url_with_the_switch_on_off_and_without_its_keeper(self):
        from url_e2e_test import DesktopSession
        x11 = dict(WINDOW, idle_seconds=True, keys_total=True, clicks_total=True)
        for accessibility, url in [(True, True), (False, "off"), (None, "off")]:
            with self.subTest(accessibility=accessibility):
                session = DesktopSession(accessibility)
                self.addCleanup(session.close)
                self.assert_described(session.env, described("x11", **x11, url=url))
                if accessibility is not None:
                    self.assertEqual(session.accessibility_enabled(), f"b {str(accessibility).lower()}")


class Wayland(DescribeTest):
    def test_sway(self):
        from wayland_e2e_test import Sway
        sway = Sway()
        self.addCleanup(sway.close)
        self.assert_described(without_session_bus(sway.env), described("wlroots", **WINDOW, idle_seconds=True))

    def test_the_scripted_compositor_and_the_choice_after_it(self):
        from wayland_e2e_test import TestCompositor
        full = TestCompositor()
        self.addCleanup(full.close)
        self.assert_described(without_session_bus(full.env), described("wlroots", **WINDOW, idle_seconds=True))
        bare = TestCompositor(bare=True)  # no window list: X11, else nothing
        self.addCleanup(bare.close)
        self.assert_described(without_session_bus(bare.env), NOTHING)
        x = XSession()
        self.addCleanup(x.close)
        self.assert_described(without_session_bus(dict(bare.env, DISPLAY=x.display)),
                              described("x11", **WINDOW, idle_seconds=True, keys_total=True, clicks_total=True))


class Gnome(DescribeTest):
    def test_with_and_without_the_extension(self):
        from gnome_e2e_test import StandIn
        extension = {member: "no-extension" for member in ("process", "bundle_id", "window_title", "url")}
        for name, options, expected in [
                # The private bus has no accessibility bus: its switch counts as off.
                ("extension", [], described("gnome", **WINDOW, idle_seconds=True, url="off")),
                ("no extension", ["--focus-reply=absent"], described("gnome", **extension, idle_seconds=True)),
                ("neither service", ["--focus-reply=absent", "--no-idle"], NOTHING)]:
            with self.subTest(name):
                shell = StandIn(*options)
                self.addCleanup(shell.close)
                self.assert_described(shell.env, expected)


class KWin(DescribeTest):
    def test_kwin_is_described_and_its_script_unloaded_and_removed(self):
        from kwin_e2e_test import StandIn
        env, kwin, runtime = StandIn.stand_in(self, "kwin5")
        # The scripted compositor is bare: no idle notification.
        self.assert_described(env, described("kwin", **WINDOW, url="off"))
        # The executable, then each library: each loaded a script, ran it
        # and unloaded it when it ended.
        calls = []
        for _ in range(3):
            calls += StandIn.calls(self, kwin, "run /0")
            name = calls[-2].split()[1]
            calls += StandIn.calls(self, kwin, f"unloadScript {name}")
        self.assertEqual([call.split()[0] for call in calls], ["loadScript", "run", "unloadScript"] * 3, calls)
        self.assertEqual(glob.glob(os.path.join(runtime, "palvern-collector-*")), [])

if __name__ == "__main__":
    unittest.main()
