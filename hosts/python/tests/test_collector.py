"""The Python host library against the real executable (PALVERN_COLLECTOR), run
without a display, and against small stand-in programs for what the real one
never does. Each case runs with Collector and with AsyncCollector."""

import asyncio
import dataclasses
import errno
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
LINE_LIMIT = 1024 * 1024
HERE = os.path.dirname(os.path.abspath(__file__))
# An ELF header for a machine no one runs (VAX): exec refuses it with ENOEXEC.
FOREIGN_ELF = (b"\x7fELF\x02\x01\x01" + bytes(9) + (2).to_bytes(2, "little")
               + (75).to_bytes(2, "little") + (1).to_bytes(4, "little") + bytes(40))


class Scratch(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="palvern-python-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name

    def script(self, name, body, mode=0o755):
        """An executable shell script standing in for the collector."""
        return self.file(name, f"#!/bin/sh\n{body}\n".encode(), mode)

    def file(self, name, content, mode=0o755):
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as file:
            file.write(content)
        os.chmod(path, mode)
        return path

    def writes(self, name, lines):
        """A stand-in that writes these bytes, then waits for its input to end."""
        data = self.file(name + ".lines", lines, 0o644)
        return self.script(name, f"cat '{data}'; exec cat >/dev/null")

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

    async def test_stops_at_once_each_wait_for_the_end(self):
        collector = await AsyncCollector(COLLECTOR, env=NO_DISPLAY).start()
        statuses = await asyncio.wait_for(asyncio.gather(collector.stop(), collector.stop()),
                                          DEADLINE)
        self.assertEqual(statuses, [0, 0])
        self.assertEqual(await collector.stop(), 0)

    async def test_not_started_is_a_clear_error(self):
        collector = AsyncCollector(COLLECTOR, env=NO_DISPLAY)
        with self.assertRaisesRegex(RuntimeError, "not been started.*async with"):
            async for _ in collector:
                pass
        with self.assertRaisesRegex(RuntimeError, "not been started"):
            collector.pid
        self.assertIsNone(await collector.stop())
        async with collector:
            with self.assertRaisesRegex(RuntimeError, "started already"):
                await collector.start()
        self.assertEqual(collector.status, 0)


def lines(seen):
    """Records as they are, NotARecord errors as their lines."""
    return [e.line if isinstance(e, NotARecord) else e for e in seen]


def short(items):
    """Lines and records as compared, long ones made small enough for a
    failure's message: a line as its first byte and its length, a title as
    its length."""
    return [(item[:1], len(item)) if isinstance(item, bytes) and len(item) > 1000
            else dataclasses.replace(item, window_title=len(item.window_title))
            if isinstance(item, Sample) and len(item.window_title) > 1000 else item
            for item in items]


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
            ("a last line too long, cut off by the exit",
             self.script("cut-off-long", "head -c 3000000 /dev/zero | tr '\\0' x"),
             ([b"x" * LINE_LIMIT],), (0, None)),
            ("a program that fails", self.script("fails", "exit 3"), ([],), (3, None)),
            ("a program killed by a signal", self.script("killed", "kill -KILL $$"), ([],),
             (None, "SIGKILL")),
        ]

    def check_end(self, seen, before, end, collector):
        *records, last = seen
        self.assertIn(short(lines(records)), [short(items) for items in before])
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
        marker = os.path.join(self.scratch, "ran")
        on_path = dict(NO_DISPLAY, PATH=self.scratch)
        # (name, path, environment, the error number of the cause)
        cases = [
            ("no such file", os.path.join(self.scratch, "no-such-collector"), None, errno.ENOENT),
            ("not executable", self.script("not-executable", "exit 0", 0o644), None, errno.EACCES),
            ("a text file without #!",
             self.file("no-interpreter", f"touch '{marker}'\n".encode()), None, errno.ENOEXEC),
            ("the same, found on PATH", "no-interpreter", on_path, errno.ENOEXEC),
            ("an ELF executable for another machine", self.file("foreign", FOREIGN_ELF), None,
             errno.ENOEXEC),
            ("an empty file", self.file("empty", b""), None, errno.ENOEXEC),
        ]
        for name, path, env, number in cases:
            with self.subTest(name):
                with self.assertRaises(CollectorMissing) as raised:
                    Collector(path, env=env)
                self.assertEqual(raised.exception.__cause__.errno, number)
                self.assertEqual(raised.exception.path, path)
                self.assertIn(path, str(raised.exception))
                with self.assertRaises(CollectorMissing) as raised:
                    asyncio.run(AsyncCollector(path, env=env).start())
                self.assertEqual(raised.exception.__cause__.errno, number)
        self.assertFalse(os.path.exists(marker), "a file that is not an executable was run")

    def read_both(self, path, count):
        """The first `count` records and NotARecord errors, read with Collector
        and with AsyncCollector, each with the exit status after stop()."""
        with Collector(path) as collector:
            self.watchdog(collector)
            seen = []
            for _ in range(count):
                try:
                    seen.append(next(collector))
                except NotARecord as error:
                    seen.append(error)
        results = [(seen, collector.status)]

        async def run():
            async with AsyncCollector(path) as collector:
                seen = []
                for _ in range(count):
                    try:
                        seen.append(await asyncio.wait_for(collector.__anext__(), DEADLINE))
                    except NotARecord as error:
                        seen.append(error)
            return seen, collector.status

        return results + [asyncio.run(run())]

    def test_a_line_that_is_not_a_record_is_reported_and_reading_goes_on(self):
        long = b"x" * 100_000
        path = self.script("not-records", "printf 'hello\\n{\"error\":\"x\"}\\n%s\\n\\377\\n%s\\n' "
                           f"{long.decode()} '{START_LINE.decode()}'; exec cat >/dev/null")
        expected = [b"hello", AccessibilityError("x"), long, b"\xff", START_RECORD]
        for seen, status in self.read_both(path, len(expected)):
            self.assertEqual((short(lines(seen)), status), (short(expected), 0))
            self.assertLess(len(str(seen[2])), 400, "the message shows only the line's start")

    def test_lines_over_1_mib_are_refused_and_reading_goes_on(self):
        padding = LINE_LIMIT - len(START_LINE)
        longest = START_LINE.replace(b'"window_title":""', b'"window_title":"' + b"t" * padding + b'"')
        self.assertEqual(len(longest), LINE_LIMIT)
        output = [longest, b"y" * (LINE_LIMIT + 1), b"z" * 5_000_000, START_LINE]
        path = self.writes("long-lines", b"\n".join(output) + b"\n")

        expected = short([dataclasses.replace(START_RECORD, window_title="t" * padding),
                          b"y" * LINE_LIMIT, b"z" * LINE_LIMIT, START_RECORD])
        for seen, status in self.read_both(path, len(expected)):
            self.assertEqual((short(lines(seen)), status), (expected, 0))
            self.assertIn(f"longer than {LINE_LIMIT} bytes", str(seen[1]))


def shared_cases():
    """(name, line as bytes, whether it is a record) from hosts/test-lines.txt."""
    cases = []
    name = None
    with open(os.path.join(HERE, "..", "..", "test-lines.txt"), "rb") as file:
        for text in file.read().decode("utf-8").splitlines():
            if text.startswith("# "):
                name = text[2:]
                continue
            mark, _, line = text.partition(" ")
            data = bytes.fromhex(line) if mark == "-x" else line.encode("utf-8")
            cases.append((name, data, mark == "+"))
    return cases


class ParseRecord(unittest.TestCase):
    def test_the_cases_both_libraries_share(self):
        for name, line, is_record in shared_cases():
            with self.subTest(name):
                record = parse_record(line)
                if is_record:
                    self.assertEqual(dataclasses.asdict(record), json.loads(line))
                else:
                    self.assertIsNone(record)
                self.assertEqual(parse_record(line + b"\n"), record, "with its line feed")
                try:
                    text = line.decode("utf-8")
                except UnicodeDecodeError:
                    continue
                self.assertEqual(parse_record(text), record, "as str")

    def test_records_and_nothing_else(self):
        self.assertEqual(parse_record(START_LINE), START_RECORD)
        self.assertEqual(parse_record(START_LINE.decode() + "\n"), START_RECORD)
        self.assertEqual(parse_record(b'{"error":"x"}'), AccessibilityError("x"))
        largest = START_LINE.replace(b'"keys_total":0', b'"keys_total":18446744073709551615')
        self.assertEqual(parse_record(largest).keys_total, 2**64 - 1)
        not_records = [
            ("too many digits to convert", START_LINE.replace(b'"keys_total":0', b'"keys_total":' + b"9" * 5000)),
            ("nested deeper than the interpreter's stack", b"[" * 200_000 + b"]" * 200_000),
            ("a title nested deep", START_LINE.replace(b'"window_title":""', b'"window_title":' + b'{"a":' * 200_000 + b"1" + b"}" * 200_000)),
        ]
        for name, line in not_records:
            with self.subTest(name):
                self.assertIsNone(parse_record(line))
                self.assertIsNone(parse_record(line.decode()))
        self.assertEqual(json.loads(START_LINE), dataclasses.asdict(START_RECORD))


if __name__ == "__main__":
    unittest.main()
