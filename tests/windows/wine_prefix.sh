#!/usr/bin/env bash
# The Wine prefix that the Windows tests of one ctest run share.
#
#   wine_prefix.sh start PREFIX LOADER SERVER   a fresh prefix, booted once, with its wine server
#                                               kept running between the tests
#   wine_prefix.sh stop PREFIX SERVER           ends the server and removes the prefix
#
# Booting a new prefix costs tens of seconds; done here once, every test then starts its programs
# at once. No display is needed: the tests run console programs only, and the installers of the
# .NET and HTML runtimes that a first boot offers are switched off.
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

case "$action" in
  start)
    loader=$3
    server=$4
    if [[ -d "$prefix" ]]; then
      "$server" -k 2>/dev/null || true
      rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    # The server stays up for 60 s after its last client, so it outlives the gaps between tests;
    # stop ends it at once. Its output and that of the boot go to a log: processes the boot leaves
    # running must not hold ctest's pipes open.
    "$server" -p60 </dev/null >>"$prefix.log" 2>&1
    "$loader" wineboot --init </dev/null >>"$prefix.log" 2>&1
    # No debugger for a crashing program: Wine would otherwise start its own on an unhandled
    # exception and write its report into the program's output. (Windows' own default, error
    # reporting, is switched off on test machines alike.) The program then ends with the
    # exception's code, as on Windows. Adding the key also proves the prefix usable.
    "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
      </dev/null >>"$prefix.log" 2>&1
    echo "wine prefix ready: $prefix"
    ;;
  stop)
    server=$3
    "$server" -k 2>/dev/null || true
    rm -rf "$prefix" "$prefix.log"
    ;;
  *)
    echo "usage: $0 start PREFIX LOADER SERVER | stop PREFIX SERVER" >&2
    exit 2
    ;;
esac
