'use strict';
// Loads the add-on QXSymbols.node and exports its module unchanged. The
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
      'qxsymbols: QXSymbols.node not found (looked at ' + candidates.join(', ') +
        '); build it with "npm install" in the package folder or set QXSYMBOLS_ADDON');
  }
  return found;
}

module.exports = require(findAddon());
