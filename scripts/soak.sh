#!/usr/bin/env bash
# Soak run: millions of tag opens and closes and group reads across several
# workspaces on several simulators, printing handles, retired objects,
# resident memory, file descriptors and threads at intervals; they must stay
# flat from start to end. Not a CI test: it runs for minutes.
#
# Environment: BUILD_DIR (default build-bench), QXSYM_SOAK_CYCLES (default
# 2000000 opens), QXSYM_SOAK_WORKSPACES (4), QXSYM_SOAK_SIMULATORS (2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
generator=()
command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQXSYM_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target qxsym-soak qxsym-sim qxsym-genmodel >/dev/null
echo "load before: $(uptime)"
"$build/bench/qxsym-soak" --cycles "${QXSYM_SOAK_CYCLES:-2000000}" \
  --workspaces "${QXSYM_SOAK_WORKSPACES:-4}" --simulators "${QXSYM_SOAK_SIMULATORS:-2}"
echo "load after: $(uptime)"
