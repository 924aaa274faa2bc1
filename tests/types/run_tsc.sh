#!/usr/bin/env bash
# Type-checks the package's declarations (tests/types/tsconfig.json) with the TypeScript compiler
# installed at the repository root by `npm ci`; never downloads a compiler of its own.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [[ ! -f "$root/node_modules/typescript/bin/tsc" ]]; then
  echo "TypeScript is not installed in $root/node_modules: run 'npm ci --no-audit --no-fund' at $root" \
       "(bash scripts/test.sh does this before ctest)" >&2
  exit 1
fi
cd "$root"
npx --no-install tsc -p tests/types
echo "types: sample.ts compiles and every call in wrong.ts is rejected"
