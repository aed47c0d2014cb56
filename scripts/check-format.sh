#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from the project's formatting.
set -uo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' 2>/dev/null | grep -v -E '(^|/)(node_modules|third_party)/')
[ -z "$files" ] && exit 0
bad=0
for f in $files; do
  [ -f "$f" ] || continue
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done
exit $bad
