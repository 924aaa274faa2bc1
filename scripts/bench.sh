#!/usr/bin/env bash
# Builds everything and the benchmarks, runs every benchmark once and prints one table (each hot path
# beside the bare mechanism under it, measured in the same run). Extra arguments go to bench/js/run.js
# (--quick for short runs).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake --build "$build" --target kova_bench_all -j "$(nproc)"
KOVA_BUILD_DIR="$build" node "$root/bench/js/run.js" "$@"
