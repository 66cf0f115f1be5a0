"""PalvernCollector run as a host runs it: a child process with pipes.

These run without a display, so the collector is not trusted for window
titles and reports no frontmost application.
"""
import json
import os
import select
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from record_check import parse_line  # noqa: E402

COLLECTOR = os.environ.get("PALVERN_COLLECTOR", "PalvernCollector")
# Set where the collector runs without libxcb (the aarch64 build under qemu,
# whose root holds the C library alone): it then tries no display at all.
WITHOUT_XCB = os.environ.get("PALVERN_WITHOUT_XCB") == "1"

ERROR_LINE = (b'{"error":"Accessibility permission is not granted; '
              b'window titles cannot be read."}\n')
START_LINE = (b'{"event":"start","process":"Unknown","bundle_id":"","idle_seconds":0,'
              b'"url":"","window_title":"","keys_total":0,"clicks_total":0}\n')
# What a collector without a display may write when its input ends during
# start-up: nothing once it has seen the end, or what it knew before.
WHAT_START_UP_MAY_WRITE_AT_ITS_END = (b"", ERROR_LINE, ERROR_LINE + START_LINE)


def no_display_env():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def checked(output):
    """`output` after checking each of its whole lines; a part line at the end is left as it is."""
    for line in output.splitlines(keepends=True):
        if line.endswith(b"\n"):
            parse_line(line)
    return output


class Collector:
    """A running collector with its three pipes."""

    def __init__(self, stdin=subprocess.PIPE, env=None):
        self.proc = subprocess.Popen([COLLECTOR], stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env or no_display_env())
        self.started = time.monotonic()
        self.buffer = b""

    def read_line(self, timeout):
        """The next line and when it arrived, or None when none came in time."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None, None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    return None, None
                self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return checked(line + b"\n"), time.monotonic() - self.started

    def finish(self, timeout=3):
        """Closes stdin if open; returns (exit status, what stdout still had, stderr)."""
        if self.proc.stdin:
            self.proc.stdin.close()
            self.proc.stdin = None
        out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, checked(self.buffer + out), err


class StartAndEnd(unittest.TestCase):
    def test_first_lines_are_the_error_record_then_start(self):
        c = Collector()
        first, _ = c.read_line(5)
        second, _ = c.read_line(5)
        status, rest, err = c.finish()
        self.assertEqual(first, ERROR_LINE)
        self.assertEqual(len(first), 83)
        self.assertEqual(json.loads(first), {
            "error": "Accessibility permission is not granted; window titles cannot be read."})
        self.assertEqual(second, START_LINE)
        self.assertEqual(list(json.loads(second)), [
            "event", "process", "bundle_id", "idle_seconds", "url", "window_title",
            "keys_total", "clicks_total"])
        self.assertEqual((status, rest, err), (0, b"", b""))

    def test_input_ended_at_the_outset_exits_0_at_once(self):
        begun = time.monotonic()
        c = Collector(stdin=subprocess.DEVNULL)
        status, out, err = c.finish(timeout=3)
        self.assertEqual(status, 0)
        self.assertLess(time.monotonic() - begun, 2.0)
        self.assertEqual(err, b"")
        # Once start-up has seen the end of input it writes nothing more;
        # without a display it may have found that out (and written the
        # error record, which is true) before it looked at its input.
        self.assertIn(out, WHAT_START_UP_MAY_WRITE_AT_ITS_END)

    def test_closed_or_unreadable_stdin_counts_as_end_of_input(self):
        cases = [
            # The host starts the collector with standard input closed.
            ("closed", ["sh", "-c", 'exec "$0" <&-', COLLECTOR]),
            # Reading a directory fails: an error, not data, so no spinning.
            ("read error", ["sh", "-c", 'exec "$0" < /', COLLECTOR]),
        ]
        for name, argv in cases:
            with self.subTest(name):
                proc = subprocess.run(argv, capture_output=True, timeout=5, env=no_display_env())
                checked(proc.stdout)
                self.assertEqual(proc.returncode, 0)
                self.assertEqual(proc.stderr, b"")
                self.assertIn(proc.stdout, WHAT_START_UP_MAY_WRITE_AT_ITS_END)

    def test_end_of_input_while_running_exits_promptly_with_no_record_after(self):
        c = Collector()
        self.assertEqual(c.read_line(5)[0], ERROR_LINE)
        self.assertEqual(c.read_line(5)[0], START_LINE)
        time.sleep(0.5)
        closed = time.monotonic()
        status, rest, err = c.finish(timeout=3)
        self.assertLess(time.monotonic() - closed, 1.0)
        self.assertEqual((status, rest, err), (0, b"", b""))


class Input(unittest.TestCase):
    def test_bytes_on_stdin_are_dropped_and_cause_no_record(self):
        c = Collector()
        self.assertEqual(c.read_line(5)[0], ERROR_LINE)
        self.assertEqual(c.read_line(5)[0], START_LINE)
        chunk = bytes(range(256)).replace(b"\n", b"") * 4096  # ~1 MiB, no line feeds
        for _ in range(4):
            c.proc.stdin.write(chunk)
            c.proc.stdin.flush()
        c.proc.stdin.write(b"{\"event\":\"focus\"}\n\n\x00")
        c.proc.stdin.flush()
        line, _ = c.read_line(1.0)
        self.assertIsNone(line, "input caused a record")
        self.assertIsNone(c.proc.poll(), "input ended the collector")
        status, rest, err = c.finish()
        self.assertEqual((status, rest, err), (0, b"", b""))


class Refresh(unittest.TestCase):
    def test_refresh_every_five_seconds(self):
        c = Collector()
        self.assertEqual(c.read_line(5)[0], ERROR_LINE)
        start, start_at = c.read_line(5)
        first, first_at = c.read_line(8)
        second, second_at = c.read_line(8)
        status, rest, err = c.finish()
        expected = START_LINE.replace(b'"start"', b'"refresh"')
        self.assertEqual(first, expected)
        self.assertEqual(second, expected)
        self.assertGreater(first_at - start_at, 4.5)
        self.assertLess(first_at - start_at, 6.5)
        self.assertGreater(second_at - first_at, 4.5)
        self.assertLess(second_at - first_at, 5.5)
        self.assertEqual((status, rest, err), (0, b"", b""))


class SilentDisplay(unittest.TestCase):
    """A display that accepts connections and never answers (a hung or
    stopped server, a dead forwarded display): it counts as no display, and
    it holds up neither start-up, nor a refresh, nor the end."""

    def setUp(self):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        for number in range(960, 1000):  # an abstract socket no server holds
            try:
                self.socket.bind(f"\0/tmp/.X11-unix/X{number}")
                break
            except OSError:
                continue
        self.socket.listen(16)
        self.addCleanup(self.socket.close)
        self.env = dict(no_display_env(), DISPLAY=f":{number}")

    def test_start_and_refresh_records_come_and_end_of_input_ends_it(self):
        c = Collector(env=self.env)
        self.assertEqual(c.read_line(30)[0], ERROR_LINE)
        self.assertEqual(c.read_line(30)[0], START_LINE)
        refresh = START_LINE.replace(b'"start"', b'"refresh"')
        self.assertEqual(c.read_line(30)[0], refresh)
        self.assertEqual(c.read_line(30)[0], refresh)
        status, rest, err = c.finish(timeout=30)
        self.assertEqual((status, rest, err), (0, b"", b""))

    def test_end_of_input_during_start_up_ends_it_without_a_record(self):
        # The display it was waiting for may well work: no record claims it
        # does not. Without libxcb nothing is waited for, and start-up may
        # have told the truth before it saw the end.
        c = Collector(env=self.env)
        status, out, err = c.finish(timeout=30)
        self.assertEqual((status, err), (0, b""))
        self.assertIn(out, WHAT_START_UP_MAY_WRITE_AT_ITS_END if WITHOUT_XCB else (b"",))


if __name__ == "__main__":
    unittest.main()
