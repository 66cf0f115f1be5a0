"""A scripted stand-in for GNOME Shell's two session-bus services, for what
the real shell does not do: answers of the wrong form, huge texts, floods,
silence. stand_in_shell.py [--focus-reply=MODE] [--no-idle]

MODE, how GetFocus is answered: good (the default), wrong (a reply of
another signature), missing (too few members), error, mute (never), absent
(the extension's name is not owned at all). Prints "ready" once its names are
owned; then reads commands on standard input, one a line, answering "ok":
  focus WINDOW TITLE CLASS INSTANCE APPID PID   the focused window (texts in
                                               hex, "-" for empty); signals it
  signal SIGNATURE JSON    a FocusChanged of any form (JSON: the arguments)
  flood N                  N signals alternating between two windows, then
                           the focused window's again
  idletime MS              what GetIdletime answers from now on
  fire WATCH               WatchFired(WATCH): 1 is the idle watch, 2 the active one
  mute / serve             stop / resume answering method calls
  release / own            give up / take again both names
  when                     prints "us T": the CLOCK_MONOTONIC microseconds
                           just before the last focus signal was sent
  forge KIND               a signal sent straight to the collector (the
                           connection that last called GetFocus) by a
                           connection that is neither service nor the bus:
                           focus (FocusChanged to "Forged"), watch
                           (WatchFired of the idle watch), shell-owner or
                           idle-owner (NameOwnerChanged for that name)
  calls                    prints "calls N": the GetFocus calls so far
Ends at the end of standard input. The bus is DBUS_SESSION_BUS_ADDRESS.
"""

import json
import os
import sys
import time

from gi.repository import Gio, GLib

SHELL = ("dev.palvern.Collector.Shell1", "/dev/palvern/Collector/Shell1", "dev.palvern.Collector.Shell1")
IDLE = ("org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor")
FOCUS = "ussssi"
REPLIES = {"good": FOCUS, "wrong": "s", "missing": "us"}


def shell_xml(reply):
    out = "".join(f'<arg type="{t}" direction="out"/>' for t in split(reply))
    signal = "".join(f'<arg type="{t}"/>' for t in split(FOCUS))
    return (f'<node><interface name="{SHELL[2]}"><method name="GetFocus">{out}</method>'
            f'<signal name="FocusChanged">{signal}</signal></interface></node>')


def split(signature):
    """Single-character D-Bus types only, which is all these use."""
    return list(signature)


IDLE_XML = (f'<node><interface name="{IDLE[2]}">'
            '<method name="GetIdletime"><arg type="t" direction="out"/></method>'
            '<method name="AddIdleWatch"><arg type="t" direction="in"/><arg type="u" direction="out"/></method>'
            '<method name="AddUserActiveWatch"><arg type="u" direction="out"/></method>'
            '<method name="RemoveWatch"><arg type="u" direction="in"/></method>'
            '<signal name="WatchFired"><arg type="u"/></signal></interface></node>')


class StandIn:
    def __init__(self, focus_reply, idle):
        self.bus = Gio.DBusConnection.new_for_address_sync(
            os.environ["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        self.focus_reply = focus_reply
        self.idle = idle
        self.focus = (0, "", "", "", "", 0)
        self.idletime = 0
        self.muted = False
        self.held = []  # calls left unanswered, kept so that they stay so
        self.names = []
        self.sent = 0
        self.client = None  # the collector, as the last GetFocus came from it
        self.focus_calls = 0
        if focus_reply != "absent":
            info = Gio.DBusNodeInfo.new_for_xml(shell_xml(REPLIES.get(focus_reply, FOCUS))).interfaces[0]
            self.bus.register_object(SHELL[1], info, self.call, None, None)
        if idle:
            self.bus.register_object(IDLE[1], Gio.DBusNodeInfo.new_for_xml(IDLE_XML).interfaces[0],
                                     self.call, None, None)
        self.own()

    def own(self):
        for name, wanted in ((SHELL[0], self.focus_reply != "absent"), (IDLE[0], self.idle)):
            if wanted:
                self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "RequestName", GLib.Variant("(su)", (name, 4)), None, 0, -1, None)
                self.names.append(name)

    def release(self):
        for name in self.names:
            self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "ReleaseName", GLib.Variant("(s)", (name,)), None, 0, -1, None)
        self.names = []

    def call(self, _bus, sender, _path, _interface, method, _args, invocation):
        if method == "GetFocus":
            self.client = sender
            self.focus_calls += 1
        if self.muted or (method == "GetFocus" and self.focus_reply == "mute"):
            self.held.append(invocation)
            return
        if method == "GetFocus":
            if self.focus_reply == "error":
                invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", "refused")
            elif self.focus_reply == "wrong":
                invocation.return_value(GLib.Variant("(s)", ("not the facts",)))
            elif self.focus_reply == "missing":
                invocation.return_value(GLib.Variant("(us)", (self.focus[0], self.focus[1])))
            else:
                invocation.return_value(GLib.Variant(f"({FOCUS})", self.focus))
        elif method == "GetIdletime":
            invocation.return_value(GLib.Variant("(t)", (self.idletime,)))
        elif method == "AddIdleWatch":
            invocation.return_value(GLib.Variant("(u)", (1,)))
        elif method == "AddUserActiveWatch":
            invocation.return_value(GLib.Variant("(u)", (2,)))
        else:
            invocation.return_value(None)

    def forge(self, kind):
        forger = Gio.DBusConnection.new_for_address_sync(
            os.environ["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        driver = ("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged")
        signals = {
            "focus": (*SHELL[1:], "FocusChanged", GLib.Variant(f"({FOCUS})", (99, "Forged", "forged", "forged", "", 99))),
            "watch": (*IDLE[1:], "WatchFired", GLib.Variant("(u)", (1,))),
            "shell-owner": (*driver, GLib.Variant("(sss)", (SHELL[0], ":1.1", ":1.999"))),
            "idle-owner": (*driver, GLib.Variant("(sss)", (IDLE[0], ":1.1", ""))),
        }
        forger.emit_signal(self.client, *signals[kind])
        forger.flush_sync(None)
        forger.close_sync(None)

    def emit(self, path, interface, member, variant):
        self.bus.emit_signal(None, path, interface, member, variant)

    def emit_focus(self, focus):
        self.sent = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000
        self.emit(SHELL[1], SHELL[2], "FocusChanged", GLib.Variant(f"({FOCUS})", focus))

    def command(self, words):
        text = lambda word: "" if word == "-" else bytes.fromhex(word).decode()  # noqa: E731
        if words[0] == "focus":
            self.focus = (int(words[1]), *(text(w) for w in words[2:6]), int(words[6]))
            self.emit_focus(self.focus)
        elif words[0] == "signal":
            self.emit(SHELL[1], SHELL[2], "FocusChanged",
                      GLib.Variant(f"({words[1]})", tuple(json.loads(" ".join(words[2:])))))
        elif words[0] == "flood":
            for i in range(int(words[1])):
                n = 1000 + i % 2
                self.emit_focus((n, f"Flood {n}", f"flood{n}", f"flood{n}", "", n))
            self.emit_focus(self.focus)
        elif words[0] == "idletime":
            self.idletime = int(words[1])
        elif words[0] == "fire":
            self.emit(IDLE[1], IDLE[2], "WatchFired", GLib.Variant("(u)", (int(words[1]),)))
        elif words[0] == "mute":
            self.muted = True
        elif words[0] == "serve":
            self.muted = False
        elif words[0] == "release":
            self.release()
        elif words[0] == "own":
            self.own()
        elif words[0] == "when":
            print(f"us {self.sent}")
        elif words[0] == "calls":
            print(f"calls {self.focus_calls}")
        elif words[0] == "forge":
            self.forge(words[1])
        self.bus.flush_sync(None)


def main():
    reply = "good"
    idle = True
    for arg in sys.argv[1:]:
        if arg.startswith("--focus-reply="):
            reply = arg.split("=", 1)[1]
        elif arg == "--no-idle":
            idle = False
    stand_in = StandIn(reply, idle)
    loop = GLib.MainLoop()

    def on_input(channel, _condition):
        line = channel.readline()
        if not line:
            loop.quit()
            return False
        if line.split():
            stand_in.command(line.split())
        print("ok", flush=True)
        return True

    channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
    GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, on_input)
    print("ready", flush=True)
    loop.run()


if __name__ == "__main__":
    main()
