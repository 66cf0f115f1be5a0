#!/usr/bin/env python3
"""Benchmark of the collector on a Wayland desktop.

Usage: bench/wayland/run_bench.py [BUILD-DIR]   (default: build-wayland)

Switches are driven through the scripted test compositor
(tests/wayland/test_compositor.c, built in BUILD-DIR), which says when it sent
each batch; the idle figures are taken under it and under headless sway (run
as in tests/wayland). Prints one table.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import process_figures  # noqa: E402
from process_figures import cpu_ns, rss_mb  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-wayland"))
os.environ.setdefault("PALVERN_TEST_COMPOSITOR", os.path.join(BUILD, "tests", "wayland", "wayland_test_compositor"))
os.environ.setdefault("PALVERN_TEST_TOPLEVEL", os.path.join(BUILD, "tests", "wayland", "wayland_test_toplevel"))
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
from wayland_e2e_test import Sway, TestCompositor  # noqa: E402

COLLECTOR = os.path.join(BUILD, "PalvernCollector")
SWITCHES = 10000


def start(env):
    return process_figures.start(COLLECTOR, env)[0]


def measure_switches(results):
    wl = TestCompositor()
    try:
        wl.new(1, "alpha.app", "Alpha")
        wl.new(2, "beta.app", "Beta")
        wl.send("activate", "1")
        proc = start(wl.env)
        latencies = []
        cpu_before = cpu_ns(proc.pid)
        for i in range(1, SWITCHES + 1):
            wl.proc.stdin.write(b"activate 2\n" if i % 2 else b"activate 1\n")
            wl.proc.stdin.flush()
            line = proc.stdout.readline()
            received = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
            assert b'"event":"focus"' in line, line
            assert wl.proc.stdout.readline() == b"ok\n"
            wl.proc.stdin.write(b"when\n")
            wl.proc.stdin.flush()
            sent = int(wl.proc.stdout.readline().split()[1])
            assert wl.proc.stdout.readline() == b"ok\n"
            latencies.append(received - sent)
            if i == 1000:
                results["rss_1000"] = rss_mb(proc.pid)
                results["cpu_focus"] = (cpu_ns(proc.pid) - cpu_before) / 1000 / 1e6
        results["rss_end"] = rss_mb(proc.pid)
        results["latency"] = statistics.median(latencies) / 1000
        results["latency_p99"] = sorted(latencies)[len(latencies) * 99 // 100] / 1000
        proc.stdin.close()
        proc.wait(timeout=10)
        results["idle_scripted"] = idle_figures(wl.env)
        with tempfile.TemporaryDirectory() as work:
            results["loop"] = sample_loop(wl.env, work)
    finally:
        wl.close()


def sample_loop(env, work, count=10000):
    """bench/x11/sample_loop.cpp (emitSample back to back, each sample in a
    callout of its own), linked from the build directory, on this compositor."""
    libraries = [os.path.join(BUILD, path) for path in (
        "libcollector_core.a", "platform/linux/libplatform_linux.a", "platform/linux/libplatform_linux_desktop.a",
        "libplatform_posix.a", "libplatform_text.a")]
    # The window systems' libraries are opened at run time: nothing more to link.
    binary, report = os.path.join(work, "sample_loop"), os.path.join(work, "report")
    subprocess.run(["c++", "-std=c++20", "-O2", "-I", ROOT, "-o", binary,
                    os.path.join(ROOT, "bench", "x11", "sample_loop.cpp"), *libraries, "-ldl", "-lpthread"],
                   check=True)
    subprocess.run([binary, str(count), report], env=env, check=True, stdout=subprocess.DEVNULL)
    with open(report) as figures:
        values = dict(zip(*[iter(figures.read().split())] * 2))
    return float(values["cpu_ms_1000"]) / 1000, int(values["rss_kb_1000"]) / 1024, int(values["rss_kb_end"]) / 1024


def idle_figures(env, seconds=30):
    return process_figures.idle_figures(COLLECTOR, env, seconds)


def measure_sway(results):
    sway = Sway()
    try:
        sway.focus(sway.foot("alpha.term", "Alpha"))
        results["idle_sway"] = idle_figures(sway.env)
    finally:
        sway.close()


def main():
    results = {}
    measure_switches(results)
    measure_sway(results)
    scripted_wakeups, scripted_cpu = results["idle_scripted"]
    sway_wakeups, sway_cpu = results["idle_sway"]
    loop_cpu, loop_rss_1000, loop_rss_end = results["loop"]
    rows = [
        ("CPU time per sample, 10,000 back to back (a)", "< 0.05 ms", f"{loop_cpu:.4f} ms"),
        ("Resident memory after 1,000 / 10,000 of those (a)", "flat",
         f"{loop_rss_1000:.2f} / {loop_rss_end:.2f} MB"),
        ("Batch sent to focus line, median (p99) of 10,000", "< 1 ms",
         f"{results['latency']:.3f} ms ({results['latency_p99']:.3f} ms)"),
        ("CPU time per focus record (1,000 switches)", "< 0.05 ms", f"{results['cpu_focus']:.3f} ms"),
        ("CPU time per refresh sample (6 in 30 s): scripted / sway", "< 0.05 ms",
         f"{scripted_cpu:.3f} / {sway_cpu:.3f} ms"),
        ("Resident memory after 1,000 / 10,000 focus samples", "flat",
         f"{results['rss_1000']:.2f} / {results['rss_end']:.2f} MB"),
        ("Wake-ups over 30 s idle: scripted / sway", "6 timer + 6 round trips",
         f"{scripted_wakeups} / {sway_wakeups}"),
    ]
    header = ("Measure", "Goal", "Collector")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(3)]
    line = lambda r: "| " + " | ".join(v.ljust(w) for v, w in zip(r, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))
    print("(a) bench/x11/sample_loop.cpp under the scripted compositor")
    print("Latency: from just before the compositor sends the batch to this script's read of the line.")
    print("Each refresh sends one wl_display_sync and takes its answer in the same wake-up;")
    print("under sway the idle notification (after 1 s without input) adds one.")


if __name__ == "__main__":
    main()
