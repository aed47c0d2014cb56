#!/usr/bin/env bash
# Configures and builds `all` with every documented build option, each in a
# folder of its own under $BUILD_MATRIX_DIR (default build-matrix), and
# prints one line per build: OK or FAILED and the seconds it took. The log of
# a build is left in <folder>/<name>.log. Exits non-zero when any build fails.
#
#   scripts/build-matrix.sh [NAME...]    # default: every build below
#
# Uses ccache when installed; JOBS sets the parallel jobs (default: nproc).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz || exit 1  # gcc and clang with its sanitizer runtimes
root=${BUILD_MATRIX_DIR:-build-matrix}
jobs=${JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# name compiler cmake-arguments...
builds=(
  "fuzz-clang clang -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQXSYM_BUILD_FUZZ=ON"
  "asan-clang clang -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=address"
  "release-werror gcc -DCMAKE_BUILD_TYPE=Release -DQXSYM_WERROR=ON"
  "default gcc -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQXSYM_WERROR=ON"
  "tsan-clang clang -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=thread"
  "asan-gcc gcc -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=address"
  "tsan-gcc gcc -DCMAKE_BUILD_TYPE=Debug -DQXSYM_SANITIZE=thread"
)
# Builds in different folders share ccache entries.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}

status=0
mkdir -p "$root"
for entry in "${builds[@]}"; do
  read -r name compiler args <<<"$entry"
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  case $compiler in
    gcc) cc=gcc cxx=g++ ;;
    clang) cc=clang cxx=clang++ ;;
  esac
  dir=$root/$name
  log=$root/$name.log
  start=$(date +%s)
  # shellcheck disable=SC2086
  if { cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
         "${launcher[@]}" $args && cmake --build "$dir" -j"$jobs" --target all; } >"$log" 2>&1; then
    result=OK
  else
    result=FAILED
    status=1
  fi
  printf '%-15s %-6s %5ss  (%s %s)\n' "$name" "$result" "$(($(date +%s) - start))" "$compiler" "$args"
done
exit $status
