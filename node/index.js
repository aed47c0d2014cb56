'use strict';
// Loads the add-on QXSymbols.node and exports its module unchanged, with the
// promise API's connect() beside it. The
// add-on is looked for at $QXSYMBOLS_ADDON, then where the package's install
// step builds it (build/), then in a CMake build tree of the checkout.
const fs = require('fs');
const path = require('path');

function findAddon() {
  const candidates = [
    process.env.QXSYMBOLS_ADDON,
    path.join(__dirname, 'build', 'QXSymbols.node'),
    path.join(__dirname, '..', 'build', 'node', 'QXSymbols.node'),
  ].filter(Boolean);
  const found = candidates.find((file) => fs.existsSync(file));
  if (!found) {
    throw new Error(
      'qxsymbols: QXSymbols.node not found (looked at ' +
        candidates.join(', ') +
        '); build it with "npm install" in the package folder or set QXSYMBOLS_ADDON',
    );
  }
  return found;
}

module.exports = require(findAddon());

// The promise API (lib/api.js) beside the module's own surface: loaded on
// first use, and not enumerable, so the module's surface stays as it is.
for (const name of ['connect', 'Workspace', 'Group', 'QXSymError', 'codes', 'resultName']) {
  Object.defineProperty(module.exports, name, {
    get: () => require('./lib/api')[name],
    enumerable: false,
    configurable: false,
  });
}
