#!/usr/bin/env bash
# Installs what is missing, builds PalvernCollector and runs it. Its records
# appear on standard output; end it by ending its standard input (Ctrl-D).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPALVERN_TESTS=OFF -DPALVERN_BENCH=OFF >/dev/null
cmake --build build --target PalvernCollector -j"$(nproc)" >/dev/null
exec ./build/PalvernCollector
