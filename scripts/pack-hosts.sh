#!/usr/bin/env bash
# Packs the host libraries with built collectors in them: one npm tarball
# that carries every executable given, under bin/<platform>-<arch>/, and one
# platform wheel per Linux executable given. Linux executables are packed
# stripped. Nothing is published.
#
# Usage: scripts/pack-hosts.sh [--npm|--wheel] [-o OUT] EXECUTABLE...
#   EXECUTABLE  a built PalvernCollector: PATH, whose platform and
#               architecture are read from it (Linux x86_64, aarch64), or
#               PLATFORM-ARCH=PATH for the other builds: darwin-arm64,
#               darwin-x64, win32-x64 (PalvernCollector.exe)
#   --npm, --wheel  only that package (both by default)
#   -o OUT      where the packages go (default dist/); printed when made
# Needs npm for the tarball; python3 with pip, setuptools and wheel (Debian:
# python3-pip python3-setuptools python3-wheel) for the wheels. Works offline.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
  echo "usage: scripts/pack-hosts.sh [--npm|--wheel] [-o OUT] [PLATFORM-ARCH=]EXECUTABLE..." >&2
  exit 2
}

out="$root/dist"
make_npm=1
make_wheel=1
executables=()
while [ $# -gt 0 ]; do
  case "$1" in
    --npm) make_wheel=0 ;;
    --wheel) make_npm=0 ;;
    -o) [ $# -ge 2 ] || usage; out="$2"; shift ;;
    -*) usage ;;
    *) executables+=("$1") ;;
  esac
  shift
done
[ ${#executables[@]} -gt 0 ] || usage
mkdir -p "$out"
out="$(cd "$out" && pwd)"
python="python3"
[ -x /usr/bin/python3 ] && python=/usr/bin/python3  # Debian's, with its setuptools and wheel

# PLATFORM-ARCH of a Linux ELF executable, from its header's machine field.
elf_key() {
  [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ] || return 1
  case "$(od -An -tu2 -j18 -N2 "$1" | tr -d ' ')" in
    62) echo linux-x64 ;;
    183) echo linux-arm64 ;;
    *) return 1 ;;
  esac
}

keys=()
paths=()
for argument in "${executables[@]}"; do
  if [[ "$argument" == *=* ]]; then
    key="${argument%%=*}"
    path="${argument#*=}"
  else
    path="$argument"
    key="$(elf_key "$path")" || { echo "$path: not a Linux x86_64 or aarch64 executable; name it PLATFORM-ARCH=$path" >&2; exit 2; }
  fi
  [ -f "$path" ] || { echo "$path: no such file" >&2; exit 2; }
  case "$key" in
    linux-x64|linux-arm64)
      [ "$(elf_key "$path" || true)" = "$key" ] || { echo "$path: not a $key executable" >&2; exit 2; } ;;
    darwin-arm64|darwin-x64|win32-x64) ;;
    *) echo "$key: not one of linux-x64 linux-arm64 darwin-arm64 darwin-x64 win32-x64" >&2; exit 2 ;;
  esac
  keys+=("$key")
  paths+=("$path")
done

staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT

# Puts executable $1 (for $2, a PLATFORM-ARCH) at $3, without its symbols and
# debugging sections when it is a Linux one, as the Debian package has it.
place() {
  install -D -m 0755 "$1" "$3"
  local strip=strip
  [ "$2" = linux-arm64 ] && [ "$(uname -m)" != aarch64 ] && command -v aarch64-linux-gnu-strip >/dev/null &&
    strip=aarch64-linux-gnu-strip
  case "$2" in
    linux-*) "$strip" --strip-unneeded "$3" || echo "$1: packed with its symbols ($strip could not strip it)" >&2 ;;
  esac
}

if [ "$make_npm" = 1 ]; then
  package="$staging/npm"
  mkdir -p "$package"
  cp "$root/hosts/node/package.json" "$root/hosts/node/index.js" "$root/hosts/node/index.d.ts" \
     "$root/LICENSE" "$package/"
  for i in "${!keys[@]}"; do
    name=PalvernCollector
    [ "${keys[$i]}" = win32-x64 ] && name=PalvernCollector.exe
    place "${paths[$i]}" "${keys[$i]}" "$package/bin/${keys[$i]}/$name"
  done
  # A cache of its own: nothing of the user's npm set-up is read or changed.
  tarball="$(cd "$package" && npm_config_cache="$staging/npm-cache" npm_config_update_notifier=false \
     npm pack --offline --ignore-scripts --pack-destination "$out" | tail -n 1)"
  echo "$out/$tarball"
fi

if [ "$make_wheel" = 1 ]; then
  for i in "${!keys[@]}"; do
    case "${keys[$i]}" in linux-*) ;; *) continue ;; esac
    project="$staging/wheel-${keys[$i]}"
    mkdir -p "$project"
    cp -r "$root/hosts/python/pyproject.toml" "$root/hosts/python/setup.py" "$root/LICENSE" "$project/"
    cp -r "$root/hosts/python/palvern_collector" "$project/"
    rm -rf "$project/palvern_collector/__pycache__" "$project/palvern_collector/bin"
    place "${paths[$i]}" "${keys[$i]}" "$project/palvern_collector/bin/PalvernCollector"
    PIP_DISABLE_PIP_VERSION_CHECK=1 "$python" -m pip wheel --quiet --no-build-isolation --no-deps --no-index \
      --wheel-dir "$project/dist" "$project" >/dev/null
    wheel="$(cd "$project/dist" && echo *.whl)"
    mv -f "$project/dist/$wheel" "$out/"
    echo "$out/$wheel"
  done
fi
