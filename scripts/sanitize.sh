#!/usr/bin/env bash
# Builds and runs the test suite under the sanitizers, each in a build directory of its own:
#   asan   AddressSanitizer + UndefinedBehaviorSanitizer (gcc), build-asan/: every test. The addon
#          runs inside an uninstrumented node with the sanitizer runtime preloaded (leak checking is
#          off for node itself; the addon's own leaks are checked by the tests that ask for it).
#   tsan   ThreadSanitizer (gcc), build-tsan/: the native tests of the channels, the controller
#          client, the stand-in SDK's callback threads and the host's screen capture (a real host
#          process and its parent on real channels), and the addon's frame and event tests
#          (node with the runtime preloaded), its lifecycle across environments and the plane pool.
#   all    both, one after the other.
# Further arguments go to ctest (e.g. -R ipc). KOVA_JOBS sets the build's parallelism (default 2).
#   bash scripts/sanitize.sh [asan|tsan|all] [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mode=${1:-all}
shift || true
jobs=${KOVA_JOBS:-2}

# Tests that make a process crash on purpose expect the crash itself, not a sanitizer's report of
# it, so the sanitizers leave the fatal signals to the program.
common_options="handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0"
# gcc's flow analysis gives false "may be used uninitialized" warnings inside the standard library
# once the sanitizers' instrumentation is in (the normal build keeps the warning).
quiet="-Wno-maybe-uninitialized"

configure_and_build() {  # dir, flags, targets...
  local dir=$1 flags=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_FUZZ=OFF \
        "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
        "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_SHARED_LINKER_FLAGS=$flags" "-DCMAKE_MODULE_LINKER_FLAGS=$flags" \
        "-DKOVA_NODE_TEST_ENV=${KOVA_NODE_TEST_ENV:-}" > /dev/null
  if (($#)); then
    cmake --build "$dir" -j "$jobs" --target "$@"
  else
    cmake --build "$dir" -j "$jobs"
  fi
}

run_asan() {
  local dir=$root/build-asan
  KOVA_NODE_TEST_ENV="LD_PRELOAD=$(gcc -print-file-name=libasan.so);ASAN_OPTIONS=$common_options:detect_leaks=0" \
    configure_and_build "$dir" "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer $quiet"
  echo "== ASan + UBSan: $dir"
  export ASAN_OPTIONS="$common_options:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # The controller client's tests back up real TCP connections and wait on the client's own
  # time-outs; slowed down by the sanitizer they are run one at a time, after the others.
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -E '^(fuzz_.*|package_types|ctr_client_.*)$' "$@"
  ctest --test-dir "$dir" --output-on-failure -j 1 -R '^ctr_client_' "$@"
}

run_tsan() {
  local dir=$root/build-tsan
  # Native tests, and the addon's frame and event paths driven from the stand-in SDK's threads
  # (the addon inside node with the runtime preloaded; node's own code is not instrumented).
  local tests=(ipc_named_objects_test ipc_channel_test ctr_client_session_test ctr_client_api_test
               ctr_client_refusal_test standin_sdk_test standin_host_test host_capture_tests plane_pool_test)
  local node_tests=(addon_frames addon_events addon_engine_registry addon_sdk_misbehaviour addon_lifecycle)
  local tsan_options="$common_options:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1"
  KOVA_NODE_TEST_ENV="LD_PRELOAD=$(gcc -print-file-name=libtsan.so);TSAN_OPTIONS=$tsan_options" \
    configure_and_build "$dir" "-fsanitize=thread -fno-omit-frame-pointer $quiet" "${tests[@]}" \
      KOVAElectronSDK kova_sdk_standin_all saimanager_standin ctr_client ctr_client_driver ctr_test_server
  echo "== ThreadSanitizer: $dir"
  local pattern
  pattern=$(IFS='|'; echo "^(${tests[*]}|${node_tests[*]})\$")
  export TSAN_OPTIONS="$tsan_options"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "$pattern" -E '^ctr_client_' "$@"
  ctest --test-dir "$dir" --output-on-failure -j 1 -R '^ctr_client_' "$@"
}

case "$mode" in
  asan) run_asan "$@" ;;
  tsan) run_tsan "$@" ;;
  all) run_asan "$@"; run_tsan "$@" ;;
  *) echo "usage: $0 [asan|tsan|all] [ctest arguments...]" >&2; exit 2 ;;
esac
