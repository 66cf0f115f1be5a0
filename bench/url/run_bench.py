#!/usr/bin/env python3
"""Benchmark of the tab URL lookup on an X11 desktop with the accessibility bus.

Usage: bench/url/run_bench.py [COLLECTOR] [SAMPLES]
       (default: build-url/PalvernCollector, 500)

Starts the session the URL tests use (Xvfb, openbox, a private session bus,
the accessibility bus switched on, Firefox ESR and Chromium on local pages),
then, with each browser and with a terminal in front, runs url_loop (built
here against the collector's build directory) and prints one table: the CPU
time per sample, the median wall time of a sample and of the URL lookup in
it, the URL's share of the sample, and the D-Bus calls per lookup with the
process cache warm.
"""

import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COLLECTOR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-url", "PalvernCollector"))
SAMPLES = int(sys.argv[2]) if len(sys.argv) > 2 else 500
os.environ["PALVERN_COLLECTOR"] = COLLECTOR  # the tests' Collector reads it at import
sys.path.insert(0, os.path.join(ROOT, "tests", "url"))
from url_e2e_test import DesktopSession, UrlTest  # noqa: E402


def build_loop(directory):
    build = os.path.dirname(COLLECTOR)
    libraries = [os.path.join(build, path) for path in (
        "libcollector_core.a", "platform/linux/libplatform_linux.a", "platform/linux/libplatform_linux_desktop.a",
        "libplatform_posix.a", "libplatform_text.a")]
    flags = subprocess.run(["pkg-config", "--libs", "xcb", "xcb-screensaver", "xcb-xinput", "xcb-res", "libsystemd",
                            "wayland-client"],
                           check=True, capture_output=True, text=True).stdout.split()
    binary = os.path.join(directory, "url_loop")
    subprocess.run(["c++", "-std=c++20", "-O2", "-I", ROOT, "-o", binary, os.path.join(HERE, "url_loop.cpp"),
                    *libraries, *flags, "-lpthread"], check=True)
    return binary


def measure(session, loop, window, keys=()):
    session.x.activate(window)
    for key in keys:
        session.x.xdotool("key", key)
        time.sleep(1)
    figures = loop + ".txt"
    # Standard input stays open while it runs: its end would cut the
    # display's opening short.
    proc = subprocess.Popen([loop, str(SAMPLES), figures], env=session.env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL)
    try:
        assert proc.wait(timeout=600) == 0
    finally:
        proc.stdin.close()
    with open(figures) as f:
        figures = dict(re.findall(r"^(\S+) (.*)$", f.read(), re.M))
    figures["title"] = session.window_name(window)
    return figures


def main():
    with tempfile.TemporaryDirectory() as directory:
        loop = build_loop(directory)
        session = DesktopSession(accessibility=True)
        try:
            UrlTest.s = session
            term = session.x.xterm("A terminal", "PlainTerm", env=session.env)
            windows = [("firefox-esr", session.firefox()), ("chromium", session.chromium())]
            for _, window in windows:
                UrlTest.wait_for_published_url(window)
            rows = [(name, measure(session, loop, window)) for name, window in windows + [("xterm", term)]]
            # A Chromium window is marked active once focus has moved inside it
            # (here: a tab opened and closed), as it soon does in use.
            rows.append(("chromium, marked", measure(session, loop, windows[1][1], ["ctrl+t", "ctrl+w"])))
        finally:
            session.close()
    print(f"{SAMPLES} samples each, median wall times")
    print(f"{'front':<17} {'cpu ms/sample':>14} {'sample us':>10} {'url us':>8} {'url share':>10} {'calls/url':>10}  url")
    for name, r in rows:
        sample, url = float(r["sample_us_median"]), float(r["url_us_median"])
        print(f"{name:<17} {float(r['cpu_ms_per_sample']):>14.4f} {sample:>10.1f} {url:>8.1f} "
              f"{url / sample if sample else 0:>10.0%} {float(r['dbus_calls_per_url']):>10.2f}  {r['url']} ({r['title']})")


if __name__ == "__main__":
    main()
