#!/usr/bin/env bash
# run_with_sim.sh SIM MODEL PROGRAM [ARGS...]
# Starts the simulator on a free loopback port, runs PROGRAM HOST PORT ARGS...
# against it, stops the simulator and returns PROGRAM's exit status.
set -euo pipefail
sim=$1 model=$2 program=$3
shift 3
out=$(mktemp)
"$sim" --model "$model" --host 127.0.0.1 --port 0 >"$out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 1 100); do
  line=$(head -n1 "$out" 2>/dev/null || true)
  case "$line" in listening\ on\ *) break ;; esac
  kill -0 "$sim_pid" 2>/dev/null || { echo "simulator did not start" >&2; exit 1; }
  sleep 0.05
done
case "$line" in listening\ on\ *) ;; *) echo "simulator did not report its port" >&2; exit 1 ;; esac
endpoint=${line#listening on }
echo "--- $(basename "$program") against the simulator at $endpoint"
"$program" "${endpoint%:*}" "${endpoint##*:}" "$@"
