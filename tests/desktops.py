"""The desktops the end-to-end suites drive, and what each version of them
offers where the suites' expectations differ: the one place that says so.

Every suite runs on this machine's desktops (Debian 12: sway 1.7, KWin 5.27,
GNOME Shell 43) and again inside the Debian 13 root (sway 1.10, KWin 6.3,
GNOME Shell 48; see in_debian13.py), with the same test bodies. A test asks
`offers(desktop, feature)` instead of naming a version.

Differences the suites meet alike in every version, and so not in the table:
KWin 6 starts XWayland only when the first X client connects (KWin's display
is found by the lock that names KWin, which KWin 5 writes too); sway 1.10
offers ext_idle_notifier_v1 where sway 1.7 offered org_kde_kwin_idle (the
collector takes either).
"""
import functools
import re
import subprocess

# The package each desktop comes in, for its version.
PACKAGES = {"sway": "sway", "kwin": "kwin-wayland", "gnome-shell": "gnome-shell"}

# feature: {desktop: the first version that offers it, of those the suites run against}
SINCE = {
    # GNOME Shell loads extensions as ES modules only (an entry with `export
    # default`, and a metadata.json that names the version): shell-45/.
    "es module extensions": {"gnome-shell": (45,)},
    # An xdg-shell title that is not UTF-8 is a protocol error: the client is
    # disconnected, so such a title never reaches another client.
    "utf-8 titles only": {"sway": (1, 10)},
    # KWin's scripting interface puts a loaded script's object at
    # /Scripting/Script<id>, no longer at /<id>.
    "script objects under /Scripting": {"kwin": (6,)},
    # KWin gives an XWayland window's resource class as the window sets it
    # (WM_CLASS), no longer in lower case.
    "x classes as set": {"kwin": (6,)},
    # The idle notification for input alone (ext_idle_notifier_v1 version 2),
    # which idle inhibitors do not hold back. Not offered by any version
    # here: sway 1.10 and KWin 6.3 offer version 1 (sway 1.7 only
    # org_kde_kwin_idle), so an inhibitor keeps the user looking active.
    "input idle": {},
}


@functools.cache
def version(desktop):
    """The installed version of `desktop` as a tuple of numbers: (1, 10, 1)."""
    text = subprocess.run(["dpkg-query", "-W", "-f=${Version}", PACKAGES[desktop]], capture_output=True,
                          text=True, check=True).stdout
    upstream = re.match(r"(?:\d+:)?([\d.]+)", text).group(1)  # without the epoch and Debian's revision
    return tuple(int(part) for part in upstream.strip(".").split("."))


def offers(desktop, feature):
    first = SINCE[feature].get(desktop)
    return first is not None and version(desktop) >= first
