#!/usr/bin/env bash
# qxsym_tour.sh HOST PORT QXSYM: a short tour of the demo machine with the
# command-line tool (run by scripts/demo.sh through run_with_sim.sh).
set -euo pipefail
export QXSYM_HOST=$1 QXSYM_PORT=$2
qxsym=$3
step() {
  printf '\n$ qxsym %s\n' "$*"
  "$qxsym" "$@"
}
step info
step ls 'Cnt*'
step type Line.Main
step read Line.Main.Speed Temps Recipe
step write Recipe.Id 43
step write Recipe.StepTemps '[100, 120, 140, 160, 180]'
step --json read CntUlint Grid
step watch --interval 500 --count 4 Heartbeat CntDint Line.PartsToday
table=$(mktemp)
step table --force "$table"
rm -f "$table"
step bench --count 200 --max-group 100 CntDint
printf '\n$ qxsym write SerialNumber X   # a read-only tag: exit status 1\n'
"$qxsym" write SerialNumber X || true
