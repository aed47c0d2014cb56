#!/usr/bin/env bash
# with_sim.sh [SIMULATOR ARGS...] -- COMMAND [ARGS...]
#
# Starts qxsym-sim on a free loopback port with the given arguments, runs
# COMMAND with QXSYM_SIM_HOST and QXSYM_SIM_PORT set to its address, then
# stops the simulator with SIGTERM and returns COMMAND's exit status (or 1
# when the simulator did not start or did not stop cleanly). The program is
# $QXSYM_SIM when set, else build/sim/server/qxsym-sim under the project.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sim=${QXSYM_SIM:-$root/build/sim/server/qxsym-sim}

args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  args+=("$1")
  shift
done
if [ $# -lt 2 ]; then
  echo "usage: $0 [SIMULATOR ARGS...] -- COMMAND [ARGS...]" >&2
  exit 2
fi
shift

coproc SIM { exec "$sim" --host 127.0.0.1 --port 0 "${args[@]}"; }
sim_pid=$SIM_PID
stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || return 0
  wait "$sim_pid"
}
trap 'kill -KILL "$sim_pid" 2>/dev/null || true' EXIT

line=""
if ! read -r -t 10 line <&"${SIM[0]}"; then
  echo "with_sim.sh: $sim did not announce its address" >&2
  exit 1
fi
case "$line" in
  "listening on "*:*) ;;
  *) echo "with_sim.sh: unexpected first line: $line" >&2; exit 1 ;;
esac
endpoint=${line#listening on }
export QXSYM_SIM_HOST=${endpoint%:*}
export QXSYM_SIM_PORT=${endpoint##*:}

status=0
"$@" || status=$?
sim_status=0
stop_sim || sim_status=$?
trap - EXIT
if [ "$status" -eq 0 ] && [ "$sim_status" -ne 0 ]; then
  echo "with_sim.sh: the simulator exited with $sim_status" >&2
  exit 1
fi
exit "$status"
