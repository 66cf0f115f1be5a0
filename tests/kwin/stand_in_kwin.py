"""A stand-in for KWin's scripting interface on a bus, for the cases a real
KWin 5.27 does not show: Plasma 6's script objects, a refused load, a KWin
that never answers the load, a script that never reports.

Usage: stand_in_kwin.py ADDRESS MODE, MODE one of
  plasma6   the script object is /Scripting/Script<id> (as in Plasma 6)
  refuse    loadScript answers -1
  mute      loadScript is never answered
  silent    the script runs but never reports
Owns org.kde.KWin on the bus at ADDRESS, prints "ready", then one line per
call it gets ("loadScript NAME", "run PATH", "unloadScript NAME"). A script
that runs reports once (start.app, pid 1) as the real one does. Ends when
standard input ends.
"""
import sys
import threading

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACES = Gio.DBusNodeInfo.new_for_xml("""<node>
<interface name="org.kde.kwin.Scripting">
  <method name="loadScript"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="i" direction="out"/></method>
  <method name="unloadScript"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
  <method name="isScriptLoaded"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
</interface>
<interface name="org.kde.kwin.Script"><method name="run"/></interface>
</node>""").interfaces


def main():
    address, mode = sys.argv[1], sys.argv[2]
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    destination = []
    held = []  # invocations never answered

    def say(*words):
        print(*words, flush=True)

    def scripting(connection, sender, path, interface, method, parameters, invocation):
        say(method, parameters[-1])
        if method == "loadScript":
            with open(parameters[0]) as script:
                destination.append(script.read().split('const destination = "', 1)[1].split('"', 1)[0])
            if mode == "mute":
                held.append(invocation)
                return
            invocation.return_value(GLib.Variant("(i)", (-1 if mode == "refuse" else 0,)))
        else:
            invocation.return_value(GLib.Variant("(b)", (False,)))

    def script(connection, sender, path, interface, method, parameters, invocation):
        say("run", path)
        invocation.return_value(None)
        if mode != "silent":
            bus.call(destination[-1], "/dev/palvern/Collector/KWin", "dev.palvern.Collector.KWin", "Active",
                     GLib.Variant("(ssssi)", ("Start window", "start.app", "start.app", "start", 1)),
                     None, Gio.DBusCallFlags.NO_AUTO_START, -1, None, None, None)

    bus.register_object("/Scripting", INTERFACES[0], scripting, None, None)
    bus.register_object("/Scripting/Script0" if mode == "plasma6" else "/0", INTERFACES[1], script, None, None)
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                  GLib.Variant("(su)", ("org.kde.KWin", 4)), None, Gio.DBusCallFlags.NONE, -1, None)
    loop = GLib.MainLoop()
    threading.Thread(target=lambda: (sys.stdin.read(), GLib.idle_add(loop.quit)), daemon=True).start()
    say("ready")
    loop.run()


if __name__ == "__main__":
    main()
