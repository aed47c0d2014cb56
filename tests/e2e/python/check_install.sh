#!/usr/bin/env bash
# check_install.sh PYTHON SOURCE WORK: installs the package from a copy of
# SOURCE with pip, offline and without build isolation (Debian's setuptools),
# into WORK, with the library $QXSYMBOLS_LIBRARY placed beside the package,
# then imports the installed copy and reads a tag through it, finding the
# libraries beside itself.
set -euo pipefail
python=$1 source=$2 work=$3
if ! "$python" -m pip --version >/dev/null 2>&1; then
  echo "pip is missing for $python (Debian: python3-pip): install check skipped"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cp -r "$source" "$work/src"
rm -rf "$work/src/build" "$work/src"/*.egg-info
cp "$QXSYMBOLS_LIBRARY" "$work/src/qxsymbols/libQXSymbols.so"
cp "$QXSYMCORE_LIBRARY" "$work/src/qxsymbols/libQXSymCore.so"
"$python" -m pip install --quiet --no-build-isolation --no-index --no-deps \
  --target "$work/site" "$work/src"
test -f "$work/site/qxsymbols/py.typed"
test -f "$work/site/qxsymbols/libQXSymbols.so"
test -f "$work/site/qxsymbols/libQXSymCore.so"
cd "$work"
unset QXSYMBOLS_LIBRARY QXSYMCORE_LIBRARY
PYTHONPATH="$work/site" exec bash "$(dirname "$0")/../../support/with_sim.sh" --scan 0 -- \
  "$python" -c '
import os, qxsymbols
assert qxsymbols.__file__.startswith(os.environ["PYTHONPATH"]), qxsymbols.__file__
from qxsymbols._lib import library
assert library()._name.startswith(os.environ["PYTHONPATH"]), library()._name
with qxsymbols.connect(os.environ["QXSYM_SIM_HOST"], int(os.environ["QXSYM_SIM_PORT"])) as ws:
    assert ws.read("Operator") == "Miller"
print("installed", qxsymbols.__version__)
'
