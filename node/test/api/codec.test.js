'use strict';
// Layouts as the client core delivers them, taken to plain values and
// back: nesting follows the leaves' paths and declared bounds, and a
// value given in part becomes write items of exactly the parts given.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const { decode, encode } = require('../../lib/codec');
const { QXSymError } = require('../../lib/errors');

const leaf = (path, offset, extra = {}) =>
  ({ path, offset, size: 2, tyvar: 5, kind: 2, elementSize: 2, count: 1, dims: [], lower: [], ...extra });
// T: { A: INT, Pts: ARRAY[-1..0] OF { X: INT }, G: ARRAY[1..2, 5..6] OF INT }
const LAYOUT = {
  path: 'T', typeName: 'T', size: 14,
  leaves: [
    leaf('T.A', 0), leaf('T.Pts[-1].X', 2), leaf('T.Pts[0].X', 4),
    leaf('T.G', 6, { size: 8, count: 4, dims: [2, 2], lower: [1, 5] }),
  ],
};

function refused(fn, result) {
  assert.throws(fn, (e) => e instanceof QXSymError && e.result === result);
}

test('leaves nest into members, arrays of structures and dimensions, last index fastest', () => {
  assert.deepEqual(decode({ layout: LAYOUT, values: [1, 2, 3, 4, 5, 6, 7] }),
                   { A: 1, Pts: [{ X: 2 }, { X: 3 }], G: [[4, 5], [6, 7]] });
  const single = { path: 'G[2,5]', leaves: [leaf('G[2,5]', 0)] };
  assert.equal(decode({ layout: single, values: [9] }), 9);
});

test('a whole value is one item; a partial one names each part by its declared indices', () => {
  assert.deepEqual(encode(LAYOUT, { a: 1, Pts: [{ X: 2 }, { X: 3 }], G: [[4, 5], [6, 7]] }),
                   [{ path: 'T', values: [1, 2, 3, 4, 5, 6, 7] }]);
  assert.deepEqual(encode(LAYOUT, { Pts: [undefined, { x: 3 }], G: [[4, 5], [6]] }), [
    { path: 'T.Pts[0].X', values: [3] },
    { path: 'T.G[1,5]', values: [4] }, { path: 'T.G[1,6]', values: [5] }, { path: 'T.G[2,5]', values: [6] },
  ]);
  assert.deepEqual(encode(LAYOUT, {}), []);
});

test('parts the layout does not have, and shapes that do not fit it, are refused', () => {
  refused(() => encode(LAYOUT, { B: 1 }), 'symResSymbolNotFound');
  refused(() => encode(LAYOUT, { Pts: [{}, {}, {}] }), 'symResInvalidArrayIndex');
  refused(() => encode(LAYOUT, { G: [[1, 2, 3]] }), 'symResInvalidArrayIndex');
  refused(() => encode(LAYOUT, { A: {} }), 'symResInvalidParameter');
  refused(() => encode(LAYOUT, { G: [1, 2] }), 'symResInvalidParameter');
  refused(() => encode(LAYOUT, [1]), 'symResInvalidParameter');
});
