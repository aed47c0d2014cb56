'use strict';
// Values through the promise API: every basic type, strings, structures,
// arrays, type descriptions, and refusals with code and name.
const assert = require('node:assert/strict');
const net = require('net');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith } = require('./support');

let sim;
let ws;
before(async () => {
  sim = await startSim();
  ws = await api.connect({ port: sim.port, timeout: 2000 });
});
after(async () => {
  await ws.close();
  await sim.stop();
});

test('every basic type round-trips at its limits', async () => {
  const cases = [
    ['B', true],
    ['B', false],
    ['Bit', true],
    ['Si', -128],
    ['Si', 127],
    ['Usi', 255],
    ['By', 0xa5],
    ['I', -32768],
    ['Ui', 65535],
    ['W', 0x1234],
    ['Di', -2147483648],
    ['Udi', 4294967295],
    ['Dw', 0xdeadbeef],
    ['Li', -(2n ** 63n)],
    ['Li', 2n ** 63n - 1n],
    ['Uli', 2n ** 64n - 1n],
    ['Lw', 0x0123456789abcdefn],
    ['R', 1.5],
    ['R', -0.25],
    ['Lr', 123456.789012345],
    ['Lr', -1e300],
    ['S', ''],
    ['S', 'abcdefghij'],
    ['S', 'Grüße'],
  ];
  for (const [name, value] of cases) {
    await ws.write(name, value);
    assert.deepEqual(await ws.read(name), value, name);
  }
  // A REAL keeps single precision and reads as the shortest decimal that
  // names it; 64-bit integers come back as BigInt also when written as a Number.
  await ws.write('R', 0.1);
  assert.equal(await ws.read('R'), 0.1);
  await ws.write('R', 16777217);
  assert.equal(await ws.read('R'), 16777216);
  await ws.write('Li', 2 ** 60);
  assert.equal(await ws.read('Li'), 2n ** 60n);
  await ws.write('Li', -5);
  assert.equal(await ws.read('Li'), -5n);
  // The bit tag changes only its own bit.
  await ws.write('Bit', false);
  assert.equal(await ws.read('Bit'), false);
});

test('a structure reads as a plain object and is written in part', async () => {
  const cell = await ws.read('Cell');
  assert.deepEqual(cell, {
    Id: 7,
    Inlet: { Open: false, Position: 12.5, Cycles: 0n, Label: 'V1' },
    Levels: [10, 20, 30],
    Spare: 0,
  });
  await ws.write('Cell', { Inlet: { Cycles: 2n ** 40n, label: 'V2' }, Spare: 0xffff });
  const changed = await ws.read('Cell');
  assert.deepEqual(changed, {
    Id: 7,
    Inlet: { Open: false, Position: 12.5, Cycles: 2n ** 40n, Label: 'V2' },
    Levels: [10, 20, 30],
    Spare: 0xffff,
  });
  // Members and elements are tags of their own.
  assert.equal(await ws.read('Cell.Inlet.Label'), 'V2');
  assert.equal(await ws.read('Cell.Levels[2]'), 20);
});

test('arrays read as arrays, nested per dimension, also of structures', async () => {
  assert.deepEqual(await ws.read('Grid'), [
    [1, 2, 3],
    [4, 5, 6],
  ]);
  await ws.write('Grid', [[-1, -2, -3], [-4]]);
  assert.deepEqual(await ws.read('Grid'), [
    [-1, -2, -3],
    [-4, 5, 6],
  ]);
  const cells = await ws.read('Cells');
  assert.deepEqual(
    cells.map((c) => c.Id),
    [1, 2],
  );
  await ws.write('Cells', [{}, { Inlet: { Open: true } }]);
  const after = await ws.read('Cells');
  assert.equal(after[1].Inlet.Open, true);
  assert.equal(after[1].Id, 2);
  assert.equal(after[0].Inlet.Open, false);
});

test('type() describes members with their offsets, and arrays with dims', async () => {
  const cell = await ws.type('Cell');
  assert.equal(cell.kind, 'struct');
  assert.deepEqual(
    cell.members.map((m) => [m.name, m.offset, m.type.kind]),
    [
      ['Id', 0, 'int'],
      ['Inlet', 8, 'functionBlock'],
      ['Levels', 40, 'array'],
      ['Spare', 60, 'uint'],
    ],
  );
  const grid = await ws.type('Grid');
  assert.deepEqual(
    [grid.kind, grid.dims, grid.lower, grid.element.kind, grid.element.size],
    ['array', [2, 3], [1, 1], 'int', 2],
  );
  const cells = await ws.type('Cells');
  assert.deepEqual(
    [cells.dims, cells.lower, cells.element.name, cells.element.members.length],
    [[2], [0], 'CELL', 4],
  );
  assert.equal((await ws.type('Uli')).kind, 'uint');
});

test('bad values are refused with a code and the tag keeps its value', async () => {
  await ws.write('Usi', 9);
  await ws.write('S', 'keep');
  await ws.write('Cell', { Id: 7 });
  const refused = [
    ['Usi', 256],
    ['Usi', -1],
    ['Usi', 1.5],
    ['Usi', '3'],
    ['I', 40000],
    ['Li', 2n ** 63n],
    ['Uli', -1n],
    ['Li', 2 ** 64],
    ['B', 'yes'],
    ['R', null],
    ['R', 1e39],
    ['S', 'elevenchars'],
    ['S', 'snow ☃'],
    ['Cell', 5],
    ['Cell', { Id: 1, Levels: 3 }],
    ['Grid', [1, 2]],
    ['Cell', { Id: 1, Spare: -1 }],
  ];
  for (const [name, value] of refused) {
    const e = await rejectsWith(ws.write(name, value), 'symResInvalidParameter');
    assert.equal(e.code, 5);
    assert.match(e.message, new RegExp(`^symResInvalidParameter \\(5\\): value for '${name}`));
  }
  // A member or element the tag does not have: the one rule of the core.
  await rejectsWith(ws.write('Cell', { Id: 1, Nope: 2 }), 'symResSymbolNotFound');
  await rejectsWith(ws.write('Grid', [[1, 2, 3, 4]]), 'symResInvalidArrayIndex');
  await rejectsWith(ws.write('Cells', [{}, {}, { Id: 3 }]), 'symResInvalidArrayIndex');
  assert.equal(await ws.read('Usi'), 9);
  assert.equal(await ws.read('S'), 'keep');
  assert.equal((await ws.read('Cell')).Id, 7);
});

test('refusals of the controller keep their code and name', async () => {
  const e = await rejectsWith(ws.read('NoSuchTag'), 'symResSymbolNotFound');
  assert.equal(e.code, 6);
  assert.match(e.message, /^symResSymbolNotFound \(6\): .*'NoSuchTag'/);
  await rejectsWith(ws.write('Fixed', 1), 'symResReadOnlyTag');
  assert.equal(await ws.read('Fixed'), 99);
  // Names that would be cut or changed on the way never reach another tag.
  for (const name of ['', 'I\0x', 'I'.repeat(260), 42]) {
    await rejectsWith(ws.read(name), 'symResInvalidParameter');
  }
  await rejectsWith(ws.read('I\u0100'), 'symResSymbolNotFound'); // no Latin-1 name spells it
  assert.ok((await rejectsWith(ws.read('NoSuchTag'), 'symResSymbolNotFound')) instanceof Error);
});

test('the package exports connect() beside the module surface', () => {
  const pkg = require('../..');
  assert.equal(pkg.connect, api.connect);
  assert.equal(pkg.QXSymError, api.QXSymError);
  assert.ok(!Object.keys(pkg).includes('connect'));
});

test('connect refuses bad addresses and reports a refused connection', async () => {
  await rejectsWith(api.connect({ port: 0 }), 'symResInvalidAddress');
  await rejectsWith(api.connect({ port: sim.port, host: 'x'.repeat(60) }), 'symResInvalidAddress');
  await rejectsWith(api.connect({ port: sim.port, timeout: -1 }), 'symResInvalidParameter');
  // A closed loopback port: no controller there.
  const gone = await startSim();
  const port = gone.port;
  await gone.stop();
  await rejectsWith(api.connect({ port, timeout: 500 }), 'symResInvalidAddress');
});

// A listener that accepts and never writes: a controller that stays silent.
async function listen(onConnection) {
  const server = net.createServer(onConnection);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return server;
}

test('connect names a controller that accepts and never answers', async () => {
  const held = [];
  const silent = await listen((c) => held.push(c));
  const e = await rejectsWith(
    api.connect({ port: silent.address().port, timeout: 200 }),
    'symResSocketError',
  );
  assert.match(e.message, /the controller does not answer/);
  held.forEach((c) => c.destroy());
  silent.close();

  // One that closes the connection at once is not silent.
  const closing = await listen((c) => c.destroy());
  const other = await api.connect({ port: closing.address().port, timeout: 5000 }).catch((x) => x);
  assert.ok(other instanceof api.QXSymError, String(other));
  assert.doesNotMatch(other.message, /does not answer/);
  closing.close();
});
