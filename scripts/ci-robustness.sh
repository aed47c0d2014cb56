#!/usr/bin/env bash
# Robustness stage of CI, after scripts/test.sh:
#  1. the whole test suite under the address and undefined-behaviour
#     sanitizers, with LeakSanitizer on (build-asan); the log of the
#     end-to-end tests, the simulator processes' output included, must hold
#     no sanitizer report;
#  2. the concurrency tests under the thread sanitizer (build-tsan);
#  3. every target that a default configuration builds, and the fuzz
#     targets, compiled with clang (build-clang), so that code only gcc
#     accepts cannot land; then every fuzz target for QXSYM_FUZZ_SECONDS
#     (default 25) each, starting from the committed seeds and regression
#     inputs (build-fuzz).
# Each stage builds all of its configuration, not chosen targets, so that a
# build option that breaks any target cannot land.
# Any finding makes the script exit non-zero. QXSYM_ROBUSTNESS_STEPS picks
# steps (default "asan tsan fuzz").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh robustness  # the suite's packages and clang with libFuzzer
steps=${QXSYM_ROBUSTNESS_STEPS:-asan tsan fuzz}
jobs=$(nproc)
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

configure() {  # configure DIR ARGS...
  local dir=$1
  shift
  local g=("${generator[@]}")
  [ -f "$dir/CMakeCache.txt" ] && g=()
  cmake -S . -B "$dir" "${g[@]}" "$@" >/dev/null
}

# Runs ctest with every test's output in LOG (-V), and prints the summary.
run_ctest() {  # run_ctest DIR LOG ARGS...
  local dir=$1 log=$2
  shift 2
  local status=0
  ctest --test-dir "$dir" -j"$jobs" -V --timeout 600 "$@" >"$log" 2>&1 || status=$?
  grep -E "tests passed|\*\*\*(Failed|Timeout|Exception)|Not Run" "$log" | tail -40
  if [ $status -ne 0 ]; then
    echo "ctest failed in $dir (full output: $log)" >&2
    return $status
  fi
}

# Sanitizer reports of processes that the tests start (the simulator) do not
# always fail a test; they are caught in the log instead.
check_log() {  # check_log LOG WHAT
  if grep -E -q "ERROR: (Address|Leak|Thread)Sanitizer|WARNING: ThreadSanitizer|runtime error:" "$1"; then
    echo "$2: sanitizer report in $1:" >&2
    grep -E -A30 "ERROR: (Address|Leak|Thread)Sanitizer|WARNING: ThreadSanitizer|runtime error:" "$1" \
      | head -80 >&2
    return 1
  fi
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-report_objects=0}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

for step in $steps; do
  case $step in
    asan)
      echo "=== address and undefined-behaviour sanitizers, leak check: whole suite"
      configure build-asan -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=address
      cmake --build build-asan -j"$jobs"
      log=build-asan/robustness-ctest.log
      run_ctest build-asan "$log"
      check_log "$log" "asan"
      ;;
    tsan)
      echo "=== thread sanitizer: concurrency tests"
      configure build-tsan -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=thread
      # All of it, so that an option that breaks any target fails here.
      cmake --build build-tsan -j"$jobs"
      log=build-tsan/robustness-ctest.log
      # Every test of the channel, the simulator and its server (threads,
      # sockets, sessions), and the tests of the library and model that run
      # threads.
      run_ctest build-tsan "$log" \
        -R '^(ChannelTest|CreateCommunicationTest|FrameCodecTest|HostileStreamTest|ScriptedChannel|TcpPort|WireTypeTest|Host|LiveScan|Service|SessionTest|ReplyEncoder|RequestFrameDecoder|HandleRegistryTest|LibraryStateTest|GroupRemoteTest|ChannelModes|SimServer)|ConcurrencyTest|IsolationTest' \
        -E '_NOT_BUILT|ServiceScale'
      check_log "$log" "tsan"
      ;;
    fuzz)
      echo "=== clang: every default target and the fuzz targets"
      CC=clang CXX=clang++ configure build-clang -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQXSYM_BUILD_FUZZ=ON -DQXSYM_WERROR=ON
      cmake --build build-clang -j"$jobs"
      echo "=== fuzz targets, ${QXSYM_FUZZ_SECONDS:-25} s each"
      scripts/fuzz.sh "${QXSYM_FUZZ_SECONDS:-25}"
      ;;
    *)
      echo "unknown step: $step" >&2
      exit 2
      ;;
  esac
done
echo "robustness checks passed"
