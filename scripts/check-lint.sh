#!/usr/bin/env bash
# Fails when a tracked JavaScript or Python file differs from the project's
# formatting (Prettier, black) or breaks a lint rule (ESLint, flake8).
# scripts/install-deps.sh test installs the tools.
set -uo pipefail
cd "$(dirname "$0")/.."
bin=scripts/lint/node_modules/.bin
if [ ! -x "$bin/eslint" ] || [ ! -x "$bin/prettier" ]; then
  echo "check-lint.sh: ESLint and Prettier missing; run scripts/install-deps.sh test" >&2
  exit 1
fi
for tool in black flake8; do
  command -v $tool >/dev/null 2>&1 || {
    echo "check-lint.sh: $tool missing; run scripts/install-deps.sh test" >&2
    exit 1
  }
done
mapfile -t js < <(git ls-files '*.js' | grep -v -E '(^|/)(node_modules|vendor)/')
mapfile -t ts < <(git ls-files '*.ts' | grep -v -E '(^|/)node_modules/')
mapfile -t py < <(git ls-files '*.py')
bad=0
if [ ${#js[@]} -gt 0 ]; then
  "$bin/prettier" --check --log-level warn "${js[@]}" "${ts[@]}" || bad=1
  "$bin/eslint" --max-warnings 0 "${js[@]}" || bad=1
fi
if [ ${#py[@]} -gt 0 ]; then
  black --quiet --check --line-length 100 "${py[@]}" || { echo "black: not formatted (see above)"; bad=1; }
  flake8 "${py[@]}" || bad=1
fi
exit $bad
