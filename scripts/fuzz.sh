#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60), starting from the
# committed seed corpora in fuzz/corpus/, the inputs of past findings in
# fuzz/regressions/ and what earlier runs found (kept in $BUILD_DIR/corpus/). Exits non-zero when a target reports a
# finding; its input is left in $BUILD_DIR/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets: reply_decoder gdb_stream gdb_transact object_replies sim_service sim_session
# sim_model sparkplug_payload. FUZZ_JOBS=2 runs two targets at a time; FUZZ_NO_BUILD=1 skips
# the build. Needs clang with libFuzzer (installed by scripts/install-deps.sh fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
seconds=${1:-60}
shift || true
build=${BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-1}
all=(reply_decoder gdb_stream gdb_transact object_replies sim_service sim_session sim_model
  sparkplug_payload)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

if [ -z "${FUZZ_NO_BUILD:-}" ]; then
  generator=()
  command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
  CC=clang CXX=clang++ cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQXSYM_BUILD_FUZZ=ON -DQXSYM_SANITIZE=address -DQXSYM_BUILD_TESTS=OFF \
    -DQXSYM_BUILD_EXAMPLES=OFF >/dev/null
  # All of it: the shipped library and tools must build beside the
  # instrumented copies the fuzzers link.
  cmake --build "$build" -j"$(nproc)"
fi

binary() {
  case $1 in
    sim_service) echo "$build/sim/qxsym-sim-fuzz" ;;
    *) echo "$build/fuzz/fuzz_$1" ;;
  esac
}
options() {
  case $1 in
    sim_model) echo "-max_len=32768 -dict=fuzz/model.dict" ;;
    sim_service) echo "-max_len=4096" ;;
    *) echo "-max_len=16384" ;;
  esac
}

run_one() {
  local t=$1 bin work log
  bin=$(binary "$t")
  [ -x "$bin" ] || { echo "$t: no binary at $bin" >&2; return 1; }
  work="$build/corpus/$t"
  log="$build/fuzz-logs/$t.log"
  mkdir -p "$work" "$build/artifacts" "$build/fuzz-logs"
  local dirs=("$work" "fuzz/corpus/$t")
  [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
  # shellcheck disable=SC2046
  if "$bin" $(options "$t") -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb=512 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
      "${dirs[@]}" >"$log" 2>&1; then
    local runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    echo "$t: ok, $runs runs in ${seconds}s ($rate/s), corpus $(ls "$work" | wc -l) inputs"
  else
    echo "$t: FINDING (log $log)" >&2
    grep -E "ERROR|runtime error|SUMMARY|deadly|Test unit written" "$log" | head -20 >&2
    return 1
  fi
}

status=0
running=0
pids=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
