"""A stand-in for KWin's scripting interface on a bus, for the cases a real
KWin 5.27 does not show: Plasma 6's script objects, a refused load, a KWin
that never answers the load, a script that never reports, script numbers
that another script's object already answers at.

Usage: stand_in_kwin.py ADDRESS MODE, MODE one of
  kwin5     script objects at /<id> (as in KWin 5.27)
  plasma6   script objects at /Scripting/Script<id> (as in Plasma 6)
  refuse    loadScript answers -1
  mute      loadScript is never answered
  silent    the script runs but never reports
  taken     as kwin5, with another program's script loaded before: KWin
            numbers scripts by counting them, and the one it counts first
            was unloaded, so the next number is that script's object
As KWin does, it numbers a loaded script by the count of scripts it holds
and puts its object at that number only when no object is there. Owns
org.kde.KWin on the bus at ADDRESS, prints "ready", then one line per call it
gets ("loadScript NAME", "run PATH", "unloadScript NAME"). A script that runs
reports once (start.app, pid 1) as the real one does, with the token from its
file. Commands on standard input, one a line, each answered "ok":
  forge-owner         NameOwnerChanged for org.kde.KWin, sent straight to the
                      collector from a connection that is not the bus
  call-token TOKEN    Active("forged.app") from KWin's own connection with
                      TOKEN as the token ("-": none at all)
Ends when standard input ends.
"""
import re
import sys

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
COLLECTOR = ("/dev/palvern/Collector/KWin", "dev.palvern.Collector.KWin")
FLAGS = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION


class StandIn:
    def __init__(self, address, mode):
        self.address = address
        self.mode = mode
        self.bus = Gio.DBusConnection.new_for_address_sync(address, FLAGS, None, None)
        self.scripts = []  # names, in the order KWin counts them
        self.objects = {}  # number -> (name, registration id)
        self.files = {}  # name -> the script's text
        self.held = []  # invocations never answered
        self.bus.register_object("/Scripting", INTERFACES[0], self.scripting, None, None)
        if mode == "taken":
            # Another program's script at 1, loaded after one at 0 that is gone.
            self.scripts = ["other"]
            self.register(1, "other")
        self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "RequestName", GLib.Variant("(su)", ("org.kde.KWin", 4)), None,
                           Gio.DBusCallFlags.NONE, -1, None)

    def path(self, number):
        return f"/Scripting/Script{number}" if self.mode == "plasma6" else f"/{number}"

    def register(self, number, name):
        if number in self.objects:
            return  # as KWin's registration fails: the object there stays the other's
        rid = self.bus.register_object(self.path(number), INTERFACES[1], self.script, None, None)
        self.objects[number] = (name, rid)

    def say(self, *words):
        print(*words, flush=True)

    def scripting(self, connection, sender, path, interface, method, parameters, invocation):
        self.say(method, parameters[-1])
        if method == "loadScript":
            file_path, name = parameters
            with open(file_path) as script:
                self.files[name] = script.read()
            if self.mode == "mute":
                self.held.append(invocation)
                return
            if self.mode == "refuse" or name in self.scripts:
                invocation.return_value(GLib.Variant("(i)", (-1,)))
                return
            number = len(self.scripts)
            self.scripts.append(name)
            self.register(number, name)
            invocation.return_value(GLib.Variant("(i)", (number,)))
        elif method == "unloadScript":
            name = parameters[0]
            found = name in self.scripts
            if found:
                self.scripts.remove(name)
                for number, (owner, rid) in list(self.objects.items()):
                    if owner == name:
                        self.bus.unregister_object(rid)
                        del self.objects[number]
            invocation.return_value(GLib.Variant("(b)", (found,)))
        else:
            invocation.return_value(GLib.Variant("(b)", (parameters[0] in self.scripts,)))

    def script(self, connection, sender, path, interface, method, parameters, invocation):
        self.say("run", path)
        invocation.return_value(None)
        number = int(path.rsplit("/", 1)[1].removeprefix("Script"))
        name = self.objects[number][0]
        if self.mode == "silent" or name not in self.files:
            return  # another program's script: it tells the collector nothing
        self.call_collector(name, re.search(r'const token = "([^"]*)"', self.files[name]).group(1),
                            ("Start window", "start.app", "start.app", "start", 1))

    def destination(self, name):
        return re.search(r'const destination = "([^"]+)"', self.files[name]).group(1)

    def call_collector(self, name, token, fields):
        args = ("(sssssi)", (token, *fields)) if token is not None else ("(ssssi)", fields)
        self.bus.call(self.destination(name), *COLLECTOR, "Active", GLib.Variant(*args), None,
                      Gio.DBusCallFlags.NO_AUTO_START, -1, None, None, None)

    def command(self, words):
        name = next(n for n, _ in self.objects.values() if n in self.files)
        if words[0] == "forge-owner":
            forger = Gio.DBusConnection.new_for_address_sync(self.address, FLAGS, None, None)
            forger.emit_signal(self.destination(name), "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameOwnerChanged", GLib.Variant("(sss)", ("org.kde.KWin", ":1.1", ":1.999")))
            forger.flush_sync(None)
            forger.close_sync(None)
        elif words[0] == "call-token":
            token = None if words[1] == "-" else words[1]
            self.call_collector(name, token, ("Forged window", "forged.app", "forged.app", "forged", 2))
        self.bus.flush_sync(None)


def main():
    stand_in = StandIn(sys.argv[1], sys.argv[2])
    loop = GLib.MainLoop()

    def on_input(channel, _condition):
        line = channel.readline()
        if not line:
            loop.quit()
            return False
        if line.split():
            stand_in.command(line.split())
        stand_in.say("ok")
        return True

    channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
    GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, on_input)
    stand_in.say("ready")
    loop.run()


if __name__ == "__main__":
    main()
