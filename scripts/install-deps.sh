#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Skips apt
# entirely when everything is already there.
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
  # The API reference (target docs) and its check of undocumented functions.
  doxygen
)
# Node.js add-on: node, npm and the Node-API headers, unless a Node.js is there.
command -v node >/dev/null 2>&1 || packages+=(nodejs npm libnode-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
