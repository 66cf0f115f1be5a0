#!/usr/bin/env python3
"""Benchmark of the collector on an X11 desktop, under Xvfb and openbox.

Usage: bench/x11/run_bench.py [COLLECTOR]   (default: build-x11/PalvernCollector)

Prints one table: the collector beside a shell loop of the tools people
script today (xdotool getactivewindow getwindowname, xdotool getactivewindow
getwindowpid and xprintidle), measured in the same run. Needs Xvfb, openbox,
xterm, xdotool, xprintidle, strace, a C compiler and libxcb's headers.
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from process_figures import context_switches, cpu_ns  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "x11"))
from x11_e2e_test import XSession  # noqa: E402  (Xvfb and openbox on a free display)

COLLECTOR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-x11", "PalvernCollector"))
SHELL_SAMPLE = "xdotool getactivewindow getwindowname; xdotool getactivewindow getwindowpid; xprintidle"


def build_switcher(directory):
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "xcb"], check=True, capture_output=True,
                           text=True).stdout.split()
    binary = os.path.join(directory, "switcher")
    subprocess.run(["cc", "-O2", "-o", binary, os.path.join(HERE, "switcher.c"), *flags], check=True)
    return binary


def build_sample_loop(directory):
    """The sampling path alone, linked from the collector's build directory."""
    build = os.path.dirname(COLLECTOR)
    libraries = [os.path.join(build, path) for path in (
        "libcollector_core.a", "platform/linux/libplatform_linux.a", "platform/linux/libplatform_linux_desktop.a",
        "libplatform_posix.a", "libplatform_text.a")]
    # The window systems' libraries are opened at run time: nothing more to link.
    binary = os.path.join(directory, "sample_loop")
    subprocess.run(["c++", "-std=c++20", "-O2", "-I", ROOT, "-o", binary, os.path.join(HERE, "sample_loop.cpp"),
                    *libraries, "-ldl", "-lpthread"], check=True)
    return binary


def values(output, key):
    return [float(v) for v in re.findall(rf"^{key} (\S+)$", output, re.M)]


def x_writes(trace_file, after_first_record=False):
    """Request batches sent to the X server (writev/sendmsg) and records
    written (write on descriptor 1) in an strace log; with
    `after_first_record`, only those after the first record (the connection's
    set-up and the start sample left out)."""
    batches = records = 0
    with open(trace_file) as trace:
        for line in trace:
            if re.search(r"\bwrite\(1,", line):
                records += 1
            elif re.search(r"\b(writev|sendmsg)\(", line) and (records or not after_first_record):
                batches += 1
    return batches, records - (1 if after_first_record else 0)


def measure_collector(x, switcher, windows, work):
    results = {}
    run = lambda *args: subprocess.run([switcher, *args], env=x.env, check=True, capture_output=True,
                                       text=True, timeout=600).stdout
    a, b = (str(w) for w in windows)

    x.activate(windows[0])
    out = run("switch", "10000", a, b, "--", COLLECTOR)
    latencies = values(out, "latency_us")
    results["latency"] = statistics.median(latencies[:50]) / 1000
    results["missed"] = len(re.findall(r"^missed", out, re.M))
    results["cpu"] = values(out, "cpu_ns_1000")[0] / values(out, "switches_1000")[0] / 1e6
    results["rss_1000"] = values(out, "rss_kb_1000")[0] / 1024
    results["rss"] = values(out, "rss_kb_end")[0] / 1024

    # Round trips: request batches the collector sends, per focus record.
    trace = os.path.join(work, "switch.trace")
    x.activate(windows[0])
    run("switch", "200", a, b, "--", "strace", "-f", "-qq", "-e", "trace=writev,sendmsg,write", "-o", trace, COLLECTOR)
    batches, records = x_writes(trace)
    results["rt_focus"] = batches / max(records, 1)

    report = os.path.join(work, "sample_loop.report")
    subprocess.run([build_sample_loop(work), "1000", report], env=x.env, check=True, stdout=subprocess.DEVNULL)
    with open(report) as figures:
        loop = figures.read()
    results["cpu_loop"] = values(loop, "cpu_ms_1000")[0] / 1000

    out = run("start", "20", "--", COLLECTOR)
    results["first_line"] = statistics.median(values(out, "first_line_us")) / 1000

    # Idle: context switches of every thread over 30 s, and the round trips
    # of the refresh samples made meanwhile.
    proc = subprocess.Popen([COLLECTOR], env=x.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    proc.stdout.readline()
    before, cpu_before = context_switches(proc.pid), cpu_ns(proc.pid)
    time.sleep(30)
    results["wakeups"] = context_switches(proc.pid) - before
    results["cpu_refresh"] = (cpu_ns(proc.pid) - cpu_before) / 6 / 1e6
    proc.stdin.close()
    proc.wait()
    trace = os.path.join(work, "idle.trace")
    proc = subprocess.Popen(["strace", "-f", "-qq", "-e", "trace=writev,sendmsg,write", "-o", trace, COLLECTOR],
                            env=x.env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    time.sleep(10.5)
    proc.stdin.close()
    proc.wait()
    batches, records = x_writes(trace, after_first_record=True)
    results["rt_refresh"] = batches / max(records, 1)
    return results


def measure_shell_loop(x, work, samples=100):
    results = {}
    shell = ["sh", "-c", f"for i in $(seq {samples}); do {SHELL_SAMPLE}; done"]
    before, start = os.times(), time.monotonic()
    subprocess.run(shell, env=x.env, check=True, capture_output=True)
    wall, after = time.monotonic() - start, os.times()
    cpu = (after.children_user + after.children_system) - (before.children_user + before.children_system)
    results["cpu"] = cpu / samples * 1000
    results["wall"] = wall / samples * 1000
    # The largest resident size among the sample's three processes.
    rss = subprocess.run(["/usr/bin/time", "-f", "%M", "sh", "-c", SHELL_SAMPLE], env=x.env, check=True,
                         capture_output=True, text=True).stderr.split()[-1]
    results["rss"] = int(rss) / 1024

    firsts = []
    for _ in range(20):
        start = time.monotonic()
        proc = subprocess.Popen(["sh", "-c", SHELL_SAMPLE], env=x.env, stdout=subprocess.PIPE)
        proc.stdout.readline()
        firsts.append(time.monotonic() - start)
        proc.communicate()
    results["first_line"] = statistics.median(firsts) * 1000

    trace = os.path.join(work, "shell.trace")
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=writev,sendmsg", "-o", trace,
                    "sh", "-c", f"for i in $(seq 10); do {SHELL_SAMPLE}; done"],
                   env=x.env, check=True, capture_output=True)
    batches, _ = x_writes(trace)
    results["rt"] = batches / 10
    return results


def main():
    x = XSession()
    try:
        with tempfile.TemporaryDirectory() as work:
            switcher = build_switcher(work)
            windows = [x.xterm("Alpha window", "AlphaTerm"), x.xterm("Beta window", "BetaTerm")]
            c = measure_collector(x, switcher, windows, work)
            s = measure_shell_loop(x, work)
    finally:
        x.close()

    rows = [
        ("Activation to focus line (median of 50)", "< 1 ms", f"{c['latency']:.3f} ms",
         f"polls: one pass takes {s['wall']:.1f} ms"),
        ("CPU time per sample, 1,000 back to back (b)", "< 0.05 ms", f"{c['cpu_loop']:.3f} ms",
         f"{s['cpu']:.2f} ms"),
        ("CPU time per focus record (1,000 switches)", "< 0.05 ms", f"{c['cpu']:.3f} ms", "as above"),
        ("CPU time per refresh sample (6 in 30 s)", "< 0.05 ms", f"{c['cpu_refresh']:.3f} ms", "as above"),
        ("Round trips per focus record (a)", "<= 2", f"{c['rt_focus']:.2f}", f"{s['rt']:.0f} (request batches)"),
        ("Round trips per refresh sample", "<= 2", f"{c['rt_refresh']:.2f}", "same as above"),
        ("Resident memory after 1,000 / 10,000 samples", "< 4 MB, flat",
         f"{c['rss_1000']:.2f} / {c['rss']:.2f} MB", f"{s['rss']:.2f} MB (largest tool)"),
        ("Start to first line (median of 20)", "< 5 ms", f"{c['first_line']:.2f} ms", f"{s['first_line']:.1f} ms"),
        ("Wake-ups over 30 s idle (context switches)", "6 + round trips", f"{c['wakeups']}",
         "3 processes per pass"),
    ]
    widths = [max(len(r[i]) for r in rows + [("Measure", "Goal", "Collector", "Shell loop")]) for i in range(4)]
    line = lambda r: "| " + " | ".join(v.ljust(w) for v, w in zip(r, widths)) + " |"
    print(line(("Measure", "Goal", "Collector", "Shell loop")))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))
    print("(a) the sample's 2, plus 1 for each None that openbox writes between two windows and that")
    print("    arrives apart from the new window's id (ignored after one read of _NET_ACTIVE_WINDOW)")
    print("(b) emitSample in a loop, each sample in a callout of its own (bench/x11/sample_loop.cpp)")
    if c["missed"]:
        print(f"({c['missed']} of 10,000 switches gave no focus line within 2 s)")


if __name__ == "__main__":
    main()
