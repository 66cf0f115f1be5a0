#!/usr/bin/env bash
# Makes (once per machine) the Debian 13 root that the tests of newer desktops
# and of the Windows desktop under Wine run in, and prints its path.
#
# The root lives in a cache folder ($PALVERN_ROOT_CACHE, default
# /var/cache/palvern) and is made again only when the package list below
# changes. Nothing is mounted here: the tests enter the root in a mount
# namespace of their own (tests/debian13_root.py), so nothing stays mounted
# when they end.
#
# Usage: scripts/debian13-root.sh        prints the root's path, making it if need be
# Exit status 1 (and nothing printed) when the root cannot be made: no
# mmdebstrap, not root, no way to reach Debian's archive.
set -euo pipefail

packages=(
  # Windows desktop under Wine; mingw-w64's newer headers, which the check of
  # the UI Automation declarations compiles against
  wine wine64 xvfb openbox xdotool mingw-w64-common
  # KDE Plasma 6: KWin (without kwin-common KWin 6 has no /WindowsRunner)
  kwin-wayland kwin-common
  # GNOME 48, sway 1.10 with a terminal, input and XWayland
  gnome-shell sway wtype foot xwayland
  # test clients and the session's services
  python3-gi gir1.2-gtk-3.0 dbus dconf-service x11-utils
  # the end-to-end suites, which run inside with the collector built outside:
  # the libraries of the collector not pulled in above, the record check, and
  # the protocols' XML that the collector's newer protocol versions come from
  libxcb-screensaver0 python3-jsonschema wayland-protocols
)

cache="${PALVERN_ROOT_CACHE:-/var/cache/palvern}"
root="$cache/debian13"
stamp="$root/.palvern-packages"
wanted="${packages[*]}"

ready() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; }
if ready; then
  echo "$root"
  exit 0
fi

# Test suites that run at the same time ask at the same time: one makes the
# root while the others wait for it.
mkdir -p "$cache" 2>/dev/null || true
if [ -w "$cache" ]; then
  exec 9>>"$cache/.lock"
  flock 9
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
    echo "$root"
    exit 0
  fi
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "debian13-root: making the root needs root" >&2
  exit 1
fi
if ! command -v mmdebstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null 2>&1 || {
    echo "debian13-root: mmdebstrap cannot be installed" >&2
    exit 1
  }
fi

mkdir -p "$cache"
# One maker at a time: suites started together wait for the first one's root.
exec 9>"$cache/.lock"
flock 9
if ready; then
  echo "$root"
  exit 0
fi
# A fresh folder beside the old root, swapped in only once it is whole.
building="$cache/debian13.new"
rm -rf "$building"
include="$(IFS=,; echo "${packages[*]}")"
if ! mmdebstrap --quiet --variant=apt --include="$include" trixie "$building" >"$cache/debian13.log" 2>&1; then
  echo "debian13-root: mmdebstrap failed, see $cache/debian13.log" >&2
  rm -rf "$building"
  exit 1
fi
echo "$wanted" >"$building/.palvern-packages"
rm -rf "$root"
mv "$building" "$root"
echo "$root"
