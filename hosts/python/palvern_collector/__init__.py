"""Starts PalvernCollector as a child process and hands its records to the host
as frozen dataclasses.

    with Collector("/usr/bin/PalvernCollector") as collector:
        for record in collector:
            ...

``AsyncCollector`` is the same for asyncio (``async with``, ``async for``).
What can go wrong is a ``CollectorError``: ``CollectorMissing`` (the executable
could not be started), ``CollectorExited`` (it ended before ``stop()``) and
``NotARecord`` (it wrote a line that is not a record; reading can go on).
"""

from __future__ import annotations

import asyncio
import json
import signal as _signal
import subprocess
import sys
import threading
from dataclasses import dataclass, fields
from typing import IO, Any, Literal, Mapping, Optional, Union, cast

__all__ = [
    "AccessibilityError", "AsyncCollector", "Collector", "CollectorError", "CollectorExited",
    "CollectorMissing", "NotARecord", "Record", "Sample", "SampleEvent", "parse_record",
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
# The collector ends within half a second of its input ending; one that has
# not after this long is hung and is killed.
STOP_TIMEOUT = 2.0
_SHOWN_LINE_LENGTH = 200
_READ_SIZE = 65536


class CollectorError(Exception):
    """Something went wrong with the collector at ``path``."""

    def __init__(self, message: str, path: str) -> None:
        super().__init__(message)
        self.path = path


class CollectorMissing(CollectorError):
    """The executable could not be started (no such file, not executable); the
    ``OSError`` is the ``__cause__``."""


class CollectorExited(CollectorError):
    """The collector ended before ``stop()``: ``status`` is its exit status, or
    None when a signal (``signal``, such as ``"SIGKILL"``) ended it."""

    def __init__(self, path: str, status: Optional[int], signal: Optional[str]) -> None:
        how = f"was ended by {signal}" if signal else f"exited with status {status}"
        super().__init__(f"PalvernCollector ({path}) {how} before stop()", path)
        self.status = status
        self.signal = signal


class NotARecord(CollectorError):
    """The collector wrote ``line`` (bytes, with its line feed if it had one),
    which is not a record."""

    def __init__(self, path: str, line: bytes) -> None:
        shown = repr(line[:_SHOWN_LINE_LENGTH]) + ("…" if len(line) > _SHOWN_LINE_LENGTH else "")
        super().__init__(f"PalvernCollector ({path}) wrote a line that is not a record: {shown}", path)
        self.line = line


def parse_record(line: bytes) -> Optional[Record]:
    """The record in one line (its line feed optional), or None when it holds none."""
    try:
        value = json.loads(line.removesuffix(b"\n").decode("utf-8"))
    except ValueError:  # not UTF-8, not JSON, or an integer too long to convert
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


def _record(path: str, line: bytes) -> Record:
    record = parse_record(line) if line.endswith(b"\n") else None  # else cut off by an exit
    if record is None:
        raise NotARecord(path, line)
    return record


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

    def __init__(self, path: str = _EXECUTABLE, *,
                 env: Optional[Mapping[str, str]] = None,
                 stop_timeout: float = STOP_TIMEOUT) -> None:
        self.path = path
        self.status: Optional[int] = None
        self.signal: Optional[str] = None
        self._stop_timeout = stop_timeout
        self._ended = False
        self._ending = threading.Lock()  # a stop() meanwhile waits for the status
        try:
            self._proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL, env=env,
                                          creationflags=_CREATION_FLAGS)
        except OSError as error:
            raise _missing(path, error) from error
        self._stdin = cast(IO[bytes], self._proc.stdin)
        self._stdout = cast(IO[bytes], self._proc.stdout)

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
        try:
            line = self._stdout.readline()
        except ValueError:  # stop() closed the pipe meanwhile
            raise StopIteration from None
        if line:
            return _record(self.path, line)
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
    c.stop()``. The same records and errors as Collector."""

    def __init__(self, path: str = _EXECUTABLE, *,
                 env: Optional[Mapping[str, str]] = None,
                 stop_timeout: float = STOP_TIMEOUT) -> None:
        self.path = path
        self.status: Optional[int] = None
        self.signal: Optional[str] = None
        self._env = env
        self._stop_timeout = stop_timeout
        self._proc: Optional[asyncio.subprocess.Process] = None
        self._buffer = bytearray()
        self._ended = False

    async def start(self) -> AsyncCollector:
        """Starts the collector; raises CollectorMissing when it cannot be."""
        try:
            self._proc = await asyncio.create_subprocess_exec(
                self.path, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, env=self._env, creationflags=_CREATION_FLAGS)
        except OSError as error:
            raise _missing(self.path, error) from error
        return self

    @property
    def pid(self) -> int:
        assert self._proc is not None, "start() first"
        return self._proc.pid

    async def __aenter__(self) -> AsyncCollector:
        return await self.start()

    async def __aexit__(self, *exc_info: Any) -> None:
        await self.stop()

    def __aiter__(self) -> AsyncCollector:
        return self

    async def __anext__(self) -> Record:
        assert self._proc is not None, "start() first"
        if self._ended:
            raise StopAsyncIteration
        line = await self._read_line()
        if line:
            return _record(self.path, line)
        if self._ended:
            raise StopAsyncIteration
        await self._end()
        raise CollectorExited(self.path, self.status, self.signal)

    async def stop(self) -> Optional[int]:
        """As Collector.stop()."""
        if self._proc is not None and not self._ended:
            await self._end()
        return self.status

    async def _read_line(self) -> bytes:
        """The next line with its line feed; at the end, what is left (b"" for nothing)."""
        assert self._proc is not None and self._proc.stdout is not None
        searched = 0
        while True:
            end = self._buffer.find(b"\n", searched)
            if end >= 0:
                line = bytes(self._buffer[:end + 1])
                del self._buffer[:end + 1]
                return line
            searched = len(self._buffer)
            chunk = await self._proc.stdout.read(_READ_SIZE)
            if not chunk:
                line = bytes(self._buffer)
                self._buffer.clear()
                return line
            self._buffer += chunk

    async def _end(self) -> None:
        assert self._proc is not None and self._proc.stdin is not None
        self._ended = True
        self._proc.stdin.close()
        try:
            returncode = await asyncio.wait_for(self._proc.wait(), self._stop_timeout)
        except asyncio.TimeoutError:
            self._proc.kill()
            returncode = await self._proc.wait()
        self.status, self.signal = _status_and_signal(returncode)
