#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt that are missing, then configures and
# builds everything into build/ (or $KOVA_BUILD_DIR), and, where MinGW-w64 is installed, the Windows
# deliverables and their test programs into build-win/ (or $KOVA_WIN_BUILD_DIR), whose tests the
# Linux tree then runs under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_BUILD_DIR:-$root/build}
build_win=${KOVA_WIN_BUILD_DIR:-$root/build-win}

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

win_dir=""
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  cmake -S "$root" -B "$build_win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DKOVA_WINDOWS_DELIVERABLES=ON -DCMAKE_BUILD_TYPE=${KOVA_BUILD_TYPE:-RelWithDebInfo}
  cmake --build "$build_win" -j "$(nproc)"
  win_dir=$build_win
else
  echo "MinGW-w64 not installed: no Windows build, no Wine tests"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${KOVA_BUILD_TYPE:-RelWithDebInfo} -DKOVA_WIN_BUILD_DIR="$win_dir" \
  ${KOVA_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
