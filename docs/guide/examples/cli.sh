#!/bin/sh
# The command-line tool against a controller at $QXSYM_HOST:$QXSYM_PORT.
set -e
qxsym info                                   # version, support level, number of tags
qxsym ls 'Cnt*'                              # tags matching a filter
qxsym read Line.Speed Temps[3] MachineState  # one group exchange
qxsym write Recipe '{"Id": 7, "OvenTemp": 180.5}'
qxsym --json read Recipe.Id                  # one JSON document
qxsym type Recipe                            # the type tree
qxsym watch --interval 100 --count 5 Heartbeat
qxsym table --force symbols.bin              # the raw symbol table
if ! qxsym write SerialNumber X; then        # exit status 1: the library refused
  echo "refused, as expected: SerialNumber is read-only"
fi
