#!/usr/bin/env bash
# scripts/install-deps.sh installs per purpose: run as a user on a machine
# where dpkg knows no package, it names what each purpose would install and
# stops. The demo gets no Windows, browser or type-check packages; CI's
# purposes together get every package any stage uses.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
printf '#!/bin/sh\nexit 1\n' >"$fake/dpkg-query"
printf '#!/bin/sh\necho 1000\n' >"$fake/id"
printf '#!/bin/sh\nexit 0\n' >"$fake/dpkg"
chmod +x "$fake"/*
failed=0

# The packages a purpose asks for, one a line.
wanted() {
  local out status=0
  out=$(PATH="$fake:$PATH" bash "$root/scripts/install-deps.sh" "$@" 2>&1) || status=$?
  if [ $status -ne 1 ] || [[ $out != "missing Debian packages: "* ]]; then
    echo "install-deps.sh $*: expected the missing packages and status 1, got $status: $out" >&2
    exit 1
  fi
  out=${out#missing Debian packages: }
  tr ' ' '\n' <<<"${out%%;*}"
}
has() {  # has LIST PACKAGE
  grep -qx -- "$2" <<<"$1"
}
expect() {  # expect WHAT yes|no PACKAGE...
  local what=$1 want=$2
  shift 2
  for p in "$@"; do
    if has "$list" "$p"; then got=yes; else got=no; fi
    if [ "$got" != "$want" ]; then
      echo "install-deps.sh $what: $p $( [ "$want" = yes ] && echo missing || echo not wanted)" >&2
      failed=1
    fi
  done
}

list=$(wanted demo)
expect demo yes cmake g++ libcli11-dev nlohmann-json3-dev libgtest-dev
expect demo no mingw-w64 wine64 chromium mypy clang doxygen python3-pytest
list=$(wanted test)
expect test yes chromium mypy python3-pytest python3-wheel doxygen clang-format black flake8 libgtest-dev
expect test yes libyaml-cpp-dev libprotobuf-c-dev protobuf-c-compiler protobuf-compiler python3-protobuf
expect test yes libsqlite3-dev libmosquitto-dev mosquitto python3-paho-mqtt openssl
expect test no mingw-w64 wine64 clang
list=$(wanted windows)
expect windows yes mingw-w64 wine64 googletest cmake
expect windows no chromium mypy
list=$(wanted fuzz)
expect fuzz yes clang libclang-rt-14-dev llvm libprotobuf-c-dev protobuf-c-compiler libsqlite3-dev
expect fuzz no chromium mingw-w64
list=$(wanted test windows robustness)
expect CI yes cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev nlohmann-json3-dev \
  libcli11-dev clang-format clang libclang-rt-14-dev llvm python3-pytest python3-setuptools \
  python3-pip python3-wheel mypy mingw-w64 wine64 googletest chromium chromium-driver doxygen

status=0
PATH="$fake:$PATH" bash "$root/scripts/install-deps.sh" >/dev/null 2>&1 || status=$?
[ $status -eq 2 ] || { echo "install-deps.sh without a purpose: status $status, not 2" >&2; failed=1; }
status=0
PATH="$fake:$PATH" bash "$root/scripts/install-deps.sh" demo everything >/dev/null 2>&1 || status=$?
[ $status -eq 2 ] || { echo "install-deps.sh with an unknown purpose: status $status" >&2; failed=1; }
exit $failed
