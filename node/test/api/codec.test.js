'use strict';
// Type trees as a controller might describe them, sound or not: values are
// taken apart only where the tree fits the bytes read.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const { decode, encode } = require('../../lib/codec');
const { QXSymError } = require('../../lib/errors');

const INT = { name: 'INT', size: 2, properties: 1 | 64 | 128 | 256, offset: 0 };
const struct = (size, children, extra = {}) =>
  ({ name: 'S', size, properties: 2 | 16, offset: 0, children, ...extra });
const member = (name, offset, node = INT) => ({ ...node, member: name, offset });

function refused(fn, result) {
  assert.throws(fn, (e) => e instanceof QXSymError && e.result === result);
}

test('trees that do not fit the bytes, or of unknown layout, are refused', () => {
  const buf = Buffer.alloc(4);
  refused(() => decode(struct(8, [member('A', 0), member('B', 6)]), buf, 0, 'T'),
          'symResInvalidTagSize');
  refused(() => decode(struct(4, [member('A', 0)], { layoutUnknown: true }), buf, 0, 'T'),
          'symResInvalidTagType');
  refused(() => decode({ name: 'ODD', size: 3, properties: 1 | 256, offset: 0 }, buf, 0, 'T'),
          'symResInvalidTagType');
  const array = { name: 'A', size: 4, properties: 2 | 8, offset: 0, dims: [4], children: [INT] };
  refused(() => decode(array, buf, 0, 'T'), 'symResInvalidTagSize');
  refused(() => encode(array, [1, 2, 3, 4], buf, 0, true, 'T'), 'symResInvalidTagSize');
  assert.deepEqual(decode(struct(4, [member('A', 0), member('B', 2)]), Buffer.from([1, 0, 2, 0]), 0, 'T'),
                   { A: 1, B: 2 });
});

test('strict encoding needs every member; partial encoding keeps the rest', () => {
  const node = struct(4, [member('A', 0), member('B', 2)]);
  refused(() => encode(node, { A: 5 }, Buffer.alloc(4), 0, true, 'T'), 'symResInvalidParameter');
  const buf = Buffer.from([1, 0, 2, 0]);
  encode(node, { b: -1 }, buf, 0, false, 'T');
  assert.deepEqual([...buf], [1, 0, 0xff, 0xff]);
});
