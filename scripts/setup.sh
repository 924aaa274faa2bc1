#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt that are missing, then configures and
# builds everything into build/ (or $KOVA_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done < "$root/scripts/packages.txt"
if ((${#missing[@]})); then
  echo "installing Debian packages: ${missing[*]}"
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${KOVA_BUILD_TYPE:-RelWithDebInfo} ${KOVA_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
