'use strict';
// ESLint for the project's JavaScript: Node.js CommonJS everywhere, browser
// globals for the explorer's page scripts. Formatting is Prettier's job.
const js = require('./scripts/lint/node_modules/@eslint/js');
const globals = require('./scripts/lint/node_modules/globals');

module.exports = [
  { ignores: ['**/node_modules/**', '**/vendor/**', 'build*/**', '**/*.ts'] },
  js.configs.recommended,
  {
    files: ['**/*.js'],
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: 'commonjs',
      globals: { ...globals.node },
    },
    rules: {
      'no-unused-vars': ['error', { argsIgnorePattern: '^_', caughtErrors: 'none' }],
    },
  },
  {
    // The page's scripts, and the browser tests' and benchmark's functions evaluated in the page.
    files: [
      'node/explore/public/**/*.js',
      'node/explore/test/*.e2e.test.js',
      'node/explore/bench/*.js',
    ],
    languageOptions: {
      globals: { ...globals.browser, uPlot: 'readonly', QXCsv: 'readonly', QXTree: 'readonly' },
    },
  },
];
