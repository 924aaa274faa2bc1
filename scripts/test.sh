#!/usr/bin/env bash
# Builds everything and runs every test (native GoogleTest suites and node's test runner, all under ctest).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
