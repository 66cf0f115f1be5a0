"""End-to-end tests of the active tab's URL on Linux.

Each suite starts its own X session (Xvfb and openbox, as the X11 tests do), a
private session bus, the accessibility bus and its registry, with HOME and the
XDG folders in a temporary folder so that no setting of the machine is read
or changed. The test, never the collector, switches accessibility on for that
bus before the browsers start. The browsers show two local pages in two tabs.

Environment: PALVERN_COLLECTOR (the executable).
"""

import json
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x11"))
from x11_e2e_test import Collector, XSession, prop  # noqa: E402

BROWSER_START = 120  # seconds: a browser starting on a loaded 2-core machine
BUS_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bus.conf")
PAGES = {"Page One": "one.html", "Page Two": "two.html"}


def busctl(env, *args, check=True):
    return subprocess.run(["busctl", "--user", *args], env=env, capture_output=True, text=True,
                          timeout=30, check=check).stdout.strip()


class DesktopSession:
    """An X session with a private session bus and accessibility bus."""

    def __init__(self, accessibility):
        self.x = XSession()
        self.processes = []
        try:
            self._start(accessibility)
        except BaseException:
            self.close()
            raise

    def _start(self, accessibility):
        """`accessibility`: the switch, True or False; None: no accessibility
        bus at all."""
        self.folder = tempfile.TemporaryDirectory(prefix="palvern-url-")
        root = self.folder.name
        runtime = os.path.join(root, "run")
        os.mkdir(runtime, 0o700)
        self.env = dict(self.x.env, HOME=root, XDG_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(root, "config"),
                        XDG_CACHE_HOME=os.path.join(root, "cache"),
                        XDG_DATA_HOME=os.path.join(root, "data"))
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.env.pop("AT_SPI_BUS_ADDRESS", None)
        # A bus that starts no services: the machine's document portal or
        # virtual file systems would mount FUSE folders in the runtime folder
        # and outlive the bus. The tests start the services they need.
        bus = subprocess.Popen(["dbus-daemon", f"--config-file={BUS_CONFIG}", "--nofork", "--nopidfile",
                                "--print-address=1"],
                               env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)
        self.processes.append(bus)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        if accessibility is None:
            return
        # The accessibility switch is a setting: the launcher keeps it in
        # dconf, whose service writes to this session's config folder.
        self.spawn(["/usr/libexec/dconf-service"])
        self.wait(lambda: "ca.desrt.dconf" in busctl(self.env, "list", "--no-legend", check=False),
                  "the settings service", 30)
        self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        self.wait(lambda: busctl(self.env, "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                 "GetAddress", check=False).startswith('s "'), "the accessibility bus", 30)
        self.spawn(["/usr/libexec/at-spi2-registryd"])
        self.wait(lambda: "org.a11y.atspi.Registry" in self.a11y("list", "--no-legend", check=False),
                  "the registry", 30)
        if accessibility:
            busctl(self.env, "set-property", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                   "IsEnabled", "b", "true")
        self.pages = os.path.join(root, "pages")
        os.mkdir(self.pages)
        for title, name in PAGES.items():
            with open(os.path.join(self.pages, name), "w") as page:
                page.write(f"<!DOCTYPE html><html><head><title>{title}</title></head>"
                           f"<body><h1>{title}</h1></body></html>\n")

    def spawn(self, argv, env=None):
        proc = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        self.processes.append(proc)
        return proc

    @staticmethod
    def wait(ready, what, timeout):
        deadline = time.monotonic() + timeout
        while not ready():
            if time.monotonic() > deadline:
                raise AssertionError(f"{what} did not come within {timeout} s")
            time.sleep(0.1)

    def a11y_address(self):
        address = busctl(self.env, "call", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress")
        return address.split('"')[1]

    def a11y(self, *args, check=True):
        return subprocess.run(["busctl", f"--address={self.a11y_address()}", *args], env=self.env,
                              capture_output=True, text=True, timeout=30, check=check).stdout

    def a11y_name_of(self, pid):
        """The accessibility bus connection of the application of process
        `pid`, once it has registered; the registry and the bus are asked,
        never the application."""
        found = []

        def registered():
            reply = self.a11y("call", "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                              "org.a11y.atspi.Accessible", "GetChildren")
            for name in reply.split('"')[1::4]:
                process = self.a11y("call", "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "GetConnectionUnixProcessID", "s", name, check=False).split()
                if process[1:] == [str(pid)]:
                    found.append(name)
                    return True
            return False

        self.wait(registered, f"process {pid} on the accessibility bus", BROWSER_START)
        return found[0]

    def accessibility_enabled(self):
        return busctl(self.env, "get-property", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                      "IsEnabled")

    def url(self, title):
        return "file://" + os.path.join(self.pages, PAGES[title])

    def page_of(self, window_title):
        """The URL of the page whose title the browser window shows."""
        for title in PAGES:
            if window_title.startswith(title):
                return self.url(title)
        raise AssertionError(f"no page is shown in {window_title!r}")

    def firefox(self, env=None):
        profile = os.path.join(self.folder.name, "firefox")
        os.mkdir(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            for name, value in [("browser.shell.checkDefaultBrowser", "false"),
                                ("browser.startup.homepage_override.mstone", '"ignore"'),
                                ("browser.aboutwelcome.enabled", "false"),
                                ("datareporting.policy.dataSubmissionEnabled", "false"),
                                ("datareporting.policy.firstRunURL", '""'),
                                ("toolkit.telemetry.reportingpolicy.firstRun", "false"),
                                ("browser.tabs.warnOnClose", "false"),
                                ("app.update.enabled", "false"),
                                ("browser.ctrlTab.sortByRecentlyUsed", "false")]:
                prefs.write(f"user_pref(\"{name}\", {value});\n")
        self.spawn(["firefox-esr", "--profile", profile, "--no-remote",
                    self.url("Page One"), self.url("Page Two")],
                   env=dict(env or self.env, MOZ_ENABLE_WAYLAND="0"))
        return self.browser_window("Navigator")

    def chromium(self):
        return self.start_chromium("chromium")[1]

    def start_chromium(self, profile, others=()):
        """A Chromium process of its own (`profile`: its folder's name) and its
        window, which is none of `others`."""
        # Accessibility comes from the session's switch alone, as for a user
        # (no flag forces it); without a keyring, no password prompt takes the
        # focus.
        proc = self.spawn(["chromium", "--no-sandbox", f"--user-data-dir={self.folder.name}/{profile}",
                           "--no-first-run", "--password-store=basic",
                           "--disable-background-networking", "--disable-component-update", "--disable-sync",
                           "--disable-gpu", "--no-default-browser-check",
                           self.url("Page One"), self.url("Page Two")])
        return proc, self.browser_window("chromium", others)

    def browser_window(self, instance, others=()):
        """The browser's window, once it shows one of the pages."""
        found = []

        def shown():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", instance],
                                 env=self.env, capture_output=True, text=True).stdout.split()
            for window in out:
                if int(window) not in others and any(self.window_name(window).startswith(t) for t in PAGES):
                    found.append(int(window))
                    return True
            return False

        self.wait(shown, f"a window of {instance} showing a page", BROWSER_START)
        return found[0]

    def window_name(self, window):
        return subprocess.run(["xdotool", "getwindowname", str(window)], env=self.env, capture_output=True,
                              text=True).stdout.strip()

    def close(self):
        for proc in reversed(self.processes):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            proc.wait()
            if proc.stdout:
                proc.stdout.close()
        self.x.close()
        if hasattr(self, "folder"):
            unmount_below(self.folder.name)
            self.folder.cleanup()


class Monitor:
    """The method calls on the accessibility bus that `match` selects, as a
    monitor sees them (busctl monitor, as JSON)."""

    def __init__(self, session, match):
        self.proc = subprocess.Popen(["busctl", f"--address={session.a11y_address()}", "monitor", "--json=short",
                                      f"--match={match}"], env=session.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.calls = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # busctl says so once the bus has made it a monitor.
        if "Monitoring" not in self.proc.stderr.readline():
            self.close()
            raise AssertionError("busctl did not become a monitor")

    def _read(self):
        for line in self.proc.stdout:
            self.calls.put(json.loads(line))

    def wait_for(self, wanted, what, timeout=BROWSER_START):
        deadline = time.monotonic() + timeout
        while True:
            try:
                call = self.calls.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"{what} did not come within {timeout} s")
            if wanted(call):
                return call

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.reader.join(timeout=10)
        self.proc.stdout.close()
        self.proc.stderr.close()


def unmount_below(folder):
    """Lazily unmounts whatever a service mounted below `folder`, so that the
    folder can go and no dead mount stays on the machine."""
    with open("/proc/self/mounts") as mounts:
        points = [line.split()[1] for line in mounts]
    for point in points:
        if point.startswith(folder + "/"):
            subprocess.run(["umount", "-l", point], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class UrlTest(unittest.TestCase):
    accessibility = True

    @classmethod
    def setUpClass(cls):
        cls.s = DesktopSession(cls.accessibility)
        cls.addClassCleanup(cls.s.close)
        cls.term = cls.s.x.xterm("A terminal", "PlainTerm", env=cls.s.env)

    def start(self):
        collector = Collector(self.s.env)
        self.addCleanup(collector.kill)
        self.addCleanup(self.assert_clean_exit, collector)
        return collector, collector.next_event("start")

    def assert_clean_exit(self, collector):
        status, stderr = collector.finish()
        self.assertEqual(status, 0)
        self.assertEqual(stderr, b"")

    @classmethod
    def wait_for_published_url(cls, window):
        """Waits until the browser has published its document on the bus (a
        browser that has just started gives none for a while)."""
        cls.s.x.activate(window)
        collector = Collector(cls.s.env)
        try:
            deadline = time.monotonic() + BROWSER_START
            while True:
                try:
                    record = collector.next(max(0.1, deadline - time.monotonic()))
                except queue.Empty:
                    raise AssertionError("the browser published no URL in time")
                if record.get("url"):
                    break
            status, stderr = collector.finish()
            assert (status, stderr) == (0, b""), (status, stderr)
        finally:
            collector.kill()


class BrowserTest(UrlTest):
    """The cases every browser passes; a subclass starts the browser."""

    @classmethod
    def setUpClass(cls):
        if cls is BrowserTest:
            raise unittest.SkipTest("a base of the browser suites")
        super().setUpClass()
        cls.window = cls.start_browser()
        cls.wait_for_published_url(cls.window)
        cls.at_once = []  # for each record url_of was given: its test, and whether it had its URL

    @classmethod
    def tearDownClass(cls):
        late = [test for test, had in cls.at_once if not had]
        print(f"\n{cls.__name__}: {len(cls.at_once) - len(late)} of {len(cls.at_once)} records had their URL at "
              f"once, the others at the next refresh {late}", file=sys.stderr)
        super().tearDownClass()

    def url_of(self, collector, record):
        """The record's URL. A browser that misses a sample's budget of about
        100 ms (a loaded machine) costs that sample its URL, and the next
        sample asks again: then the next refresh of the same window has it.
        How often that happened is told at the end of the suite."""
        self.at_once.append((self._testMethodName, bool(record["url"])))
        if record["url"]:
            return record["url"]
        later = collector.next_event("refresh")
        self.assertEqual(later["window_title"], record["window_title"])
        return later["url"]

    def test_focus_record_gives_the_active_tab_url(self):
        self.s.x.activate(self.term)
        collector, start = self.start()
        self.assertEqual(start["url"], "")
        self.s.x.activate(self.window)
        focus = collector.next_event("focus")
        self.assertEqual(focus["bundle_id"], self.bundle_id)
        self.assertEqual(self.url_of(collector, focus), self.s.page_of(focus["window_title"]))
        self.s.x.activate(self.term)
        back = collector.next_event("focus")
        self.assertEqual((back["process"], back["url"]), ("PlainTerm", ""))

    def test_tab_switch_shows_at_the_next_refresh(self):
        self.s.x.activate(self.window)
        collector, start = self.start()
        before = self.s.window_name(self.window)
        self.assertEqual(self.url_of(collector, start), self.s.page_of(before))
        self.s.x.xdotool("key", "ctrl+Page_Down")
        self.s.wait(lambda: self.s.window_name(self.window) != before, "the other tab", 30)
        after = self.s.window_name(self.window)
        # A refresh begun before the title changed may still show the old tab.
        for _ in range(2):
            refresh = collector.next_event("refresh")
            if refresh["window_title"] == after:
                break
        self.assertEqual(refresh["window_title"], after)
        self.assertEqual(self.url_of(collector, refresh), self.s.page_of(after))

    def test_a_terminal_gives_no_url(self):
        self.s.x.activate(self.term)
        collector, start = self.start()
        refresh = collector.next_event("refresh")
        self.assertEqual([(r["process"], r["url"]) for r in (start, refresh)],
                         [("PlainTerm", ""), ("PlainTerm", "")])


class Firefox(BrowserTest):
    bundle_id = "firefox-esr"  # its desktop file ID

    @classmethod
    def start_browser(cls):
        return cls.s.firefox()


class Chromium(BrowserTest):
    bundle_id = "chromium"  # its desktop file ID

    @classmethod
    def start_browser(cls):
        return cls.s.chromium()

    def test_a_browser_nobody_asked_before_is_asked_before_its_first_focus(self):
        """Chromium builds the documents of its windows only once a client
        asks it for relations, and has them tens of milliseconds later. The
        collector asks each browser it finds on the accessibility bus as it
        starts (and each one that registers later) at once, without waiting
        for the answer: long before the browser is first in front."""
        proc, window = self.s.start_chromium("chromium-unasked", others=(self.window,))
        self.addCleanup(os.killpg, proc.pid, signal.SIGKILL)
        name = self.s.a11y_name_of(proc.pid)
        self.s.x.activate(self.term)
        monitor = Monitor(self.s, "type='method_call',member='GetRelationSet'")
        self.addCleanup(monitor.close)
        collector, _ = self.start()
        asked = monitor.wait_for(lambda call: call.get("destination") == name, "a relation query to the browser")
        self.assertEqual(asked["path"], "/org/a11y/atspi/accessible/root", "the application, not a window of it")
        self.s.x.activate(window)
        focus = collector.next_event("focus")
        self.assertEqual(focus["bundle_id"], self.bundle_id)
        self.assertEqual(self.url_of(collector, focus), self.s.page_of(focus["window_title"]))


class AccessibilityOff(UrlTest):
    """Accessibility off in the session, with a browser that takes part in it
    all the same (told so by its environment): the collector reads nothing and
    leaves the switch as it was."""
    accessibility = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.window = cls.s.firefox(env=dict(cls.s.env, GNOME_ACCESSIBILITY="1"))
        cls.s.wait(lambda: " firefox-esr " in cls.s.a11y("list", "--no-legend"),
                   "the browser on the accessibility bus", BROWSER_START)

    def test_no_url_and_the_switch_stays_off(self):
        self.assertEqual(self.s.accessibility_enabled(), "b false")
        self.s.x.activate(self.term)
        collector = Collector(self.s.env)
        self.addCleanup(collector.kill)
        collector.next_event("start")
        self.s.x.activate(self.window)
        focus = collector.next_event("focus")
        refresh = collector.next_event("refresh")
        self.assertEqual([(r["bundle_id"], r["url"]) for r in (focus, refresh)],
                         [("firefox-esr", ""), ("firefox-esr", "")])
        self.assertEqual(collector.finish(), (0, b""))
        self.assertEqual(self.s.accessibility_enabled(), "b false")


class NoAccessibilityBus(UrlTest):
    """A session bus that could start the accessibility bus on demand, but
    none is running: the collector starts nothing."""
    accessibility = None

    def test_a_browser_in_front_starts_no_service(self):
        _, (window,) = self.s.x.client([prop("WM_CLASS", "STRING", b"Navigator\0firefox-esr\0"),
                                        prop("WM_NAME", "STRING", b"Page One")])
        self.s.x.activate(window)
        collector, start = self.start()
        refresh = collector.next_event("refresh")
        self.assertEqual([(r["bundle_id"], r["url"]) for r in (start, refresh)],
                         [("firefox-esr", ""), ("firefox-esr", "")])
        names = busctl(self.s.env, "list", "--no-legend", "--acquired")
        self.assertNotIn("org.a11y.Bus", names)


if __name__ == "__main__":
    unittest.main()
