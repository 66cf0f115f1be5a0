#!/usr/bin/python3
"""Benchmark of the Windows collector under Wine 10.

Usage: /usr/bin/python3 bench/windows/run_bench.py [BUILD-DIR]   (default: build-tests)
(as root: Wine runs in the Debian 13 root, as in tests/windows)

On a Windows desktop of its own (tests/windows/wine_desktop.py) with two test
windows of two processes:
- activation to "focus" line: xdotool asked to activate the other window
  (the command started from this process, inside the root) to the line,
  over 1000 switches; the same kind of xdotool command's own run time, which
  the figure includes; and the switches that gave no line;
- the main thread's CPU time per focus record over those switches, and per
  refresh record over 30 s idle;
- wake-ups over another 30 s idle: the waits of any thread of the
  collector's process that ended (strace); and the context switches of all
  its threads over the first 30 s, most of them the round trips to Wine's
  server that each sample makes;
- resident memory of the collector's process (Wine's own libraries
  included) after start and after the switches;
- end of input to exit;
- the size of PalvernCollector.exe as built (Release) and stripped.
Prints one table.
"""

import os
import queue
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-tests"))
os.environ.setdefault("PALVERN_WINDOWS_BUILD", os.path.join(BUILD, "tests", "windows", "build"))
os.environ.setdefault("PALVERN_WINE_PREFIX", os.path.join(BUILD, "tests", "windows", "wine-prefix"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
sys.path.insert(0, os.path.join(ROOT, "tests", "windows"))
from process_figures import context_switches, cpu_ns, rss_mb  # noqa: E402
from wine_desktop import WineDesktop  # noqa: E402

SWITCHES = 1000
IDLE_SECONDS = 30


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p))]


def switches(desktop, collector, windows):
    """Activation to line, in ms, for each switch between the two windows, and
    how many switches gave no focus line within 10 s (the window manager had
    made the window active: xdotool waits for that)."""
    latencies = []
    missed = 0
    for i in range(SWITCHES):
        x = windows[i % 2]
        started = time.monotonic()
        desktop.xdotool("windowactivate", "--sync", str(x))
        try:
            while True:
                record, arrived = collector.next_timed(timeout=max(0.01, started + 10 - time.monotonic()))
                if record["event"] == "focus":
                    latencies.append((arrived - started) * 1000)
                    break
        except queue.Empty:
            missed += 1
    return latencies, missed


def command_time(desktop):
    """An xdotool command's run time through the root, in ms, median of 20."""
    runs = []
    for _ in range(20):
        started = time.monotonic()
        desktop.xdotool("getactivewindow")
        runs.append((time.monotonic() - started) * 1000)
    return statistics.median(runs)


def ended_waits(pid, seconds):
    """The waits (system calls of 0.1 s or more) of any thread of `pid` that
    ended within `seconds`: each end is a wake-up."""
    with tempfile.TemporaryDirectory() as scratch:
        trace = os.path.join(scratch, "trace")
        subprocess.run(["timeout", str(seconds), "strace", "-f", "-T", "-p", str(pid), "-o", trace],
                       capture_output=True)
        with open(trace) as lines:
            return sum(1 for line in lines
                       if (m := re.search(r"<(\d+\.\d+)>$", line.strip())) and float(m.group(1)) >= 0.1)


def exe_sizes():
    exe = os.path.join(os.environ["PALVERN_WINDOWS_BUILD"], "PalvernCollector.exe")
    with tempfile.TemporaryDirectory() as scratch:
        stripped = os.path.join(scratch, "PalvernCollector.exe")
        subprocess.run(["x86_64-w64-mingw32-strip", "-o", stripped, exe], check=True)
        return os.path.getsize(exe), os.path.getsize(stripped)


def main():
    desktop = WineDesktop()
    try:
        alpha = desktop.test_window("Alpha")
        beta = desktop.test_window("Beta")
        desktop.activate(alpha.x(0))
        collector = desktop.collector()
        start, _ = collector.next_timed()
        assert start["event"] == "start", start
        pid = collector.proc.pid
        rss_start = rss_mb(pid)
        baseline = command_time(desktop)

        cpu_before = cpu_ns(pid)
        latencies, missed = switches(desktop, collector, [beta.x(0), alpha.x(0)])
        cpu_focus = (cpu_ns(pid) - cpu_before) / len(latencies) / 1e6
        rss_after = rss_mb(pid)

        # Idle: only the timer's refreshes, counted from the first of them.
        collector.next_event("refresh")
        before, cpu_before = context_switches(pid), cpu_ns(pid)
        time.sleep(IDLE_SECONDS)
        switches_idle = context_switches(pid) - before
        cpu_refresh = (cpu_ns(pid) - cpu_before) / (IDLE_SECONDS / 5) / 1e6
        wakeups = ended_waits(pid, IDLE_SECONDS)

        status, stderr, took = collector.finish()
        assert (status, stderr) == (0, b""), (status, stderr)
    finally:
        desktop.close()
    built, stripped = exe_sizes()

    rows = [
        ("activation to focus line, median (ms)", f"{statistics.median(latencies):.1f}"),
        ("activation to focus line, p90 / p99 (ms)",
         f"{percentile(latencies, 0.9):.1f} / {percentile(latencies, 0.99):.1f}"),
        ("  of which the xdotool command's own run, median (ms)", f"{baseline:.1f}"),
        (f"switches without a focus line within 10 s, of {SWITCHES}", f"{missed}"),
        ("main thread CPU per focus record (ms)", f"{cpu_focus:.2f}"),
        ("main thread CPU per refresh record (ms)", f"{cpu_refresh:.2f}"),
        (f"wake-ups in {IDLE_SECONDS} s idle, every thread", f"{wakeups}"),
        (f"context switches in {IDLE_SECONDS} s idle, every thread", f"{switches_idle}"),
        ("resident memory after start / after the switches (MB)", f"{rss_start:.1f} / {rss_after:.1f}"),
        ("end of input to exit (ms)", f"{took * 1000:.1f}"),
        ("PalvernCollector.exe as built / stripped (KiB)", f"{built / 1024:.0f} / {stripped / 1024:.0f}"),
    ]
    width = max(len(name) for name, _ in rows)
    for name, value in rows:
        print(f"{name.ljust(width)}  {value}")


if __name__ == "__main__":
    main()
