"""GTK 3 Wayland windows of one process, for the GNOME tests:
test_window.py APP_ID TITLE_HEX [TITLE_HEX...], one window per title.

The app_id is set through the program name, which GTK sends as each
toplevel's application ID. Prints "mapped" once every window is shown; then
reads commands on standard input, one a line, answering "ok":
  title N HEX   sets the title of window N (from 0; the bytes, as hex)
Ends at the end of standard input.
"""

import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    app_id, titles = sys.argv[1], [bytes.fromhex(t).decode("utf-8", "replace") for t in sys.argv[2:]]
    GLib.set_prgname(app_id)
    Gtk.init([])
    windows = [Gtk.Window(title=title) for title in titles]
    unmapped = set(range(len(windows)))

    def mapped(_window, _event, index):
        unmapped.discard(index)
        if not unmapped:
            print("mapped", flush=True)
        return False

    for index, window in enumerate(windows):
        window.set_default_size(200, 100)
        window.connect("map-event", mapped, index)

    def command(channel, _condition):
        line = channel.readline()
        if not line:
            Gtk.main_quit()
            return False
        words = line.split()
        if words and words[0] == "title":
            text = bytes.fromhex(words[2] if len(words) > 2 else "").decode("utf-8", "replace")
            windows[int(words[1])].set_title(text)
        print("ok", flush=True)
        return True

    channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
    GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, command)
    for window in windows:
        window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
