#!/usr/bin/env bash
# Builds the Windows flavours with MinGW-w64 and runs the Windows tests under
# Wine:
#   1. 32-bit QXSymbolsA.dll: built and checked from its export table (this
#      kernel runs no 32-bit code), and a caller of every family linked
#      against its import library; with UNICODE a wide name must not compile
#      (both targets);
#   2. 64-bit QXSymbolsA.dll with its tests, run under wine64 against a Linux
#      qxsym-sim on loopback.
# Build folders: $WIN_BUILD_DIR (default build-windows)/{i686,x86_64}; the
# Linux simulator comes from $BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows  # MinGW-w64, wine64 and what the Linux build needs
root=$PWD
out=${WIN_BUILD_DIR:-build-windows}
linux_build=${BUILD_DIR:-build}
jobs=${QXSYM_JOBS:-$(nproc)}
wine_loader=${WINELOADER:-/usr/lib/wine/wine64}
start=$(date +%s)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

configure() {  # arch, extra CMake arguments...
  local arch=$1
  shift
  local dir=$out/$arch
  local gen=("${generator[@]}")
  [ -f "$dir/CMakeCache.txt" ] && gen=()
  cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DQXSYM_WINDOWS_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release -DQXSYM_WERROR=ON \
    -DQXSYM_BUILD_SIM=OFF -DQXSYM_BUILD_CLI=OFF -DQXSYM_BUILD_EXAMPLES=OFF \
    "${launcher[@]}" "$@" >/dev/null
}

echo "== 32-bit QXSymbolsA.dll"
configure i686 -DQXSYM_BUILD_TESTS=OFF
cmake --build "$out/i686" -j"$jobs" --target QXSymbols
cmake -DDLL="$out/i686/src/QXSymbolsA.dll" -DOBJDUMP=i686-w64-mingw32-objdump \
  -DHEADER="include/QXSymbols.h|include/QXSymbolsExt.h" -DDECORATED=ON -P tests/meta/check_windows_exports.cmake
tests/windows/callers/check.sh i686 "$out/i686"

echo "== 64-bit QXSymbolsA.dll and tests"
configure x86_64 -DQXSYM_BUILD_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_loader"
cmake --build "$out/x86_64" -j"$jobs"
cmake -DDLL="$out/x86_64/src/QXSymbolsA.dll" -DOBJDUMP=x86_64-w64-mingw32-objdump \
  -DHEADER="include/QXSymbols.h|include/QXSymbolsExt.h" -P tests/meta/check_windows_exports.cmake
tests/windows/callers/check.sh x86_64 "$out/x86_64"

echo "== Linux simulator"
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  cmake -S . -B "$linux_build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQXSYM_WERROR=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$linux_build" -j"$jobs" --target qxsym-sim
sim_bin=$(find "$linux_build" -name qxsym-sim -type f -perm -u+x | head -n 1)

echo "== tests under wine64"
scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  WINEPREFIX=$scratch/prefix "$(dirname "$wine_loader")/wineserver" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
export WINEPREFIX=$scratch/prefix WINELOADER=$wine_loader WINEDEBUG=-all
"$wine_loader" wineboot -i >/dev/null 2>&1

# The simulator's first line names its port; read it through a pipe.
mkfifo "$scratch/sim.out"
"$sim_bin" --model tests/e2e/variant/variant_model.json --port 0 --scan 0 \
  >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
exec 3<"$scratch/sim.out"
line=""
read -r -t 20 line <&3 || true
port=${line##*:}
case "$port" in
  '' | *[!0-9]*) echo "qxsym-sim did not start: $line"; cat "$scratch/sim.err"; exit 1 ;;
esac
export QXSYM_SIM_HOST=127.0.0.1 QXSYM_SIM_PORT=$port

ctest --test-dir "$out/x86_64" --output-on-failure
echo "windows.sh: done in $(($(date +%s) - start)) s"
