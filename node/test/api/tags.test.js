'use strict';
// Tag lists: plain objects, and complete beyond the 500 tags that one reply
// of the controller holds.
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith, MODEL } = require('./support');

const COUNT = 1234;
let dir;
let sim;
let ws;
before(async () => {
  // A plant of COUNT tags: Pump0000 .. and a few others of other names.
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-api-'));
  const tags = [];
  for (let i = 0; i < COUNT; i++) tags.push({ name: `Pump${String(i).padStart(4, '0')}`, type: 'INT' });
  tags.push({ name: 'Pump', type: 'BOOL', read_only: true }, { name: 'Valve_1', type: 'STRING[8]' });
  const model = path.join(dir, 'plant.json');
  fs.writeFileSync(model, JSON.stringify({ name: 'many tags', tags }));
  sim = await startSim({ model });
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
  assert.deepEqual(all.find((t) => t.name === 'Pump'),
                   { name: 'Pump', type: 'BOOL', size: 1, flags: { readOnly: true, bitAddress: false } });
  assert.deepEqual(all.find((t) => t.name === 'Valve_1'),
                   { name: 'Valve_1', type: 'STRING[8]', size: 9, flags: { readOnly: false, bitAddress: false } });
  assert.equal((await ws.tags('Pump1*')).length, 234);
  assert.equal((await ws.tags('Pump?0?1')).length, 20);  // Pump00x1, Pump10x1
  assert.deepEqual((await ws.tags('*_1')).map((t) => t.name), ['Valve_1']);
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
