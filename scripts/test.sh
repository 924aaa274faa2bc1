#!/usr/bin/env bash
# Builds everything and runs every test (native GoogleTest suites and node's test runner, all under ctest).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
# The type tests compile with the TypeScript pinned in package-lock.json (a dev dependency only).
if [[ ! -f "$root/node_modules/typescript/bin/tsc" ]]; then
  echo "installing the package's dev dependencies (TypeScript) with npm ci"
  (cd "$root" && npm ci --no-audit --no-fund)
fi
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
