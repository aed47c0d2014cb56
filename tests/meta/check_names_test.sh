#!/usr/bin/env bash
# check_names_test.sh PYTHON ROOT WORK: the names check passes on a copy of
# the files it reads and fails once a name, a value or the version is changed
# in one of them only.
set -euo pipefail
python=$1 root=$2 work=$3
check=$root/tests/meta/check_names.py
files=(include/QXSymbols.h src/client/ResultInfo.cpp docs/guide/result-codes.md
       node/src/QXSymbols_wrap.cpp node/index.d.ts node/package.json python/pyproject.toml
       python/qxsymbols/__init__.py docs/man/qxsym.1 docs/man/qxsym-sim.1
       docs/man/qxsym-genmodel.1 CMakeLists.txt cli/main.cpp node/lib/api.js node/README.md)
fresh() {
  rm -rf "$work"
  for f in "${files[@]}"; do
    mkdir -p "$work/$(dirname "$f")"
    cp "$root/$f" "$work/$f"
  done
}
failures=0
expect_failure() {  # FILE SED-EXPRESSION: changed there only, the check must fail
  fresh
  sed -i "$2" "$work/$1"
  if cmp -s "$root/$1" "$work/$1"; then
    echo "FAILED: '$2' changes nothing in $1"
    failures=$((failures + 1))
  elif "$python" "$check" "$work" >/dev/null 2>&1; then
    echo "FAILED: the check passes with '$2' in $1"
    failures=$((failures + 1))
  fi
}
fresh
"$python" "$check" "$work"
expect_failure include/QXSymbols.h 's/symResTimeoutError/symResTimeOutError/'
expect_failure src/client/ResultInfo.cpp 's/"symResTimeoutError"/"symResTimeOutError"/'
expect_failure docs/guide/result-codes.md 's/`symResGroupIsEmpty`/`symResGroupEmpty`/'
expect_failure docs/guide/result-codes.md 's/^| 46 |/| 45 |/'
expect_failure node/src/QXSymbols_wrap.cpp '/QXSYM_K(symResProtocolError)/d'
expect_failure node/src/QXSymbols_wrap.cpp '/QXSYM_K(QXSymTypeIsInteger)/d'
expect_failure node/index.d.ts 's/symResSocketError: 48/symResSocketError: 47/'
expect_failure node/index.d.ts 's/QXSymTypeIsSigned: 128/QXSymTypeIsSigned: 129/'
expect_failure node/lib/api.js 's/codes.symResTimeoutError/codes.symResTimeOutError/'
expect_failure include/QXSymbols.h 's/QXSYMBOLS_VERSION_REVISION 1 /QXSYMBOLS_VERSION_REVISION 2 /'
expect_failure node/package.json 's/"version": "\([0-9]*\)\.\([0-9]*\)\.[0-9]*"/"version": "\1.\2.99"/'
expect_failure python/qxsymbols/__init__.py 's/^__version__ = .*/__version__ = "0.0.0.0"/'
expect_failure docs/man/qxsym.1 '1s/"QXSymbols [0-9.]*"/"QXSymbols 0.0.0"/'
expect_failure node/README.md 's/qxsymbols-[0-9.]*[0-9]\.tgz/qxsymbols-0.0.1.tgz/'
rm -rf "$work"
[ "$failures" -eq 0 ]
