#!/bin/sh
# run_example.sh [--host-port] PROGRAM [ARGS...]
# Run inside tests/support/with_sim.sh: exports QXSYM_HOST and QXSYM_PORT for
# the simulator it started and runs PROGRAM; with --host-port the host and
# port also go first on PROGRAM's command line, as the C examples take them.
export QXSYM_HOST="$QXSYM_SIM_HOST" QXSYM_PORT="$QXSYM_SIM_PORT"
if [ "$1" = "--host-port" ]; then
  shift
  program=$1
  shift
  exec "$program" "$QXSYM_HOST" "$QXSYM_PORT" "$@"
fi
exec "$@"
