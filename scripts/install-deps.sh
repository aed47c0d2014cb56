#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Skips apt
# entirely when everything is already there; when something is missing and
# this is not root, names the packages and stops. scripts/demo.sh and
# scripts/test.sh run it before they configure.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
  clang-format
  # Fuzz targets and sanitizer runs (scripts/ci-robustness.sh): clang with
  # libFuzzer and its sanitizer runtimes, and the symbolizer for reports.
  clang libclang-rt-14-dev llvm
  # The Python package: its tests (pytest) and its offline install with pip.
  python3-pytest python3-setuptools python3-pip python3-wheel
  # Checks the Python package's type hints.
  mypy
  # Windows builds and their tests (scripts/windows.sh): MinGW-w64 compilers,
  # wine64 to run the 64-bit tests, GoogleTest sources to build for Windows.
  mingw-w64 wine64 googletest
  # The tag explorer's browser tests: a headless Chromium the npm driver
  # launches (it downloads no browser of its own).
  chromium chromium-driver
  # The API reference (target docs) and its check of undocumented functions.
  doxygen
)
# Node.js add-on: node, npm and the Node-API headers, unless a Node.js is there.
command -v node >/dev/null 2>&1 || packages+=(nodejs npm libnode-dev)
missing=()
if ! command -v dpkg >/dev/null 2>&1; then
  echo "install-deps.sh: not a Debian system, packages not checked" >&2
  exit 0
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]}; install them with:" \
      "sudo $(cd "$(dirname "$0")" && pwd)/install-deps.sh" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

# npm packages of the project's own checks, pinned by their lock files and
# installed into the source tree (nothing global).
# TypeScript (npm) for the check of the Node.js package's declarations.
typecheck="$(dirname "$0")/../node/test/api/typecheck"
if command -v npm >/dev/null 2>&1 && [ ! -f "$typecheck/node_modules/typescript/bin/tsc" ]; then
  npm ci --prefix "$typecheck" --no-audit --no-fund --loglevel=error
fi
# The tag explorer's npm packages: uplot (vendored into its page by the
# postinstall step) and playwright-core for its browser tests.
explore="$(dirname "$0")/../node/explore"
if command -v npm >/dev/null 2>&1 && [ ! -d "$explore/node_modules/playwright-core" ]; then
  npm ci --prefix "$explore" --no-audit --no-fund --loglevel=error
fi
