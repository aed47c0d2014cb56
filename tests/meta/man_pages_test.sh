#!/usr/bin/env bash
# The manual pages render as written: groff reports no problem, and the
# label of every .TP entry is one line (a label continued by font requests
# on the following lines renders its tail as the entry's text).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failed=0
for page in "$root"/docs/man/*.1; do
  if command -v groff >/dev/null 2>&1; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
      echo "$page: $warnings" >&2
      failed=1
    fi
  fi
  awk -v page="$page" '
    after_tag && /^\.(B|I|R|BI|BR|IB|IR|RB|RI)( |$)/ {
      printf "%s:%d: the label of the entry above goes on here; write it on one line\n", page, NR
      bad = 1
    }
    { after_tag = (label_next == 1); label_next = ($0 == ".TP") ? 1 : 0 }
    END { exit bad }
  ' "$page" >&2 || failed=1
done
exit $failed
