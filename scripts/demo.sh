#!/usr/bin/env bash
# Builds everything, starts the controller simulator on the demo model, takes
# a short tour of it with qxsym, and runs the C examples against it (and the
# host-table example in-process).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo  # what a fresh Debian machine lacks to build and run; silent when all is there
build=${BUILD_DIR:-build}
generator=()
command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ] && generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target qxsym-sim qxsym example_read_write_tag \
  example_read_group example_host_table >/dev/null
sim="$build/sim/server/qxsym-sim"
examples/run_with_sim.sh "$sim" sim/models/demo.json examples/qxsym_tour.sh "$build/cli/qxsym"
examples/run_with_sim.sh "$sim" sim/models/demo.json "$build/examples/example_read_write_tag"
examples/run_with_sim.sh "$sim" sim/models/demo.json "$build/examples/example_read_group"
echo "--- host program serving its own table"
"$build/examples/example_host_table"
