#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) into build-fuzz/ and runs them, all at
# once, for the given number of seconds each (default 600). Each target keeps the corpus it grows in
# build-fuzz/corpus/<target>, so that repeated runs go on where the last one stopped; findings are
# written to build-fuzz/findings/. Exit status non-zero when any target found something.
#   bash scripts/fuzz.sh [seconds] [target...]     targets: ctr_frame zzz_file log2bin channel version
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KOVA_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-600}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(ctr_frame zzz_file log2bin channel version)

flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKOVA_FUZZ_BUILD=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" > /dev/null
cmake --build "$build" --target kova_fuzzers -j "${KOVA_JOBS:-2}"

mkdir -p "$build/findings"
pids=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  (cd "$build/findings" &&
   "$build/fuzz_bin/${target}_fuzzer" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -close_fd_mask=3 \
     -print_final_stats=1 -artifact_prefix="$build/findings/${target}-" $(case $target in
       channel) echo -max_len=57640 ;; ctr_frame) echo -max_len=16384 ;; zzz_file|log2bin) echo -max_len=32768 ;;
     esac) "$corpus" "$root/fuzz/corpus/$target" > "$build/findings/$target.log" 2>&1) &
  pids+=($!)
done
status=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "${targets[$i]}: no finding ($(grep -o "^Done [0-9]* runs" "$build/findings/${targets[$i]}.log"))"
  else
    echo "${targets[$i]}: FINDING, see $build/findings/${targets[$i]}.log"
    status=1
  fi
done
exit $status
