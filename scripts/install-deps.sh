#!/usr/bin/env bash
# Installs the Debian packages that one purpose needs, and no others:
#
#   scripts/install-deps.sh PURPOSE...
#
#   demo        build the library, the tools and the examples, and run them
#               (scripts/demo.sh)
#   test        the test suite (scripts/test.sh): the demo's packages, the
#               Python, Node.js, explorer and documentation checks
#   windows     the Windows builds and their tests under Wine (scripts/windows.sh)
#   fuzz        clang with libFuzzer (scripts/fuzz.sh, scripts/build-matrix.sh)
#   robustness  the suite under sanitizers and the fuzz run
#               (scripts/ci-robustness.sh): test and fuzz together
#
# Skips apt entirely when everything is already there; when something is
# missing and this is not root, names the packages and stops. Each script
# runs it with its own purpose before it configures.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Configuring and building (a default configuration builds the tests, so
# GoogleTest is part of it) and running the simulator and the tool.
build_packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
)
test_packages=(
  clang-format
  # The Python package: its tests (pytest) and its offline install with pip.
  python3-pytest python3-setuptools python3-pip python3-wheel
  # Checks the Python package's type hints.
  mypy
  # The tag explorer's browser tests: a headless Chromium the npm driver
  # launches (it downloads no browser of its own).
  chromium chromium-driver
  # The API reference (target docs) and its check of undocumented functions.
  doxygen
  # Formatting and lint of the Python sources (scripts/check-lint.sh).
  black flake8
  # qxsym-bridge: its YAML configuration, its store-and-forward file, MQTT;
  # its payloads (protobuf-c and its generator; protoc and the Python module
  # for the tests that read them); the broker, the subscriber and openssl for
  # the end-to-end tests.
  libyaml-cpp-dev libsqlite3-dev libmosquitto-dev
  libprotobuf-c-dev protobuf-c-compiler protobuf-compiler python3-protobuf
  mosquitto python3-paho-mqtt openssl
)
# MinGW-w64 compilers, wine64 to run the 64-bit tests, GoogleTest sources to
# build for Windows.
windows_packages=(mingw-w64 wine64 googletest)
# Fuzz targets and sanitizer runs: clang with libFuzzer and its sanitizer
# runtimes, and the symbolizer for reports; qxsym-bridge's libraries for
# the fuzzer of its payload decoder.
fuzz_packages=(clang libclang-rt-14-dev llvm libyaml-cpp-dev libprotobuf-c-dev protobuf-c-compiler
  libsqlite3-dev libmosquitto-dev)

usage() {
  echo "usage: $0 PURPOSE... (demo, test, windows, fuzz, robustness)" >&2
  exit 2
}
[ $# -gt 0 ] || usage
packages=("${build_packages[@]}")
npm_checks=false
for purpose in "$@"; do
  case $purpose in
    demo) ;;
    test) packages+=("${test_packages[@]}") npm_checks=true ;;
    windows) packages+=("${windows_packages[@]}") ;;
    fuzz) packages+=("${fuzz_packages[@]}") ;;
    robustness) packages+=("${test_packages[@]}" "${fuzz_packages[@]}") npm_checks=true ;;
    *) echo "install-deps.sh: unknown purpose '$purpose'" >&2 && usage ;;
  esac
done
# Node.js add-on and its tests: node, npm and the Node-API headers, unless a
# Node.js is there.
if $npm_checks && ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs npm libnode-dev)
fi

if ! command -v dpkg >/dev/null 2>&1; then
  echo "install-deps.sh: not a Debian system, packages not checked" >&2
  exit 0
fi
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]}; install them with:" \
      "sudo $here/install-deps.sh $*" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

# npm packages of the project's own checks, pinned by their lock files and
# installed into the source tree (nothing global); the tests only.
$npm_checks || exit 0
# TypeScript (npm) for the check of the Node.js package's declarations.
typecheck="$here/../node/test/api/typecheck"
if command -v npm >/dev/null 2>&1 && [ ! -f "$typecheck/node_modules/typescript/bin/tsc" ]; then
  npm ci --prefix "$typecheck" --no-audit --no-fund --loglevel=error
fi
# ESLint and Prettier for the JavaScript sources (scripts/check-lint.sh).
lint="$here/lint"
if command -v npm >/dev/null 2>&1 && [ ! -f "$lint/node_modules/eslint/bin/eslint.js" ]; then
  npm ci --prefix "$lint" --no-audit --no-fund --loglevel=error
fi
# The tag explorer's npm packages: uplot (vendored into its page by the
# postinstall step) and playwright-core for its browser tests.
explore="$here/../node/explore"
if command -v npm >/dev/null 2>&1 && [ ! -d "$explore/node_modules/playwright-core" ]; then
  npm ci --prefix "$explore" --no-audit --no-fund --loglevel=error
fi
