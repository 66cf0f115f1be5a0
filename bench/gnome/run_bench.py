#!/usr/bin/python3
"""Benchmark of the collector on GNOME Shell under Wayland.

Usage: /usr/bin/python3 bench/gnome/run_bench.py [BUILD-DIR]   (default: build-tests)

Under headless gnome-shell with the extension (run as in tests/gnome):
activation to focus line, the collector's part of it (from the signal
waking it to the line, with perf trace when perf is there), and wake-ups
over 30 s without input. Under the scripted shell
(tests/gnome/stand_in_shell.py): 10,000 switches for the send-to-line time,
CPU time and memory. Prints one table.
"""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from process_figures import now_us  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-tests"))
os.environ.setdefault("PALVERN_TEST_COMPOSITOR", os.path.join(BUILD, "tests", "wayland", "wayland_test_compositor"))
sys.path.insert(0, os.path.join(ROOT, "bench", "wayland"))
sys.path.insert(0, os.path.join(ROOT, "tests", "gnome"))
from gnome_e2e_test import GnomeShell, StandIn  # noqa: E402
import run_bench as wayland_bench  # noqa: E402

wayland_bench.COLLECTOR = os.path.join(BUILD, "PalvernCollector")
from run_bench import cpu_ns, idle_figures, rss_mb, start  # noqa: E402

ACTIVATIONS = 500
SWITCHES = 10000


def percentile(values, share):
    return sorted(values)[len(values) * share // 100]


def trace_syscalls(pid, path):
    """perf trace of the collector's poll and write calls, into `path`."""
    proc = subprocess.Popen(["perf", "trace", "-p", str(pid), "-e", "poll,write", "-o", path],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2)  # attached by then
    return proc


SYSCALL = re.compile(r"^\s*([\d.]+) \(\s*([\d.]+) ms\): \S+/(\d+) (poll|write)\((.*)\)\s+= ")


def wake_to_write(path, main_thread):
    """For each line: from the return of the main thread's poll that woke
    it to the end of the line's write, in ms (the few refresh lines among the
    focus lines are timed alike)."""
    spans, woke = [], None
    with open(path) as trace:
        for line in trace:
            match = SYSCALL.match(line)
            if not match or int(match.group(3)) != main_thread:
                continue
            end = float(match.group(1)) + float(match.group(2))
            if match.group(4) == "poll":
                woke = end
            elif match.group(5).startswith("fd: 1,") and woke is not None:
                spans.append(end - woke)
                woke = None
    return spans


def measure_shell(results):
    shell = GnomeShell()
    try:
        alpha = shell.window("alpha.app", "Alpha")[1]
        beta = shell.window("beta.app", "Beta")[1]
        shell.activate(alpha)
        proc = start(shell.env)
        with tempfile.TemporaryDirectory() as work:
            tracer = trace_syscalls(proc.pid, os.path.join(work, "trace")) if shutil.which("perf") else None
            totals = []
            for i in range(ACTIVATIONS):
                window = beta if i % 2 == 0 else alpha
                activated = int(shell.eval(
                    "(() => { const w = global.display.list_all_windows()"
                    f".find(w => w.get_stable_sequence() == {window});"
                    " const t = GLib.get_monotonic_time(); Main.activateWindow(w); return t; })()"))
                line = proc.stdout.readline()
                while line.startswith(b'{"event":"refresh"'):  # a refresh between two switches
                    line = proc.stdout.readline()
                received = now_us()
                assert b'"event":"focus"' in line, line
                totals.append(received - activated)
            ours = []
            if tracer:
                tracer.send_signal(signal.SIGINT)
                tracer.wait(timeout=60)
                ours = wake_to_write(os.path.join(work, "trace"), proc.pid)
        results["shell_total"] = statistics.median(totals) / 1000, percentile(totals, 99) / 1000
        results["shell_ours"] = (statistics.median(ours), percentile(ours, 99), len(ours)) if ours else None
        proc.stdin.close()
        proc.wait(timeout=10)
        results["idle_shell"] = idle_figures(shell.env)
    finally:
        shell.close()


def measure_scripted(results):
    stand_in = StandIn()
    try:
        stand_in.focus(1, "Alpha", "alpha.app")
        proc = start(stand_in.env)
        latencies = []
        cpu_before = cpu_ns(proc.pid)
        for i in range(1, SWITCHES + 1):
            window = 2 if i % 2 else 1
            stand_in.focus(window, f"Window {window}", f"app{window}.app")
            line = proc.stdout.readline()
            received = now_us()
            assert b'"event":"focus"' in line, line
            stand_in.proc.stdin.write(b"when\n")
            stand_in.proc.stdin.flush()
            sent = int(stand_in.proc.stdout.readline().split()[1])
            assert stand_in.proc.stdout.readline() == b"ok\n"
            latencies.append(received - sent)
            if i == 1000:
                results["rss_1000"] = rss_mb(proc.pid)
                results["cpu_focus"] = (cpu_ns(proc.pid) - cpu_before) / 1000 / 1e6
        results["rss_end"] = rss_mb(proc.pid)
        results["scripted"] = statistics.median(latencies) / 1000, percentile(latencies, 99) / 1000
        proc.stdin.close()
        proc.wait(timeout=10)
        results["idle_scripted"] = idle_figures(stand_in.env)
    finally:
        stand_in.close()


def main():
    results = {}
    measure_shell(results)
    measure_scripted(results)
    ms = lambda pair: f"{pair[0]:.3f} ms ({pair[1]:.3f} ms)"  # noqa: E731
    rows = [
        (f"Activation to focus line, median (p99) of {ACTIVATIONS}", "-", ms(results["shell_total"])),
        ("  of which the collector's: woken by the signal to the line written (a)", "< 0.2 ms",
         ms(results["shell_ours"]) + f" of {results['shell_ours'][2]}" if results["shell_ours"] else "no perf"),
        (f"Signal sent to focus line, scripted, median (p99) of {SWITCHES} (b)", "-", ms(results["scripted"])),
        ("CPU time per focus record (1,000 switches)", "< 0.05 ms", f"{results['cpu_focus']:.3f} ms"),
        ("CPU time per refresh sample (6 in 30 s): shell / scripted", "< 0.05 ms",
         f"{results['idle_shell'][1]:.3f} / {results['idle_scripted'][1]:.3f} ms"),
        (f"Resident memory after 1,000 / {SWITCHES:,} focus samples", "flat",
         f"{results['rss_1000']:.2f} / {results['rss_end']:.2f} MB"),
        ("Wake-ups over 30 s idle: shell / scripted", "6 (the timer's)",
         f"{results['idle_shell'][0]} / {results['idle_scripted'][0]}"),
    ]
    header = ("Measure", "Goal", "Collector")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(3)]
    line = lambda r: "| " + " | ".join(v.ljust(w) for v, w in zip(r, widths)) + " |"  # noqa: E731
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))
    print("Activation: from the shell's clock just before Main.activateWindow (through Eval) to this")
    print("script's read of the line. (a) perf trace of the collector's main thread: the return of")
    print("the poll that the signal ended to the return of the line's write. (b) from the stand-in's")
    print("clock just before it sends the signal to this script's read: both bus hops included.")


if __name__ == "__main__":
    main()
