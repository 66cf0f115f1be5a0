"""End-to-end tests of the Windows collector under Wine 10.

Each suite starts its own Windows desktop in the Debian 13 root (see
wine_desktop.py): Xvfb, openbox and a Wine prefix of its own, with the
project's test_window program (it has a version resource) and Wine's
notepad (it has none), activated with xdotool as a user would, and checks
every line the collector writes with record_check.

Environment: PALVERN_WINDOWS_BUILD, PALVERN_WINE_PREFIX (see wine_desktop.py).
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import select  # noqa: E402

from wine_desktop import DEADLINE, PROGRAMS, WineDesktop, skip_or_fail  # noqa: E402

TEST_WINDOW_PATH = "C:\\palvern\\test_window.exe"
NOTEPAD_PATH = "C:\\windows\\system32\\notepad.exe"
# The test window's version resource has a German description first and an
# English one second; test_window_de's has a German and a French one.
ENGLISH_NAME = 'Palvern "Test" Window \\ Ω'
GERMAN_NAME = "Palvern Testfenster"


def facts(record):
    return record["process"], record["bundle_id"], record["window_title"], record["url"]


class DesktopTest(unittest.TestCase):
    """A suite on one Windows desktop; its collectors are finished cleanly (exit
    0 at once, empty standard error) at the end of each test."""

    @classmethod
    def setUpClass(cls):
        skip_or_fail(cls)
        cls.desktop = WineDesktop()
        cls.addClassCleanup(cls.desktop.close)

    def start(self, env=None):
        """A collector whose start record has been read (never an error record:
        Windows has no permission to grant)."""
        collector = self.desktop.collector(env)
        self.addCleanup(collector.kill)
        self.addCleanup(self.assert_clean_exit, collector)
        start = collector.next()
        self.assertEqual(start["event"], "start", start)
        return collector, start

    def assert_clean_exit(self, collector):
        status, stderr, took = collector.finish()
        self.assertEqual((status, stderr), (0, b""))
        self.assertLess(took, 2.0)  # half a second promised; generous for a loaded machine

    def focus_records_until(self, collector, x, process):
        """Activates X window `x` of `process` and returns the focus records
        written before the one for it."""
        self.desktop.activate(x)
        records = []
        while True:
            record = collector.next_event("focus")
            if record["process"] == process:
                return records
            records.append(record)


class NoWindow(DesktopTest):
    def test_without_a_window_in_front_the_process_is_unknown_until_one_is_activated(self):
        collector, start = self.start()
        self.assertEqual(facts(start), ("Unknown", "", "", ""))
        window = self.desktop.test_window("First window")
        self.addCleanup(window.close)
        self.desktop.activate(window.x(0))
        focus = collector.next_event("focus")
        self.assertEqual(facts(focus), (ENGLISH_NAME, TEST_WINDOW_PATH, "First window", ""))


class StartAndFocus(DesktopTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.alpha = cls.desktop.test_window("Alpha one", "Alpha two")
        cls.beta = cls.desktop.test_window("Beta window")
        cls.notepad = cls.desktop.notepad()

    def test_start_records_name_the_foreground_process(self):
        for x, expected in [
                (self.notepad, ("notepad", NOTEPAD_PATH, "Untitled - Notepad", "")),
                (self.alpha.x(0), (ENGLISH_NAME, TEST_WINDOW_PATH, "Alpha one", ""))]:
            with self.subTest(expected[0]):
                self.desktop.activate(x)
                collector, start = self.start()
                self.assertEqual(facts(start), expected)
                self.assertEqual((start["keys_total"], start["clicks_total"]), (0, 0))

    def test_one_focus_record_per_switch_of_process(self):
        self.desktop.activate(self.notepad)
        collector, _ = self.start()
        for x, title in [(self.alpha.x(0), "Alpha one"), (self.beta.x(0), "Beta window"),
                         (self.alpha.x(1), "Alpha two")]:
            self.desktop.activate(x)
            focus = collector.next_event("focus")
            self.assertEqual(facts(focus), (ENGLISH_NAME, TEST_WINDOW_PATH, title, ""))
        # Switches within one process write none; the next switch of process
        # comes with no record before it.
        for x in (self.alpha.x(0), self.alpha.x(1), self.alpha.x(0)):
            self.desktop.activate(x)
        self.assertEqual(self.focus_records_until(collector, self.notepad, "notepad"), [])

    def test_a_changed_title_shows_at_the_next_sample(self):
        self.desktop.activate(self.beta.x(0))
        collector, start = self.start()
        self.assertEqual(start["window_title"], "Beta window")
        self.beta.set_title(0, "Beta renamed")
        self.addCleanup(self.beta.set_title, 0, "Beta window")
        titles = []
        for x in (self.notepad, self.beta.x(0)):
            self.desktop.activate(x)
            titles.append(collector.next_event("focus")["window_title"])
        self.assertEqual(titles, ["Untitled - Notepad", "Beta renamed"])

    def test_refresh_records_with_nothing_changed_are_identical(self):
        self.desktop.activate(self.beta.x(0))
        collector, _ = self.start()
        first = collector.next_event("refresh")
        second = collector.next_event("refresh")
        self.assertEqual(facts(first), (ENGLISH_NAME, TEST_WINDOW_PATH, "Beta window", ""))
        self.assertGreaterEqual(second["idle_seconds"], first["idle_seconds"] + 4)
        first.pop("idle_seconds"), second.pop("idle_seconds")
        self.assertEqual(first, second)


class Language(DesktopTest):
    """The interface is in English (Wine's, from LANG): a version resource
    with an English description among others is named by it, one without by
    its first description."""

    def test_the_users_language_else_the_first_translation_names_the_process(self):
        for program, expected in [(TEST_WINDOW_PATH, ENGLISH_NAME),
                                  ("C:\\palvern\\test_window_de.exe", GERMAN_NAME)]:
            with self.subTest(program):
                window = self.desktop.test_window("Fenster", program=program)
                self.addCleanup(window.close)
                self.desktop.activate(window.x(0))
                _, start = self.start()
                self.assertEqual(facts(start), (expected, program, "Fenster", ""))


class HostileTitles(DesktopTest):
    CASES = [
        ("quotes, backslashes, controls", '"q" \\ \x01\x1f\x7f\t/', '"q" \\ \x01\x1f\x7f\t/'),
        ("beyond the basic plane", "𝄞 😀 日本", "𝄞 😀 日本"),
        ("lone surrogates", [0xD800, 0x61, 0xDC00, 0xDBFF], "\ufffda\ufffd\ufffd"),
        ("line breaks", "one\r\ntwo\u2028three", "one\r\ntwo\u2028three"),
        # Read up to 32767 UTF-16 units; the rest is cut.
        ("longer than is read", "x" * 40000, "x" * 32767),
        ("a pair cut in two", "x" * 32766 + "😀", "x" * 32766 + "\ufffd"),
    ]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.notepad = cls.desktop.notepad()
        cls.window = cls.desktop.test_window("plain")

    def test_titles_arrive_as_valid_utf8_json(self):
        self.desktop.activate(self.window.x(0))
        collector, _ = self.start()
        for name, title, expected in self.CASES:
            with self.subTest(name):
                self.window.set_title(0, title)
                for x in (self.notepad, self.window.x(0)):
                    self.desktop.activate(x)
                    focus = collector.next_event("focus")
                self.assertEqual(focus["window_title"], expected)

    def test_a_window_without_a_title_takes_the_processes_first_titled_window(self):
        window = self.desktop.test_window("", "The titled one")
        self.addCleanup(window.close)
        self.desktop.activate(window.x(0))
        _, start = self.start()
        self.assertEqual(facts(start), (ENGLISH_NAME, TEST_WINDOW_PATH, "The titled one", ""))


class InputActivity(DesktopTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.notepad = cls.desktop.notepad()
        cls.window = cls.desktop.test_window("Input window")

    def test_totals_count_presses_into_wine_windows_and_idle_follows_input(self):
        self.desktop.activate(self.window.x(0))
        self.desktop.xdotool("mousemove", "--window", str(self.window.x(0)), "60", "60")
        collector, start = self.start()
        self.assertEqual((start["keys_total"], start["clicks_total"]), (0, 0))
        self.desktop.xdotool("key", "a", "b", "c", "shift+d")  # five key presses, shift among them
        for button in ["1", "1", "3", "2", "8", "9"]:
            self.desktop.xdotool("click", button)
        for button in ["4", "5", "6", "7"]:  # the scroll wheel: idle only
            self.desktop.xdotool("click", button)
        self.desktop.activate(self.notepad)
        focus = collector.next_event("focus")
        self.assertEqual((focus["keys_total"], focus["clicks_total"], focus["idle_seconds"]), (5, 6, 0))

        refresh = collector.next_event("refresh")
        later = collector.next_event("refresh")
        self.assertGreaterEqual(later["idle_seconds"], refresh["idle_seconds"] + 4)
        for record in (refresh, later):
            self.assertEqual((record["keys_total"], record["clicks_total"]), (5, 6))

        self.desktop.xdotool("mousemove", "--window", str(self.notepad), "80", "80")  # movement alone
        self.desktop.activate(self.window.x(0))
        focus = collector.next_event("focus")
        self.assertEqual((focus["idle_seconds"], focus["keys_total"], focus["clicks_total"]), (0, 5, 6))


class Url(DesktopTest):
    """Windows named as browsers, each with an address bar whose UI Automation
    provider is an edit with a Value. Wine 10's automation core makes no
    condition on a control type or an automation id (nor on whether an
    element has a Value: only on boolean and integer-list properties), so the
    lookup's one search cannot be made there, and the URL stays empty; the
    records come as promptly as for any window."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for browser in ("chrome.exe", "firefox.exe"):
            cls.desktop.run(["cp", f"{PROGRAMS}/test_window.exe", f"{PROGRAMS}/{browser}"])
        cls.chrome = cls.desktop.test_window("Example Domain", program="C:\\palvern\\chrome.exe",
                                             address_bar=("", "https://example.org/"))
        cls.firefox = cls.desktop.test_window("Mozilla", program="C:\\palvern\\FIREFOX.EXE",
                                              address_bar=("urlbar-input", "https://www.mozilla.org/"))
        cls.notepad = cls.desktop.notepad()

    def test_browsers_are_told_by_their_executables_name(self):
        self.desktop.activate(self.notepad)
        collector, _ = self.start()
        for x, path, title in [(self.chrome.x(0), "C:\\palvern\\chrome.exe", "Example Domain"),
                               (self.firefox.x(0), "C:\\palvern\\FIREFOX.EXE", "Mozilla"),
                               (self.notepad, NOTEPAD_PATH, "Untitled - Notepad")]:
            activated = time.monotonic()
            self.desktop.activate(x)
            focus, arrived = collector.next_timed()
            self.assertEqual(focus["event"], "focus")
            self.assertEqual((focus["bundle_id"], focus["window_title"], focus["url"]), (path, title, ""))
            self.assertLess(arrived - activated, DEADLINE)


class EndOfInput(DesktopTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Each record with this title is over 190 KB of JSON: more than a pipe
        # holds, so a host that does not read keeps the collector in a write.
        cls.window = cls.desktop.test_window("long")
        cls.window.set_title(0, "\x01" * 32767)

    def test_input_ending_at_once_ends_the_collector(self):
        collector = self.desktop.collector()
        self.addCleanup(collector.kill)
        status, stderr, took = collector.finish(timeout=DEADLINE)
        self.assertEqual((status, stderr), (0, b""))

    def test_input_is_read_and_dropped_until_it_ends(self):
        collector, _ = self.start()
        collector.proc.stdin.write(b"anything\n" * 10000)
        collector.proc.stdin.flush()
        self.assertEqual(collector.next_event("refresh")["event"], "refresh")

    def test_input_ending_while_a_record_waits_for_the_host_ends_it(self):
        self.desktop.activate(self.window.x(0))
        collector = self.desktop.collector(read=False)
        self.addCleanup(collector.kill)
        # The start record's write has begun once output is there to read; it
        # cannot end while nothing is read.
        ready, _, _ = select.select([collector.proc.stdout], [], [], DEADLINE)
        self.assertTrue(ready, "no output")
        status, stderr, took = collector.finish(timeout=DEADLINE)
        self.assertEqual((status, stderr), (0, b""))
        self.assertLess(took, 2.0)


if __name__ == "__main__":
    unittest.main()
