'use strict';
// Values between the client core's flat layouts and JavaScript, against
// qxsym-sim: nesting follows the leaves' paths and declared bounds
// (negative ones too), a value given in part writes exactly the parts
// given, typed texts are read and checked by the core's rules, and shapes
// that do not fit are refused before anything is sent.
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith } = require('./support');

// T: { A: INT, Pts: ARRAY[-1..0] OF { X: INT }, G: ARRAY[1..2, 5..6] OF INT }
const MODEL = {
  name: 'layouts',
  types: [
    { name: 'PT', kind: 'STRUCT', members: [{ name: 'X', type: 'INT' }] },
    {
      name: 'T',
      kind: 'STRUCT',
      members: [
        { name: 'A', type: 'INT', value: 1 },
        { name: 'Pts', type: 'ARRAY[-1..0] OF PT', value: [{ X: 2 }, { X: 3 }] },
        {
          name: 'G',
          type: 'ARRAY[1..2, 5..6] OF INT',
          value: [
            [4, 5],
            [6, 7],
          ],
        },
      ],
    },
  ],
  tags: [
    { name: 'T', type: 'T' },
    { name: 'Small', type: 'USINT' },
    { name: 'Name', type: 'STRING[8]' },
  ],
};
const START = {
  A: 1,
  Pts: [{ X: 2 }, { X: 3 }],
  G: [
    [4, 5],
    [6, 7],
  ],
};

let sim;
let ws;
let dir;
before(async () => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-codec-'));
  fs.writeFileSync(path.join(dir, 'model.json'), JSON.stringify(MODEL));
  sim = await startSim({ model: path.join(dir, 'model.json') });
  ws = await api.connect({ port: sim.port, timeout: 2000 });
});
after(async () => {
  await ws.close();
  await sim.stop();
  fs.rmSync(dir, { recursive: true, force: true });
});

test('leaves nest into members, arrays of structures and dimensions, by declared bounds', async () => {
  assert.deepEqual(await ws.read('T'), START);
  assert.deepEqual(await ws.read('T.Pts[-1]'), { X: 2 });
  assert.equal(await ws.read('T.G[2,5]'), 6);
  const layout = await ws.layout('T');
  assert.equal(layout.valueCount, 7);
  assert.deepEqual(
    layout.leaves.map((l) => l.path),
    ['T.A', 'T.Pts[-1].X', 'T.Pts[0].X', 'T.G'],
  );
  assert.deepEqual(layout.leaves[3].lower, [1, 5]);
  const type = await ws.type('T');
  assert.deepEqual(
    type.members.map((m) => [m.name, m.offset, m.type.kind]),
    [
      ['A', 0, 'int'],
      ['Pts', 2, 'array'],
      ['G', 6, 'array'],
    ],
  );
  assert.deepEqual([type.members[1].type.lower, type.members[1].type.element.name], [[-1], 'PT']);
});

test('a value given in part writes only the parts given', async () => {
  await ws.write('T', { pts: [undefined, { x: 30 }], G: [[40, 50], [60]] });
  assert.deepEqual(await ws.read('T'), {
    A: 1,
    Pts: [{ X: 2 }, { X: 30 }],
    G: [
      [40, 50],
      [60, 7],
    ],
  });
  await ws.write('T', {});
  await ws.write('T', START);
  assert.deepEqual(await ws.read('T'), START);
});

test('parts the layout does not have, and shapes that do not fit it, are refused', async () => {
  const refused = [
    [{ B: 1 }, 'symResSymbolNotFound', /'T\.B': no such member/],
    [{ Pts: [{}, {}, {}] }, 'symResInvalidArrayIndex', /'T\.Pts': 3 elements, the array holds 2/],
    [{ G: [[1, 2, 3]] }, 'symResInvalidArrayIndex', /'T\.G': 3 elements, the dimension holds 2/],
    [{ A: {} }, 'symResInvalidParameter', /value for 'T\.A': expected a value, got an object/],
    [{ G: [1, 2] }, 'symResInvalidParameter', /value for 'T\.G': expected an array, got 1/],
    [[1], 'symResInvalidParameter', /value for 'T': expected an object, got an array/],
    [{ A: null }, 'symResInvalidParameter', /expected a value, got null/],
    [{ A: 1, G: [[1, 1e6]] }, 'symResInvalidParameter', /value for 'T\.G/],
    [undefined, 'symResInvalidParameter', /value for 'T': none given/],
  ];
  for (const [value, result, message] of refused) {
    const e = await rejectsWith(ws.write('T', value), result);
    assert.match(e.message, message);
  }
  // Deeply nested and cyclic values are refused as they are copied.
  const cyclic = { A: 1 };
  cyclic.Pts = [cyclic];
  await rejectsWith(ws.write('T', cyclic), 'symResInvalidParameter');
  await rejectsWith(ws.write('T', { G: new Array(2 ** 21) }), 'symResInvalidParameter');
  assert.deepEqual(await ws.read('T'), START);
});

test('typed text is read and checked by the core as a write would be, nothing written', async () => {
  assert.equal(await ws.parse('Small', ' 16#FF '), 255);
  assert.equal(await ws.parse('Name', '16#FF'), '16#FF');
  assert.deepEqual(await ws.parse('T', '{"a": "16#7F", "G": [["2#11", 4]]}'), {
    A: 127,
    G: [[3, 4]],
  });
  const refused = [
    [
      'Small',
      '300',
      /^symResInvalidParameter \(5\): value for 'Small': 300 is out of range: USINT takes 0 to 255/,
    ],
    ['Small', 'many', /value for 'Small': /],
    ['T', '{"A": 40000}', /value for 'T\.A': 40000 is out of range: INT takes -32768 to 32767/],
    ['T', 'A=1', /value for 'T': T takes a JSON object/],
    ['T.G', '[[1]', /T\.G.* takes a JSON array/],
    ['Name', 'ninechars', /value for 'Name'/],
  ];
  for (const [name, text, message] of refused) {
    const e = await rejectsWith(ws.parse(name, text), 'symResInvalidParameter');
    assert.match(e.message, message);
  }
  await rejectsWith(ws.parse('Nope', '1'), 'symResSymbolNotFound');
  await rejectsWith(ws.parse('Small', 5), 'symResInvalidParameter');
  assert.deepEqual(await ws.read('T'), START);
  assert.equal(await ws.read('Small'), 0);
});
