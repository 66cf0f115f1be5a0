"""Starts PalvernCollector as a child process and hands its records to the host
as frozen dataclasses.

    with Collector("/usr/bin/PalvernCollector") as collector:
        for record in collector:
            ...

``AsyncCollector`` is the same for asyncio (``async with``, ``async for``).
Without a path, both run the executable this package carries (a platform
wheel's), else ``PalvernCollector`` from PATH. ``describe()`` asks the
collector what it can give on this desktop.
What can go wrong is a ``CollectorError``: ``CollectorMissing`` (the executable
could not be started), ``CollectorExited`` (it ended before ``stop()``) and
``NotARecord`` (it wrote a line that is not a record; reading can go on).
Iterating an ``AsyncCollector`` that has not been started raises RuntimeError.
"""

from __future__ import annotations

import asyncio
import json
import os
import signal as _signal
import subprocess
import sys
import threading
from dataclasses import dataclass, fields
from io import BufferedReader
from typing import IO, Any, Literal, Mapping, Optional, Union, cast

__all__ = [
    "AccessibilityError", "AsyncCollector", "Availability", "Collector", "CollectorError",
    "CollectorExited", "CollectorMissing", "Description", "Members", "NotARecord", "Record",
    "Sample", "SampleEvent", "describe", "parse_record",
]

SampleEvent = Literal["start", "focus", "refresh"]

# The executable started without a path, looked up on PATH.
_EXECUTABLE = "PalvernCollector.exe" if sys.platform == "win32" else "PalvernCollector"
# On Windows the collector is a console program: started without a console
# window of its own (0, no flags, elsewhere).
_CREATION_FLAGS = getattr(subprocess, "CREATE_NO_WINDOW", 0)


@dataclass(frozen=True)
class Sample:
    """A sample record; the three counts are non-negative integers."""

    event: SampleEvent
    process: str
    bundle_id: str
    idle_seconds: int
    url: str
    window_title: str
    keys_total: int
    clicks_total: int


@dataclass(frozen=True)
class AccessibilityError:
    """The error record: window titles cannot be read. At most one, as the first line."""

    error: str


Record = Union[Sample, AccessibilityError]

_EVENTS = ("start", "focus", "refresh")
_MEMBERS = frozenset(field.name for field in fields(Sample))
_TEXT_MEMBERS = ("process", "bundle_id", "url", "window_title")
_COUNT_LIMITS = {"idle_seconds": 2**63 - 1, "keys_total": 2**64 - 1, "clicks_total": 2**64 - 1}
_NOT_A_COUNT = object()
# The collector ends within half a second of its input ending; one that has
# not after this long is hung and is killed.
STOP_TIMEOUT = 2.0
# Its longest record is well under this (titles and URLs are bounded at
# 64 KiB); a longer line is refused before it is all held.
_LINE_LIMIT = 1024 * 1024
_SHOWN_LINE_LENGTH = 200
_READ_SIZE = 65536


class CollectorError(Exception):
    """Something went wrong with the collector at ``path``."""

    def __init__(self, message: str, path: str) -> None:
        super().__init__(message)
        self.path = path


class CollectorMissing(CollectorError):
    """The executable could not be started (no such file, not executable, not
    an executable for this machine); the ``OSError`` is the ``__cause__``."""


class CollectorExited(CollectorError):
    """The collector ended before ``stop()``: ``status`` is its exit status, or
    None when a signal (``signal``, such as ``"SIGKILL"``) ended it."""

    def __init__(self, path: str, status: Optional[int], signal: Optional[str]) -> None:
        how = f"was ended by {signal}" if signal else f"exited with status {status}"
        super().__init__(f"PalvernCollector ({path}) {how} before stop()", path)
        self.status = status
        self.signal = signal


class NotARecord(CollectorError):
    """The collector wrote ``line`` (bytes, without its line feed), which is not
    a record; of a line longer than 1 MiB, ``line`` is the first 1 MiB."""

    def __init__(self, path: str, line: bytes, why: str = "that is not a record") -> None:
        shown = repr(line[:_SHOWN_LINE_LENGTH]) + ("…" if len(line) > _SHOWN_LINE_LENGTH else "")
        super().__init__(f"PalvernCollector ({path}) wrote a line {why}: {shown}", path)
        self.line = line


def _count(digits: str) -> object:
    """A count as written: plain digits (json gives 1.0 and 1e0 as floats), no
    more of them than the largest count has."""
    if digits.startswith("-") or len(digits) > 20:
        return _NOT_A_COUNT
    return int(digits)


def parse_record(line: Union[bytes, str]) -> Optional[Record]:
    """The record in one line (bytes, which must be UTF-8, or str; its line
    feed optional), or None when it holds none."""
    try:
        text = line if isinstance(line, str) else line.decode("utf-8")
        value = json.loads(text.removesuffix("\n"), parse_int=_count)
    except (ValueError, RecursionError):  # not UTF-8, not JSON, or nested too deep
        return None
    if not isinstance(value, dict):
        return None
    if value.keys() == {"error"}:
        return AccessibilityError(value["error"]) if type(value["error"]) is str else None
    if value.keys() != _MEMBERS or value["event"] not in _EVENTS:
        return None
    if not all(type(value[key]) is str for key in _TEXT_MEMBERS):
        return None
    if not all(type(value[key]) is int and 0 <= value[key] <= limit
               for key, limit in _COUNT_LIMITS.items()):
        return None
    return Sample(**value)


class _Lines:
    """The collector's output cut into records. Only bytes not searched yet are
    searched for a line feed. A line longer than _LINE_LIMIT is refused by its
    first _LINE_LIMIT bytes as soon as it is known to be too long, and the rest
    of it is dropped as it arrives, up to its line feed."""

    def __init__(self, path: str) -> None:
        self._path = path
        self._buffer = bytearray()
        self._start = 0  # where the next line starts in _buffer
        self._searched = 0  # where the search for its line feed goes on
        self._skipping = False
        self._finished = False  # the output has ended

    @property
    def ended(self) -> bool:
        """The output has ended and all of it has been taken."""
        return self._finished and self._start == len(self._buffer)

    def add(self, chunk: bytes) -> None:
        """Adds what was read; b"" is the end of the output."""
        if not chunk:
            self._finished = True
            return
        if self._skipping:
            end = chunk.find(b"\n")
            if end < 0:
                return
            self._skipping = False
            chunk = chunk[end + 1:]
        del self._buffer[:self._start]
        self._searched -= self._start
        self._start = 0
        self._buffer += chunk

    def take(self) -> Optional[Record]:
        """The next record; None when more is needed, or at the end. Raises
        NotARecord for a line that is not one."""
        end = self._buffer.find(b"\n", self._searched, self._start + _LINE_LIMIT + 1)
        if end >= 0:
            line = bytes(self._buffer[self._start:end])
            self._start = self._searched = end + 1
            record = parse_record(line)
            if record is None:
                raise NotARecord(self._path, line)
            return record
        if len(self._buffer) - self._start > _LINE_LIMIT:
            why = f"longer than {_LINE_LIMIT} bytes"
            line = bytes(self._buffer[self._start:self._start + _LINE_LIMIT])
            end = self._buffer.find(b"\n", self._start + _LINE_LIMIT)
            self._skipping = end < 0
            del self._buffer[:len(self._buffer) if end < 0 else end + 1]
        elif self._finished and not self.ended:
            why = "cut off by the exit"
            line = bytes(self._buffer[self._start:])
            self._buffer.clear()
        else:
            self._searched = len(self._buffer)
            return None
        self._start = self._searched = 0
        raise NotARecord(self._path, line, why)


def _executable(path: Optional[str]) -> str:
    """`path`; without one, the executable a platform wheel puts beside this
    module (bin/PalvernCollector), else PalvernCollector from PATH
    (PalvernCollector.exe on Windows, both)."""
    if path is not None:
        return path
    carried = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bin", _EXECUTABLE)
    return carried if os.path.isfile(carried) else _EXECUTABLE


def _missing(path: str, error: OSError) -> CollectorMissing:
    return CollectorMissing(
        f"PalvernCollector could not be started from {path}: {error.strerror or error}", path)


def _status_and_signal(returncode: int) -> "tuple[Optional[int], Optional[str]]":
    if returncode >= 0:
        return returncode, None
    try:
        return None, _signal.Signals(-returncode).name
    except ValueError:
        return None, str(-returncode)


class Collector:
    """The collector as a child process: an iterator of records, and a context
    manager that stops it on the way out. Starting it raises CollectorMissing.

    Iterating raises CollectorExited when the collector ends before stop(),
    then stops; NotARecord for a line that is not a record, after which the
    next call goes on reading. stop() from another thread ends the iteration.
    """

    def __init__(self, path: Optional[str] = None, *,
                 env: Optional[Mapping[str, str]] = None,
                 stop_timeout: float = STOP_TIMEOUT) -> None:
        self.path = path = _executable(path)
        self.status: Optional[int] = None
        self.signal: Optional[str] = None
        self._stop_timeout = stop_timeout
        self._lines = _Lines(path)
        self._ended = False
        self._ending = threading.Lock()  # a stop() meanwhile waits for the status
        try:
            self._proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL, env=env,
                                          creationflags=_CREATION_FLAGS)
        except OSError as error:
            raise _missing(path, error) from error
        self._stdin = cast(IO[bytes], self._proc.stdin)
        self._stdout = cast(BufferedReader, self._proc.stdout)

    @property
    def pid(self) -> int:
        return self._proc.pid

    def __enter__(self) -> Collector:
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    def __iter__(self) -> Collector:
        return self

    def __next__(self) -> Record:
        if self._ended:
            raise StopIteration
        while True:
            record = self._lines.take()
            if record is not None:
                return record
            if self._lines.ended:
                break
            try:
                self._lines.add(self._stdout.read1(_READ_SIZE))
            except ValueError:  # stop() closed the pipe meanwhile
                raise StopIteration from None
        with self._ending:
            stopped = self._ended
            if not stopped:
                self._end()
        if stopped:
            raise StopIteration
        raise CollectorExited(self.path, self.status, self.signal)

    def stop(self) -> Optional[int]:
        """Ends the collector's standard input, which ends it; returns its exit
        status (0), or None when it had to be killed or a signal ended it."""
        with self._ending:
            if not self._ended:
                self._end()
        return self.status

    def _end(self) -> None:
        self._ended = True
        try:
            self._stdin.close()
        except OSError:  # it has gone already
            pass
        try:
            returncode = self._proc.wait(timeout=self._stop_timeout)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            returncode = self._proc.wait()
        self._stdout.close()
        self.status, self.signal = _status_and_signal(returncode)


class AsyncCollector:
    """Collector for asyncio: ``async with AsyncCollector(path) as c: async for
    record in c``, or ``c = await AsyncCollector(path).start()`` and ``await
    c.stop()``. The same records and errors as Collector. Iterating it, or
    asking its pid, before start() raises RuntimeError; so does a second
    start(). Any number of stop() calls, at once too, each wait for the end
    and give the status."""

    def __init__(self, path: Optional[str] = None, *,
                 env: Optional[Mapping[str, str]] = None,
                 stop_timeout: float = STOP_TIMEOUT) -> None:
        self.path = path = _executable(path)
        self.status: Optional[int] = None
        self.signal: Optional[str] = None
        self._env = env
        self._stop_timeout = stop_timeout
        self._proc: Optional[asyncio.subprocess.Process] = None
        self._lines = _Lines(path)
        self._ending: Optional[asyncio.Future[None]] = None  # once the end has begun

    async def start(self) -> AsyncCollector:
        """Starts the collector; raises CollectorMissing when it cannot be."""
        if self._proc is not None:
            raise RuntimeError(f"AsyncCollector ({self.path}) has been started already")
        try:
            self._proc = await asyncio.create_subprocess_exec(
                self.path, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, env=self._env, creationflags=_CREATION_FLAGS)
        except OSError as error:
            raise _missing(self.path, error) from error
        return self

    @property
    def pid(self) -> int:
        return self._started().pid

    async def __aenter__(self) -> AsyncCollector:
        return await self.start()

    async def __aexit__(self, *exc_info: Any) -> None:
        await self.stop()

    def __aiter__(self) -> AsyncCollector:
        return self

    async def __anext__(self) -> Record:
        stdout = self._started().stdout
        assert stdout is not None
        if self._ending is not None:
            raise StopAsyncIteration
        while True:
            record = self._lines.take()
            if record is not None:
                return record
            if self._lines.ended:
                break
            self._lines.add(await stdout.read(_READ_SIZE))
        if self._ending is not None:  # stop() ended it meanwhile
            raise StopAsyncIteration
        await self._end()
        raise CollectorExited(self.path, self.status, self.signal)

    async def stop(self) -> Optional[int]:
        """As Collector.stop()."""
        if self._proc is not None:
            await self._end()
        return self.status

    def _started(self) -> asyncio.subprocess.Process:
        if self._proc is None:
            raise RuntimeError(f"AsyncCollector ({self.path}) has not been started: use "
                               "`async with AsyncCollector(...)` or `await collector.start()`")
        return self._proc

    async def _end(self) -> None:
        """Ends the collector, once; every caller waits for it. A caller that is
        cancelled leaves the ending to go on for the others."""
        if self._ending is None:
            self._ending = asyncio.ensure_future(self._stop_process(self._started()))
        await asyncio.shield(self._ending)

    async def _stop_process(self, proc: asyncio.subprocess.Process) -> None:
        assert proc.stdin is not None
        proc.stdin.close()
        try:
            returncode = await asyncio.wait_for(proc.wait(), self._stop_timeout)
        except asyncio.TimeoutError:
            proc.kill()
            returncode = await proc.wait()
        self.status, self.signal = _status_and_signal(returncode)


# ---------------------------------------------------------------------------
# What the collector can give on this desktop: its answer to --describe.

Availability = Union[bool, str]
"""True: the member can hold real values here; False: never here (always
"Unknown", "" or 0); "off": not until the user turns a switch on (the
session's accessibility for url on Linux, the Accessibility permission for
window_title on macOS); "no-extension": not until the desktop's extension is
installed and enabled (GNOME). Any other text (from a newer collector) means
"not now"."""

# The collector answers within its start deadline (a few seconds at most,
# whatever the desktop does); one that has not after this long is killed.
DESCRIBE_TIMEOUT = 10.0


@dataclass(frozen=True)
class Members:
    """Each member of the sample record and its Availability; ``event`` is always True."""

    event: Availability
    process: Availability
    bundle_id: Availability
    idle_seconds: Availability
    url: Availability
    window_title: Availability
    keys_total: Availability
    clicks_total: Availability


@dataclass(frozen=True)
class Description:
    """The collector's answer to --describe: its version (``"0.1.0"``), the
    window system a run would report from (``"x11"``, ``"wlroots"``,
    ``"kwin"``, ``"gnome"``, ``"macos"``, ``"windows"``, or ``"none"``: the
    run starts with the error record), and what each member of the sample
    record can hold there."""

    version: str
    window_system: str
    members: Members


def _parse_description(output: bytes) -> Optional[Description]:
    if not output.endswith(b"\n") or output.count(b"\n") != 1:
        return None
    try:
        value = json.loads(output.decode("utf-8"))
    except ValueError:
        return None
    if not isinstance(value, dict) or value.keys() != {"version", "window_system", "members"}:
        return None
    members = value["members"]
    if type(value["version"]) is not str or type(value["window_system"]) is not str:
        return None
    if not isinstance(members, dict) or members.keys() != _MEMBERS:
        return None
    if not all(type(available) in (bool, str) for available in members.values()):
        return None
    return Description(value["version"], value["window_system"], Members(**members))


def describe(path: Optional[str] = None, *, env: Optional[Mapping[str, str]] = None,
             timeout: float = DESCRIBE_TIMEOUT) -> Description:
    """Runs the collector with --describe: it makes the same choice of window
    system as a run, reads no input and ends by itself. Raises
    CollectorMissing, CollectorExited (a status other than 0, or killed after
    `timeout` seconds) or NotARecord (its output, in ``line``, is not a
    description; only its first 1 MiB is read)."""
    path = _executable(path)
    try:
        proc = subprocess.Popen([path, "--describe"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                                creationflags=_CREATION_FLAGS)
    except OSError as error:
        raise _missing(path, error) from error
    # Read up to the end, or past the longest a description can be; a
    # collector that has not ended after `timeout` is killed, which ends it.
    timer = threading.Timer(timeout, proc.kill)
    timer.start()
    with proc:
        try:
            output = cast(IO[bytes], proc.stdout).read(_LINE_LIMIT + 1)
            if len(output) > _LINE_LIMIT:
                proc.kill()
            proc.wait()
        finally:
            timer.cancel()
    if len(output) > _LINE_LIMIT:
        raise NotARecord(path, output[:_LINE_LIMIT], f"longer than {_LINE_LIMIT} bytes")
    if proc.returncode != 0:
        status, signal = _status_and_signal(proc.returncode)
        exited = CollectorExited(path, status, signal)
        how = f"was ended by {signal}" if signal else f"exited with status {status}"
        exited.args = (f"PalvernCollector ({path}) {how} when asked to describe",)
        raise exited
    description = _parse_description(output)
    if description is None:
        raise NotARecord(path, output, "that is not a description")
    return description
