#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time,
# starting from its seed corpus in tests/fuzz/corpus. Fails on any crash,
# sanitizer report, failed check or slow input.
# Usage: scripts/fuzz.sh [build-dir]   (FUZZ_SECONDS per target, default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir="${1:-build-fuzz}"
seconds="${FUZZ_SECONDS:-20}"
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPALVERN_FUZZ=ON -DPALVERN_TESTS=OFF -DPALVERN_BENCH=OFF
cmake --build "$dir" -j"$(nproc)"

ran=0
for target in "$dir"/tests/fuzz/*_fuzz; do
  name="$(basename "$target" _fuzz)"
  # New inputs go to the build directory; the committed seeds stay as they are.
  mkdir -p "$dir/fuzz/corpus-$name" "$dir/fuzz/artifacts"
  echo "-- $name, $seconds s"
  "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/fuzz/artifacts/$name-" \
    "$dir/fuzz/corpus-$name" "tests/fuzz/corpus/$name"
  ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }
