#!/usr/bin/env bash
# Builds the benchmarks in Release, runs them against the controller
# simulator qxsym-sim on loopback, counts instructions per exchange with
# callgrind, and writes the results (with the machine they ran on) into
# docs/performance.md between its result markers.
#
# Environment: BUILD_DIR (default build-bench); QXSYM_BENCH_WAIT=SECONDS to
# wait that long at most for a quiet machine (1-minute load below 1) before
# measuring; QXSYM_BENCH_REPETITIONS (default 3; the median is reported);
# QXSYM_BENCH_QUICK=1 for a short smoke run; QXSYM_BENCH_DOC to write
# another file than docs/performance.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-bench}
doc=${QXSYM_BENCH_DOC:-docs/performance.md}
reps=${QXSYM_BENCH_REPETITIONS:-3}
count=2000
[ -n "${QXSYM_BENCH_QUICK:-}" ] && reps=1 && count=200

for tool in valgrind callgrind_annotate; do
  command -v "$tool" >/dev/null 2>&1 || { echo "bench.sh needs $tool (Debian: valgrind)" >&2; exit 1; }
done
if ! { [ -f /usr/include/benchmark/benchmark.h ] || [ -f /usr/local/include/benchmark/benchmark.h ]; }; then
  echo "bench.sh needs Google Benchmark (Debian: libbenchmark-dev)" >&2
  exit 1
fi

generator=()
command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQXSYM_BUILD_BENCH=ON \
  -DQXSYM_BUILD_SIM=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target qxsym-bench-codec qxsym-bench-api \
  qxsym-bench-driver qxsym-bench-report qxsym-sim qxsym-genmodel

out="$build/bench-results"
work="$build/bench-work"
rm -rf "$out"
mkdir -p "$out" "$work"
export QXSYM_BENCH_DIR="$root/$work"
sim="$build/sim/server/qxsym-sim"

load1() { cut -d' ' -f1 /proc/loadavg; }
if [ -n "${QXSYM_BENCH_WAIT:-}" ]; then
  deadline=$((SECONDS + QXSYM_BENCH_WAIT))
  while awk -v l="$(load1)" 'BEGIN { exit !(l >= 1.0) }' && [ $SECONDS -lt $deadline ]; do
    echo "waiting for a quiet machine (load $(load1))"
    sleep 10
  done
fi
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load average: $load_start"

gbench=(--benchmark_repetitions="$reps" --benchmark_out_format=json)
[ "$reps" -gt 1 ] && gbench+=(--benchmark_report_aggregates_only=true)

echo "=== frame codec and transport (in-memory port)"
"$build/bench/qxsym-bench-codec" "${gbench[@]}" --benchmark_out="$out/codec.json"
# Where client and peers run. A 2-CPU virtual machine wakes a task on the
# other CPU far more slowly than on its own, and left to itself the scheduler
# sometimes puts a simulator thread there and sometimes not, so latencies
# flip between two levels from run to run. Pinned, they hold still. Everything
# on CPU 0 (the main run) shows the software's own cost; the client on CPU 0
# and every peer (simulators, ping-pong processes) on CPU 1 stand for two
# machines. The thread benchmarks run unpinned.
api=("$build/bench/qxsym-bench-api" "${gbench[@]}")
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null 2>&1; then
  echo "=== library against qxsym-sim, everything on CPU 0"
  QXSYM_BENCH_PEER_CPU=0 taskset -c 0 "${api[@]}" --benchmark_filter='^(Exchange|Read|Table)/' \
    --benchmark_out="$out/api.json"
  echo "=== one exchange, client on CPU 0, peers on CPU 1"
  QXSYM_BENCH_PEER_CPU=1 taskset -c 0 "${api[@]}" --benchmark_filter='^Exchange/' \
    --benchmark_out="$out/api-twocpu.json"
  twocpu=(--api-twocpu "$out/api-twocpu.json")
else
  echo "=== library against qxsym-sim (unpinned: fewer than 2 CPUs or no taskset)"
  "${api[@]}" --benchmark_filter='^(Exchange|Read|Table)/' --benchmark_out="$out/api.json"
  twocpu=()
fi
echo "=== threads (unpinned)"
"${api[@]}" --benchmark_filter='^Threads/' --benchmark_out="$out/api-threads.json"

# Starts qxsym-sim (optionally under a wrapper) on the DINT model the API
# benchmark wrote; sets sim_pid and sim_port.
start_sim() {
  local log="$out/sim-$1.out"
  shift
  rm -f "$log" "$log.err"  # never read the line of an earlier run
  "$@" "$sim" --model "$work/dint-1024.json" --host 127.0.0.1 --port 0 --scan 0 \
    >"$log" 2>"$log.err" &
  sim_pid=$!
  local line=""
  for _ in $(seq 1 600); do
    line=$(head -n1 "$log" 2>/dev/null || true)
    case "$line" in listening\ on\ *) break ;; esac
    kill -0 "$sim_pid" 2>/dev/null || { echo "qxsym-sim did not start" >&2; exit 1; }
    sleep 0.1
  done
  case "$line" in listening\ on\ *) ;; *) echo "qxsym-sim did not report its port" >&2; exit 1 ;; esac
  sim_port=${line##*:}
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap 'stop_sim' EXIT
# Instruction total of a callgrind output file.
instructions() { awk '/^(summary|totals):/ { print $2; exit }' "$1"; }
# Instructions spent in (and below) the first function whose name contains $2.
inclusive() {
  callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
    grep -F -- "$2" | head -n1 | awk '{ gsub(",", "", $1); print $1 }'
}
callgrind=(valgrind --tool=callgrind --quiet)

echo "=== instructions per exchange (callgrind, $count exchanges)"
start_sim native
for n in 0 "$count"; do
  "${callgrind[@]}" --callgrind-out-file="$out/client-$n.callgrind" \
    "$build/bench/qxsym-bench-driver" 127.0.0.1 "$sim_port" "$n"
done
stop_sim
for n in 0 "$count"; do
  start_sim "callgrind-$n" "${callgrind[@]}" --callgrind-out-file="$out/sim-$n.callgrind"
  "$build/bench/qxsym-bench-driver" 127.0.0.1 "$sim_port" "$n"
  stop_sim
done
trap - EXIT

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
{
  echo "run.date=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "run.commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- src sim bench 2>/dev/null || echo ' + local changes')"
  echo "machine.cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)"
  echo "machine.cores=$(nproc) ($(grep -c ^processor /proc/cpuinfo) logical processors)$(grep -qw hypervisor /proc/cpuinfo && echo ', virtual machine')"
  echo "machine.kernel=$(uname -sr)"
  echo "machine.compiler=$("${compiler:-c++}" --version | head -n1)"
  echo "machine.load_start=$load_start"
  echo "machine.load_end=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "callgrind.count=$count"
  for side in client sim; do
    echo "callgrind.${side}_0=$(instructions "$out/$side-0.callgrind")"
    echo "callgrind.${side}_n=$(instructions "$out/$side-$count.callgrind")"
  done
  # Where the client's instructions go: label=function.
  for part in "api=:QXSym_GetTagValue_Ptr " "exchange=:qxsym::Exchange(" \
    "transact=:qxsym::CGDBCommunication::Transact(" "send_frame=:qxsym::CGDBFrameCodec::SendFrame(" \
    "receive_frame=:qxsym::CGDBFrameCodec::ReceiveFrame(" "clone=:qxsym::QXSymClientTagRemote::Clone(" \
    "lock=:pthread_mutex_lock"; do
    label=${part%%=*} fn=${part#*=}
    echo "callgrind.part.${label}_0=$(inclusive "$out/client-0.callgrind" "$fn")"
    echo "callgrind.part.${label}_n=$(inclusive "$out/client-$count.callgrind" "$fn")"
  done
  for part in "session=:qxsym::sim::Session::Receive(" "service=:qxsym::sim::SymbolService::Handle(" \
    "encode=:qxsym::sim::AppendReplyFrame("; do
    label=${part%%=*} fn=${part#*=}
    echo "callgrind.simpart.${label}_0=$(inclusive "$out/sim-0.callgrind" "$fn")"
    echo "callgrind.simpart.${label}_n=$(inclusive "$out/sim-$count.callgrind" "$fn")"
  done
} >"$out/extra.txt"

"$build/bench/qxsym-bench-report" --codec "$out/codec.json" --api "$out/api.json" \
  --api "$out/api-threads.json" "${twocpu[@]}" --extra "$out/extra.txt" --doc "$doc"
echo "results written to $doc"

echo "=== Python package against the C API"
python=$(command -v /usr/bin/python3 || command -v python3 || true)
if [ -n "$python" ]; then
  "$python" bench/python_reads.py --build "$build" --count $((count * 10)) --repetitions "$reps" \
    --doc "$doc"
else
  echo "no python3: the Python rows of $doc are left as they were"
fi

echo "=== promise API for Node.js against the C API"
cmake --build "$build" -j"$(nproc)" --target qxsymbols_async >/dev/null 2>&1 || true
if command -v node >/dev/null 2>&1 && [ -f "$build/node/async/qxsymbols_async.node" ]; then
  node node/bench/api_reads.js --build "$build" --count $((count * 10)) --repetitions "$reps" \
    --doc "$doc"
else
  echo "no node or no qxsymbols_async.node: the Node.js rows of $doc are left as they were"
fi
