'use strict';
// The async add-on qxsymbols_async.node (the client core's calls as
// Node-API async work), found at $QXSYMBOLS_ASYNC_ADDON, in the package's
// build folder or in a CMake build tree of the checkout; loaded on first use.
const fs = require('fs');
const path = require('path');

function findAddon() {
  const candidates = [
    process.env.QXSYMBOLS_ASYNC_ADDON,
    path.join(__dirname, '..', 'build', 'qxsymbols_async.node'),
    path.join(__dirname, '..', 'build', 'async', 'qxsymbols_async.node'),
    path.join(__dirname, '..', '..', 'build', 'node', 'async', 'qxsymbols_async.node'),
  ].filter(Boolean);
  const found = candidates.find((file) => fs.existsSync(file));
  if (!found) {
    throw new Error(
      'qxsymbols: qxsymbols_async.node not found (looked at ' +
        candidates.join(', ') +
        '); build it or set QXSYMBOLS_ASYNC_ADDON',
    );
  }
  return found;
}

let loaded = null;
module.exports = () => loaded || (loaded = require(findAddon()));
