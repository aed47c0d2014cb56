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
)
missing=()
if ! command -v dpkg >/dev/null 2>&1; then
  echo "install-deps.sh: not a Debian system, packages not checked" >&2
  exit 0
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]}; install them with:" \
    "sudo $(cd "$(dirname "$0")" && pwd)/install-deps.sh" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
