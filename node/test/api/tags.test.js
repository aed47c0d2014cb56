'use strict';
// Tag lists: plain objects, and complete beyond the 500 tags that one reply
// of the controller holds.
const assert = require('node:assert/strict');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith, requestsOf, MODEL } = require('./support');

const COUNT = 1234;
const NAMES = [
  ...Array.from({ length: COUNT }, (_, i) => `Pump${String(i).padStart(4, '0')}`),
  'Pump',
  'Valve_1',
];
let dir;
let sim;
let ws;
before(async () => {
  // A plant of COUNT tags: Pump0000 .. and a few others of other names.
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-api-'));
  const tags = [];
  for (let i = 0; i < COUNT; i++)
    tags.push({ name: `Pump${String(i).padStart(4, '0')}`, type: 'INT' });
  tags.push(
    { name: 'Pump', type: 'BOOL', read_only: true },
    { name: 'Valve_1', type: 'STRING[8]' },
  );
  const model = path.join(dir, 'plant.json');
  fs.writeFileSync(model, JSON.stringify({ name: 'many tags', tags }));
  sim = await startSim({ model, trace: true });
  ws = await api.connect({ port: sim.port, timeout: 2000 });
});
after(async () => {
  await ws.close();
  await sim.stop();
  fs.rmSync(dir, { recursive: true, force: true });
});

test('tags() lists every match beyond one reply, each once, as plain objects', async () => {
  const all = await ws.tags();
  assert.equal(all.length, COUNT + 2);
  assert.equal(new Set(all.map((t) => t.name)).size, COUNT + 2);
  assert.deepEqual(
    all.find((t) => t.name === 'Pump'),
    { name: 'Pump', type: 'BOOL', size: 1, flags: { readOnly: true, bitAddress: false } },
  );
  assert.deepEqual(
    all.find((t) => t.name === 'Valve_1'),
    { name: 'Valve_1', type: 'STRING[8]', size: 9, flags: { readOnly: false, bitAddress: false } },
  );
  assert.equal((await ws.tags('Pump1*')).length, 234);
  assert.equal((await ws.tags('Pump?0?1')).length, 20); // Pump00x1, Pump10x1
  assert.deepEqual(
    (await ws.tags('*_1')).map((t) => t.name),
    ['Valve_1'],
  );
  assert.deepEqual(await ws.tags('Nothing*'), []);
  await rejectsWith(ws.tags(7), 'symResInvalidParameter');
});

test('tags() of a small model come from one list', async () => {
  const small = await startSim({ model: MODEL });
  const w = await api.connect({ port: small.port });
  const names = (await w.tags()).map((t) => t.name);
  assert.ok(names.includes('Cell') && names.includes('Ticks'));
  assert.deepEqual((await w.tags('Bit'))[0].flags, { readOnly: false, bitAddress: true });
  await w.close();
  await small.stop();
});

// The names a glob matches, without regard to case: what every listing
// must answer, whichever way it narrows.
function globNames(filter) {
  const re = new RegExp(
    `^${(filter || '*').replace(/[*?]/g, (c) => (c === '*' ? '.*' : '.'))}$`,
    'i',
  );
  return NAMES.filter((n) => re.test(n)).sort();
}

test('tagNames() is complete and sorted over one or several connections', async () => {
  // '*u*' has two wildcards: its narrower filters overlap, so none is skipped.
  for (const filter of ['', 'Pump1*', '*u*', 'Pump?0?1', 'Nothing*']) {
    for (const connections of [1, 3]) {
      const batches = [];
      const names = await ws.tagNames(filter, (b) => batches.push(...b), { connections });
      assert.deepEqual(names, globNames(filter), `'${filter}' over ${connections}`);
      assert.deepEqual([...batches].sort(), names, `'${filter}' batches over ${connections}`);
    }
  }
  assert.deepEqual(
    (await ws.tags('*1', { connections: 2 })).map((t) => t.name),
    globNames('*1'),
  );
  for (const bad of [0, 9, 1.5, 'x']) {
    await rejectsWith(ws.tagNames('', null, { connections: bad }), 'symResInvalidParameter');
  }
  await rejectsWith(ws.tagNames('', 'not a function'), 'symResInvalidParameter');
});

test('narrower filters stop being asked once their counts cover the wider one', async () => {
  const codes = await requestsOf(sim, ws, 'Pump0000', () => ws.tagNames(''));
  const lists = codes.filter((c) => c === 110 || c === 111).length;
  // The whole list and its count, then one list per narrower filter: the
  // ending digits cover 1234 of the 1236 tags, 'p' (Pump) the rest; the
  // letters after it and '_' are never asked for.
  assert.ok(lists <= 2 + 10 + 16, `${lists} list and count requests`);
});

test('a filter matching exactly one full reply is listed whole, one more is narrowed', async () => {
  const tags = [];
  for (let i = 0; i < 500; i++) tags.push({ name: `A${String(i).padStart(3, '0')}`, type: 'INT' });
  tags.push({ name: 'B', type: 'INT' });
  const model = path.join(dir, 'edge.json');
  fs.writeFileSync(model, JSON.stringify({ name: 'one reply', tags }));
  const edge = await startSim({ model, trace: true });
  const w = await api.connect({ port: edge.port, timeout: 2000 });
  try {
    const all = tags.map((t) => t.name);
    const codes = await requestsOf(edge, w, 'B', async () => {
      assert.deepEqual(await w.tagNames('A*'), all.slice(0, 500));
    });
    // One list and one count, which tells a full list from one cut short
    // (the client core asks the count first).
    assert.deepEqual(codes.filter((c) => c === 110 || c === 111).sort(), [110, 111]);
    assert.deepEqual(await w.tagNames(''), all);
  } finally {
    await w.close();
    await edge.stop();
  }
});

test('a listing takes the extra connections the controller grants and gives them back', async () => {
  // Room for the workspace and one more connection.
  const small = await startSim({
    model: path.join(dir, 'plant.json'),
    args: ['--max-connections', '2'],
  });
  const w = await api.connect({ port: small.port, timeout: 2000 });
  try {
    assert.deepEqual(await w.tagNames('', null, { connections: 4 }), globNames(''));
    const other = await api.connect({ port: small.port, timeout: 2000 }); // the room is free again
    await other.close();
  } finally {
    await w.close();
    await small.stop();
  }
});

test('an extra connection the controller never answers costs one attempt, the listing completes', async () => {
  // The first connection reaches the simulator; later ones are taken and
  // never answered.
  const held = [];
  const proxy = net.createServer((c) => {
    if (proxy.passed) return held.push(c);
    proxy.passed = true;
    const up = net.connect(sim.port, '127.0.0.1');
    c.setNoDelay(true);
    up.setNoDelay(true);
    c.pipe(up).pipe(c);
    c.on('error', () => up.destroy());
    up.on('error', () => c.destroy());
  });
  await new Promise((resolve) => proxy.listen(0, '127.0.0.1', resolve));
  // The listing returns once the attempt has timed out: the client core
  // keeps no thread running between calls.
  const w = await api.connect({ port: proxy.address().port, timeout: 500 });
  try {
    assert.deepEqual(await w.tagNames('', null, { connections: 4 }), globNames(''));
    // One attempt, still waiting: no further one was made beside it.
    assert.equal(held.length, 1);
  } finally {
    for (const c of held) c.destroy();
    await w.close();
    proxy.close();
  }
});
