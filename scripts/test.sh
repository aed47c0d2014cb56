#!/usr/bin/env bash
# Configures, builds and runs every test (C++ unit and end-to-end tests,
# meta checks, formatting). Extra CMake arguments: QXSYM_CMAKE_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test  # what a fresh Debian machine lacks for the suite; silent when all is there
build=${BUILD_DIR:-build}
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [ -f "$build/CMakeCache.txt" ]; then generator=(); fi
# shellcheck disable=SC2086
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQXSYM_WERROR=ON \
  ${QXSYM_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ${QXSYM_CTEST_ARGS:-}
