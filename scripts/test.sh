#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Usage: scripts/test.sh [build-dir [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir="${1:-build-tests}"
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
