'use strict';
// Runs before "npm pack": copies the library's sources (top-level CMake
// files, cmake/, include/, src/) into native/, so the tarball builds on its
// own. The checkout is the folder above the package, or
// $QXSYMBOLS_SOURCE_ROOT.
const fs = require('fs');
const path = require('path');

const pkg = path.resolve(__dirname, '..');
const source = path.resolve(process.env.QXSYMBOLS_SOURCE_ROOT || path.join(pkg, '..'));
const target = path.join(pkg, 'native');

if (!fs.existsSync(path.join(source, 'include', 'QXSymbols.h'))) {
  console.error(
    'qxsymbols: no library sources at ' + source + ' (set QXSYMBOLS_SOURCE_ROOT to the checkout)',
  );
  process.exit(1);
}
fs.rmSync(target, { recursive: true, force: true });
fs.mkdirSync(target);
fs.copyFileSync(path.join(source, 'CMakeLists.txt'), path.join(target, 'CMakeLists.txt'));
for (const dir of ['cmake', 'include', 'src']) {
  fs.cpSync(path.join(source, dir), path.join(target, dir), { recursive: true });
}
