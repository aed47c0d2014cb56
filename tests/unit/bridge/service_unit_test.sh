#!/usr/bin/env bash
# The systemd unit as built: systemd-analyze accepts it without a word (an
# unknown or misspelt directive is only a warning to systemd, which would
# silently drop a hardening option), and it runs the programs it names.
# Usage: service_unit_test.sh UNIT_TEMPLATE BRIDGE_EXE
set -uo pipefail
template=$1
exe=$2
if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "systemd-analyze not found; skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# An instance name, and the bridge from the build tree instead of the
# install prefix, so that the check of ExecStart finds a program.
unit="$work/qxsym-bridge@line1.service"
sed "s#@QXSYM_BRIDGE_BINDIR@#$(dirname "$exe")#g" "$template" >"$unit"
grep -q '^ExecStart=.*--config /etc/qxsym-bridge/%i.yaml$' "$unit" || {
  echo "ExecStart does not read the instance's file" >&2
  exit 1
}
out=$(systemd-analyze verify --man=no "$unit" 2>&1)
rc=$?
if [ $rc -ne 0 ] || [ -n "$out" ]; then
  echo "systemd-analyze verify (status $rc):" >&2
  echo "$out" >&2
  exit 1
fi
