'use strict';
// Copies the chart library from node_modules into public/vendor, so the page
// is served as plain files and nothing is fetched at run time.
const fs = require('fs');
const path = require('path');

const out = path.join(__dirname, '..', 'public', 'vendor');
fs.mkdirSync(out, { recursive: true });
for (const file of ['uPlot.iife.min.js', 'uPlot.min.css']) {
  fs.copyFileSync(
    require.resolve(`uplot/dist/${file}`, { paths: [path.join(__dirname, '..')] }),
    path.join(out, file),
  );
}
