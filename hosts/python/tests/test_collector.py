"""The Python host library against the real executable (PALVERN_COLLECTOR), run
without a display, and against small stand-in programs for what the real one
never does. Each case runs with Collector and with AsyncCollector."""

import asyncio
import dataclasses
import json
import os
import signal
import stat
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from palvern_collector import (  # noqa: E402
    AccessibilityError, AsyncCollector, Collector, CollectorExited, CollectorMissing,
    NotARecord, Sample, parse_record)

COLLECTOR = os.environ.get("PALVERN_COLLECTOR", "PalvernCollector")
# Every wait is for an event, bound by a deadline generous enough for a
# loaded machine.
DEADLINE = 60
NO_DISPLAY = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
NO_DISPLAY["WAYLAND_DISPLAY"] = "palvern-no-compositor"

ERROR_RECORD = AccessibilityError(
    "Accessibility permission is not granted; window titles cannot be read.")
START_RECORD = Sample(event="start", process="Unknown", bundle_id="", idle_seconds=0, url="",
                      window_title="", keys_total=0, clicks_total=0)
START_LINE = (b'{"event":"start","process":"Unknown","bundle_id":"","idle_seconds":0,'
              b'"url":"","window_title":"","keys_total":0,"clicks_total":0}')


class Scratch(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-python-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name

    def script(self, name, body, mode=0o755):
        """An executable shell script standing in for the collector."""
        path = os.path.join(self.scratch, name)
        with open(path, "w") as script:
            script.write(f"#!/bin/sh\n{body}\n")
        os.chmod(path, mode)
        return path

    def watchdog(self, collector):
        """Kills the collector if the test has not finished with it by the
        deadline, so that a blocked read ends."""
        timer = threading.Timer(DEADLINE, os.kill, (collector.pid, signal.SIGKILL))
        timer.start()
        self.addCleanup(timer.cancel)

    def read_all(self, collector):
        """Everything the iterator gives until it stops: records and errors."""
        seen = []
        while True:
            try:
                seen.append(next(collector))
            except StopIteration:
                return seen
            except (CollectorExited, NotARecord) as error:
                seen.append(error)

    async def read_all_async(self, collector):
        seen = []
        while True:
            try:
                seen.append(await asyncio.wait_for(collector.__anext__(), DEADLINE))
            except StopAsyncIteration:
                return seen
            except (CollectorExited, NotARecord) as error:
                seen.append(error)


class RealCollector(Scratch):
    def test_error_record_start_refresh_and_stop(self):
        with Collector(COLLECTOR, env=NO_DISPLAY) as collector:
            self.watchdog(collector)
            records = [next(collector) for _ in range(3)]
        self.assertEqual(records, [ERROR_RECORD, START_RECORD,
                                   dataclasses.replace(START_RECORD, event="refresh")])
        self.assertEqual((collector.status, collector.signal), (0, None))
        self.assertEqual(list(collector), [])
        self.assertEqual(collector.stop(), 0)
        with self.assertRaises(dataclasses.FrozenInstanceError):
            records[1].event = "focus"

    def test_stop_from_another_thread_ends_the_iteration(self):
        collector = Collector(COLLECTOR, env=NO_DISPLAY)
        self.watchdog(collector)
        seen = []
        for record in collector:
            seen.append(record)
            if isinstance(record, Sample):
                threading.Thread(target=collector.stop).start()
        self.assertEqual(seen, [ERROR_RECORD, START_RECORD])
        self.assertEqual(collector.stop(), 0)


class AsyncRealCollector(unittest.IsolatedAsyncioTestCase):
    async def test_error_record_start_refresh_and_stop(self):
        async with AsyncCollector(COLLECTOR, env=NO_DISPLAY) as collector:
            records = [await asyncio.wait_for(collector.__anext__(), DEADLINE) for _ in range(3)]
        self.assertEqual(records, [ERROR_RECORD, START_RECORD,
                                   dataclasses.replace(START_RECORD, event="refresh")])
        self.assertEqual(collector.status, 0)
        self.assertEqual([record async for record in collector], [])
        self.assertEqual(await collector.stop(), 0)


def lines(seen):
    """Records as they are, NotARecord errors as their lines."""
    return [e.line if isinstance(e, NotARecord) else e for e in seen]


class Errors(Scratch):
    def cases(self):
        """(name, program, what may come before the end, the end's status and signal)"""
        return [
            ("the collector ends by itself (its input closed at start)",
             self.script("closed-input", f'exec "{COLLECTOR}" <&-'),
             # Once start-up sees its input end it writes nothing more; what
             # it found out before (no display: the error record, true) may
             # come first.
             ([], [ERROR_RECORD], [ERROR_RECORD, START_RECORD]), (0, None)),
            ("a last line cut off by the exit",
             self.script("cut-off", "printf '{\"error\":\"x\"}'"), ([b'{"error":"x"}'],), (0, None)),
            ("a program that fails", self.script("fails", "exit 3"), ([],), (3, None)),
            ("a program killed by a signal", self.script("killed", "kill -KILL $$"), ([],),
             (None, "SIGKILL")),
        ]

    def check_end(self, seen, before, end, collector):
        *records, last = seen
        self.assertIn(lines(records), before)
        self.assertIsInstance(last, CollectorExited)
        self.assertEqual((last.status, last.signal), end)
        self.assertEqual((collector.status, collector.signal), end)
        self.assertIn(collector.path, str(last))

    def test_early_exit(self):
        for name, path, before, end in self.cases():
            with self.subTest(name):
                collector = Collector(path, env=NO_DISPLAY)
                self.watchdog(collector)
                self.check_end(self.read_all(collector), before, end, collector)
                self.assertEqual(collector.stop(), end[0])

    def test_early_exit_async(self):
        async def run(path):
            collector = await AsyncCollector(path, env=NO_DISPLAY).start()
            return collector, await self.read_all_async(collector)

        for name, path, before, end in self.cases():
            with self.subTest(name):
                collector, seen = asyncio.run(run(path))
                self.check_end(seen, before, end, collector)

    def test_missing_executable(self):
        cases = [
            ("no such file", os.path.join(self.scratch, "no-such-collector"), FileNotFoundError),
            ("not executable", self.script("not-executable", "exit 0", 0o644), PermissionError),
        ]
        for name, path, cause in cases:
            with self.subTest(name):
                with self.assertRaises(CollectorMissing) as raised:
                    Collector(path)
                self.assertIsInstance(raised.exception.__cause__, cause)
                self.assertEqual(raised.exception.path, path)
                self.assertIn(path, str(raised.exception))
                with self.assertRaises(CollectorMissing) as raised:
                    asyncio.run(AsyncCollector(path).start())
                self.assertIsInstance(raised.exception.__cause__, cause)

    def test_a_line_that_is_not_a_record_is_reported_and_reading_goes_on(self):
        long = b"x" * 100_000
        path = self.script("not-records", "printf 'hello\\n{\"error\":\"x\"}\\n%s\\n\\377\\n%s\\n' "
                           f"{long.decode()} '{START_LINE.decode()}'; exec cat >/dev/null")
        expected = [b"hello\n", AccessibilityError("x"), long + b"\n", b"\xff\n", START_RECORD]

        with Collector(path) as collector:
            self.watchdog(collector)
            seen = []
            for _ in expected:
                try:
                    seen.append(next(collector))
                except NotARecord as error:
                    seen.append(error)
        self.assertEqual(lines(seen), expected)
        self.assertLess(len(str(seen[2])), 400, "the message shows only the line's start")
        self.assertEqual(collector.status, 0)

        async def run():
            async with AsyncCollector(path) as collector:
                seen = []
                for _ in expected:
                    try:
                        seen.append(await asyncio.wait_for(collector.__anext__(), DEADLINE))
                    except NotARecord as error:
                        seen.append(error)
            return seen, collector.status

        seen, status = asyncio.run(run())
        self.assertEqual((lines(seen), status), (expected, 0))


class ParseRecord(unittest.TestCase):
    def test_records_and_nothing_else(self):
        sample = START_LINE
        self.assertEqual(parse_record(sample), START_RECORD)
        self.assertEqual(parse_record(sample + b"\n"), START_RECORD)
        self.assertEqual(parse_record(b'{"error":"x"}'), AccessibilityError("x"))
        largest = sample.replace(b'"keys_total":0', b'"keys_total":18446744073709551615')
        self.assertEqual(parse_record(largest).keys_total, 2**64 - 1)
        not_records = [
            b"", b"hello", b"null", b"[]", b'"start"', sample + b"x", b'{"error":1}',
            b'{"error":"x","event":"start"}', b"\xff", sample.replace(b"Unknown", b"\xff"),
            sample.replace(b'"url":"",', b""),
            sample.replace(b'"clicks_total":0', b'"clicks_total":0,"pid":1'),
            sample.replace(b'"idle_seconds":0', b'"idle_seconds":-1'),
            sample.replace(b'"idle_seconds":0', b'"idle_seconds":0.0'),
            sample.replace(b'"idle_seconds":0', b'"idle_seconds":true'),
            sample.replace(b'"keys_total":0', b'"keys_total":18446744073709551616'),
            sample.replace(b'"keys_total":0', b'"keys_total":"0"'),
            sample.replace(b'"process":"Unknown"', b'"process":null'),
            sample.replace(b'"start"', b'"blur"'),
            sample.replace(b'"keys_total":0', b'"keys_total":' + b"9" * 5000),
        ]
        for line in not_records:
            with self.subTest(line[:60]):
                self.assertIsNone(parse_record(line))
        self.assertEqual(json.loads(sample), dataclasses.asdict(START_RECORD))


if __name__ == "__main__":
    unittest.main()
