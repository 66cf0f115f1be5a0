"""What the benchmark scripts read of the collector's process in /proc."""

import os
import time


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
