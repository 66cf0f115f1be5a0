#!/usr/bin/env bash
# Installs, on Debian or Ubuntu, whatever the build, the tests and the
# benchmarks need and is not there yet.
set -euo pipefail

packages=(
  # build
  g++ cmake make pkg-config
  libxcb1-dev libxcb-screensaver0-dev libxcb-xinput-dev libxcb-res0-dev libsystemd-dev
  libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols
  # tests
  libgtest-dev python3 python3-jsonschema xvfb openbox xterm xdotool x11-utils xfonts-base
  # tests of the host libraries and of the Debian package (dpkg-shlibdeps)
  nodejs dpkg-dev
  # the host packages (scripts/pack-hosts.sh) and their tests: a wheel built
  # offline, installed into a new virtual environment
  python3-pip python3-setuptools python3-wheel python3-venv
  # the aarch64 build (Debian's cross compiler and its C library) and its
  # tests under qemu-user
  g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user
  # tests of Wayland sessions: a compositor, a terminal, input
  sway foot wtype util-linux
  # tests of KDE Plasma sessions: KWin on Wayland, GTK windows from Python
  kwin-wayland python3-gi gir1.2-gtk-3.0
  # tests of GNOME sessions: the shell (GTK windows from Python as above)
  gnome-shell
  # tests of browser URLs: a session bus, the accessibility bus, busctl, browsers
  dbus at-spi2-core systemd firefox-esr chromium
  # benchmarks
  libbenchmark-dev xprintidle strace time linux-perf
  # the Windows build with mingw-w64 (its tests run under Wine in the Debian 13
  # root, which scripts/debian13-root.sh makes with mmdebstrap)
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mmdebstrap
  # fuzzing (clang with its libFuzzer runtime)
  clang libclang-rt-14-dev
)

# npm comes with Node.js from other sources than Debian (whose nodejs then
# conflicts with Debian's npm package): only asked for when there is none.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
