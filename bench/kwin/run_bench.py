#!/usr/bin/python3
"""Benchmark of the collector on KWin (KDE Plasma on Wayland).

Usage: /usr/bin/python3 bench/kwin/run_bench.py [BUILD-DIR]   (default: build-tests)
(a Python with the GTK 3 and GObject bindings: python3-gi, gir1.2-gtk-3.0)

Under a private KWin started as in tests/kwin:
- activation to "focus" line: the window runner asked to activate one of two
  GTK windows (the call sent from this process, through Gio), to the line;
- wake-ups of every thread of the collector over 30 s idle, and the main
  thread's CPU time per refresh sample meanwhile.
Under a stand-in KWin (this process owns org.kde.KWin on a private bus and
answers the scripting calls), which calls the collector's object itself as
the script would:
- the call sent to the line, median and p99 of 10,000 switches between two
  applications; the same for a round trip through the bus to a peer of this
  process's own, to tell the bus's part from ours;
- the main thread's CPU time per focus record, and resident memory after
  1,000 and 10,000 switches.
Prints one table.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import process_figures  # noqa: E402
from process_figures import cpu_ns, rss_mb, now_us  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-tests"))
os.environ.setdefault("PALVERN_TEST_ACTIVITY", os.path.join(BUILD, "tests", "kwin", "kwin_test_activity"))
os.environ.setdefault("PALVERN_TEST_WINDOW", os.path.join(BUILD, "tests", "x11", "x11_test_window"))
sys.path.insert(0, os.path.join(ROOT, "tests", "kwin"))
sys.path.insert(0, os.path.join(ROOT, "bench", "wayland"))

import gi  # noqa: E402

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

from kwin_e2e_test import KWin  # noqa: E402

COLLECTOR = os.path.join(BUILD, "PalvernCollector")
SWITCHES = 10000
PATH, IFACE = "/dev/palvern/Collector/KWin", "dev.palvern.Collector.KWin"


def start(env):
    proc, first = process_figures.start(COLLECTOR, env)
    assert first.startswith(b'{"event":"start"'), first
    return proc


def idle_figures(env, seconds=30):
    # from the idle notification's first event on, one second in
    return process_figures.idle_figures(COLLECTOR, env, seconds, settle=1.5)


def measure_kwin(results):
    kwin = KWin()
    try:
        kwin.gtk("alpha.app", "Alpha")
        kwin.gtk("beta.app", "Beta")
        kwin.activate("Alpha")
        results["idle"] = idle_figures(kwin.env)
        ids = kwin.windows()
        bus = Gio.DBusConnection.new_for_address_sync(
            kwin.address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        proc = start(kwin.env)
        latencies = []
        for i in range(200):
            target = ids["Beta" if i % 2 == 0 else "Alpha"]
            sent = now_us()
            bus.call_sync("org.kde.KWin", "/WindowsRunner", "org.kde.krunner1", "Run",
                          GLib.Variant("(ss)", (target, "")), None, Gio.DBusCallFlags.NONE, -1, None)
            line = proc.stdout.readline()
            latencies.append(now_us() - sent)
            assert b'"event":"focus"' in line, line
        results["activation"] = statistics.median(latencies) / 1000
        results["activation_p99"] = sorted(latencies)[len(latencies) * 99 // 100] / 1000
        begun = time.monotonic()
        proc.stdin.close()
        proc.wait(timeout=10)
        results["exit"] = (time.monotonic() - begun) * 1000
        # The end of input while KWin does not answer: the script's unloading
        # waits at most its budget.
        proc = start(kwin.env)
        kwin.stop()
        begun = time.monotonic()
        proc.stdin.close()
        proc.wait(timeout=10)
        results["exit_hung"] = (time.monotonic() - begun) * 1000
        kwin.cont()
    finally:
        kwin.close()


class StandIn:
    """org.kde.KWin on a private bus, owned by this process: answers the
    scripting calls and, once the collector has run its script, calls the
    collector's object as the script would."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="palvern-kwin-bench-")
        self.runtime = os.path.join(self.dir, "run")
        os.mkdir(self.runtime, 0o700)
        path = os.path.join(self.dir, "bus")
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        f"--address=unix:path={path}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while not os.path.exists(path):
            time.sleep(0.01)
        self.address = f"unix:path={path}"
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.bus = Gio.DBusConnection.new_for_address_sync(self.address, flags, None, None)
        self.peer = Gio.DBusConnection.new_for_address_sync(self.address, flags, None, None)
        self.destination = None
        self.ran = threading.Event()
        info = Gio.DBusNodeInfo.new_for_xml("""<node>
<interface name="org.kde.kwin.Scripting">
  <method name="loadScript"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="i" direction="out"/></method>
  <method name="unloadScript"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
  <method name="isScriptLoaded"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
</interface>
<interface name="org.kde.kwin.Script"><method name="run"/></interface>
<interface name="bench.Echo"><method name="Echo"/></interface>
</node>""")
        self.bus.register_object("/Scripting", info.interfaces[0], self.scripting, None, None)
        self.bus.register_object("/0", info.interfaces[1], self.script, None, None)
        self.peer.register_object("/echo", info.interfaces[2], self.echo, None, None)
        self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "RequestName", GLib.Variant("(su)", ("org.kde.KWin", 4)), None,
                           Gio.DBusCallFlags.NONE, -1, None)
        self.loop = GLib.MainLoop()
        self.thread = threading.Thread(target=self.loop.run, daemon=True)
        self.thread.start()
        self.env = {"PATH": os.environ["PATH"], "HOME": self.dir, "XDG_RUNTIME_DIR": self.runtime,
                    "DBUS_SESSION_BUS_ADDRESS": self.address, "WAYLAND_DISPLAY": "wayland-bench"}

    def scripting(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "loadScript":
            with open(parameters[0]) as script:
                text = script.read()
            self.destination = text.split('const destination = "', 1)[1].split('"', 1)[0]
            invocation.return_value(GLib.Variant("(i)", (0,)))
        else:
            invocation.return_value(GLib.Variant("(b)", (method == "isScriptLoaded",)))

    def script(self, connection, sender, path, interface, method, parameters, invocation):
        invocation.return_value(None)
        self.report("start.app", 1, "Start")

    def echo(self, connection, sender, path, interface, method, parameters, invocation):
        invocation.return_value(None)

    def report(self, app, pid, caption):
        self.sent = now_us()
        self.bus.call(self.destination, PATH, IFACE, "Active",
                      GLib.Variant("(ssssi)", (caption, app, app, f"window-{pid}", pid)),
                      None, Gio.DBusCallFlags.NO_AUTO_START, -1, None, None, None)

    def round_trip(self):
        sent = now_us()
        self.bus.call_sync(self.peer.get_unique_name(), "/echo", "bench.Echo", "Echo", None, None,
                           Gio.DBusCallFlags.NONE, -1, None)
        return now_us() - sent

    def close(self):
        self.loop.quit()
        self.daemon.terminate()
        self.daemon.wait()
        subprocess.run(["rm", "-rf", self.dir])


def compositor(runtime):
    """A Wayland compositor for the idle connection: the scripted one of
    tests/wayland, without the toplevel manager."""
    path = os.path.join(BUILD, "tests", "wayland", "wayland_test_compositor")
    proc = subprocess.Popen([path, "--bare", "wayland-bench"], env={"XDG_RUNTIME_DIR": runtime},
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert proc.stdout.readline() == b"ready\n"
    return proc


def measure_stand_in(results):
    kwin = StandIn()
    wl = compositor(kwin.runtime)
    try:
        proc = start(kwin.env)
        latencies, trips = [], []
        cpu_before = cpu_ns(proc.pid)
        for i in range(1, SWITCHES + 1):
            app, pid = ("beta.app", 2) if i % 2 else ("alpha.app", 3)
            GLib.idle_add(kwin.report, app, pid, f"Window {i}")  # sent on the bus's own thread
            line = proc.stdout.readline()
            latencies.append(now_us() - kwin.sent)
            assert b'"event":"focus"' in line, line
            if i % 10 == 0:
                trips.append(kwin.round_trip())
            if i == 1000:
                results["rss_1000"] = rss_mb(proc.pid)
                results["cpu_focus"] = (cpu_ns(proc.pid) - cpu_before) / 1000 / 1e6
        results["rss_end"] = rss_mb(proc.pid)
        results["call"] = statistics.median(latencies) / 1000
        results["call_p99"] = sorted(latencies)[len(latencies) * 99 // 100] / 1000
        results["trip"] = statistics.median(trips) / 1000
        proc.stdin.close()
        proc.wait(timeout=10)
    finally:
        wl.stdin.close()
        wl.wait()
        kwin.close()


def main():
    results = {}
    measure_kwin(results)
    measure_stand_in(results)
    wakeups, idle_cpu = results["idle"]
    rows = [
        ("Activation asked of KWin to focus line, median (p99) of 200", "",
         f"{results['activation']:.2f} ms ({results['activation_p99']:.2f} ms)"),
        ("Call sent (stand-in KWin) to focus line, median (p99) of 10,000", "",
         f"{results['call']:.3f} ms ({results['call_p99']:.3f} ms)"),
        ("  the same bus's round trip to a peer of the bench's own, median", "",
         f"{results['trip']:.3f} ms"),
        ("CPU time of the main thread per focus record (1,000 switches)", "< 0.2 ms",
         f"{results['cpu_focus']:.3f} ms"),
        ("Resident memory after 1,000 / 10,000 switches", "flat",
         f"{results['rss_1000']:.2f} / {results['rss_end']:.2f} MB"),
        ("Wake-ups of all threads in 30 s idle (the timer: 6)", "6", f"{wakeups}"),
        ("CPU time per refresh sample at idle", "", f"{idle_cpu:.3f} ms"),
        ("End of input to exit, KWin answering / stopped", "< 500 ms",
         f"{results['exit']:.0f} / {results['exit_hung']:.0f} ms"),
    ]
    width = max(len(r[0]) for r in rows)
    print(f"{'Figure':<{width}}  {'Goal':<9}  Measured")
    for name, goal, value in rows:
        print(f"{name:<{width}}  {goal:<9}  {value}")


if __name__ == "__main__":
    main()
