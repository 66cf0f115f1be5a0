"""GTK 3 windows on Wayland for the KWin tests, all of one process.

Usage: test_window.py APP_ID_HEX TITLE_HEX [TITLE_HEX...]: one window per
title. Prints "mapped" once every window is shown; then each line on
standard input, "title INDEX HEX", gives window INDEX a new title and is
answered with "ok". The windows close when standard input ends.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    app_id = bytes.fromhex(sys.argv[1]).decode()
    GLib.set_prgname(app_id)
    windows = []
    unmapped = set()

    def mapped(window, event):
        unmapped.discard(window)
        if not unmapped:
            print("mapped", flush=True)
        return False

    for title in sys.argv[2:]:
        window = Gtk.Window(title=bytes.fromhex(title).decode())
        window.set_default_size(320, 200)
        window.connect("map-event", mapped)
        windows.append(window)
        unmapped.add(window)

    def command(source, condition):
        line = sys.stdin.readline()
        if not line:
            Gtk.main_quit()
            return False
        word, index, argument = (line.split() + ["", "", ""])[:3]
        if word == "title":
            windows[int(index)].set_title(bytes.fromhex(argument).decode())
        print("ok", flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    for window in windows:
        window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
