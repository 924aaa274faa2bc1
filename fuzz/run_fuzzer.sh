#!/usr/bin/env bash
# run_fuzzer.sh <fuzzer binary> <seed corpus dir> <seconds> [extra libFuzzer options...]
# Runs one fuzz target for a bounded time from the seeds, on a scratch corpus so that the seed
# directory in the source tree is never written. A finding leaves its input (crash-*, leak-*,
# timeout-*, oom-*) in the current directory and makes the exit status non-zero.
set -euo pipefail
binary=$1 seeds=$2 seconds=$3
shift 3
work=$(mktemp -d "${TMPDIR:-/tmp}/kova_fuzz_corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT
name=$(basename "$binary")
options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -close_fd_mask=3 -print_final_stats=1
         -artifact_prefix="$PWD/$name-")
case "$name" in
  channel_fuzzer) options+=(-max_len=57640) ;;
  ctr_frame_fuzzer) options+=(-max_len=16384) ;;
  zzz_file_fuzzer|log2bin_fuzzer) options+=(-max_len=32768) ;;
esac
"$binary" "${options[@]}" "$@" "$work" "$seeds"
