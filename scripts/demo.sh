#!/usr/bin/env bash
# Builds everything and runs the demo on the stand-in SDK in live mode.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
KOVA_BUILD_DIR="$build" node "$root/demo/demo.js" "$@"
