#!/usr/bin/env bash
# pack-check.sh SOURCE_ROOT WORK_DIR
# Packs the npm package from a copy of node/, installs the tarball into an
# empty folder without the registry, and loads it there with
# require('qxsymbols').
set -euo pipefail
root=$(cd "$1" && pwd)
work=$2
rm -rf "$work"
mkdir -p "$work/pkg" "$work/app"
cd "$root/node"
# A copy of the package's own files, without anything a build left behind.
tar --exclude=./build --exclude=./native --exclude=node_modules -cf - . | tar -xf - -C "$work/pkg"
export npm_config_cache="$work/npm-cache" npm_config_offline=true npm_config_audit=false \
  npm_config_fund=false npm_config_update_notifier=false
# The install step compiles the library once more; ccache makes that cheap.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$work
fi
cd "$work/pkg"
QXSYMBOLS_SOURCE_ROOT=$root npm pack --silent --pack-destination "$work" >/dev/null
tarball=$(ls "$work"/qxsymbols-*.tgz)
cd "$work/app"
npm install --foreground-scripts "$tarball" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
unset QXSYMBOLS_ADDON
node -e "
const m = require('qxsymbols');
const assert = require('assert');
assert.strictEqual(m.QXSym_IsInitOk(), m.symResNotInited);
assert.strictEqual(m.QXSym_Init(), m.symResOk);
assert.strictEqual(m.QXSym_Shutdown(), m.symResOk);
assert.strictEqual(new m.QXSymServerAddress().port, 0);
console.log('require(\'qxsymbols\') works from', require.resolve('qxsymbols'));
// The promise API's add-on loads too: nothing listens on loopback port 1.
m.connect({ port: 1, timeout: 200 }).then(
  () => { throw new Error('connected to port 1'); },
  (e) => { assert.strictEqual(e.result, 'symResInvalidAddress'); console.log('connect() works'); });
"
