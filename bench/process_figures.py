"""What the benchmark scripts share: the collector started under a desktop,
and what they read of its process in /proc."""

import os
import subprocess
import time


def start(collector, env):
    """The collector running in `env`, its first line read; the process and
    that line."""
    proc = subprocess.Popen([collector], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    return proc, proc.stdout.readline()


def idle_figures(collector, env, seconds=30, settle=0.0):
    """Context switches of every thread over `seconds` idle, and the main
    thread's CPU time per refresh sample meanwhile; counted from `settle`
    seconds after the first line."""
    proc, _ = start(collector, env)
    time.sleep(settle)
    before, cpu_before = context_switches(proc.pid), cpu_ns(proc.pid)
    time.sleep(seconds)
    wakeups = context_switches(proc.pid) - before
    cpu = (cpu_ns(proc.pid) - cpu_before) / (seconds / 5) / 1e6
    proc.stdin.close()
    proc.wait(timeout=10)
    return wakeups, cpu


def context_switches(pid):
    """Voluntary and involuntary context switches of every thread."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as status:
            for line in status:
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    total += int(line.split()[1])
    return total


def cpu_ns(pid):
    """CPU time of the main thread, which makes the samples."""
    with open(f"/proc/{pid}/schedstat") as schedstat:
        return int(schedstat.read().split()[0])


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def now_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
