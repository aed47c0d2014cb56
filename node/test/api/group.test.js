'use strict';
// Groups and watch: one exchange for a group read or write, changes of a
// simulated tag seen through watch().
const assert = require('node:assert/strict');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith, requestsOf } = require('./support');

let sim;
let ws;
before(async () => {
  sim = await startSim({ trace: true });
  ws = await api.connect({ port: sim.port, timeout: 2000 });
});
after(async () => {
  await ws.close();
  await sim.stop();
});

test('a group reads and writes its members as one object', async () => {
  const g = await ws.group(['I', 'Lw', 'S', 'Cell']);
  let before;
  assert.equal(
    (
      await requestsOf(sim, ws, 'B', async () => {
        before = await g.read();
      })
    ).length,
    1,
  );
  assert.deepEqual(Object.keys(before), ['I', 'Lw', 'S', 'Cell']);
  const values = { I: -42, Lw: 2n ** 64n - 2n, S: 'group', Cell: { ...before.Cell, Id: 11 } };
  // Cell has gaps between its members, which are never written: its first
  // write sets up a group of its leaves, every later one is one exchange.
  await g.write({ ...values, I: 0 });
  assert.equal((await requestsOf(sim, ws, 'B', () => g.write(values))).length, 1);
  assert.deepEqual(await g.read(), values);
  assert.equal(await ws.read('I'), -42);
  assert.equal((await ws.read('Cell')).Id, 11);
  // A write must name every member, and only members; nothing is sent else.
  await rejectsWith(g.write({ I: 1 }), 'symResInvalidParameter');
  await rejectsWith(g.write({ ...values, Nope: 1 }), 'symResInvalidGroupTag');
  await rejectsWith(g.write({ ...values, I: 1e6 }), 'symResInvalidParameter');
  assert.equal(await ws.read('I'), -42);
  await g.close();
  await rejectsWith(g.read(), 'symResInvalidHandle');
});

test('groups take arrays, refuse twins and unknown tags', async () => {
  // Arrays are read and written in groups like any tag (one rule for all
  // front ends), elements by their declared indices.
  const arrays = await ws.group(['I', 'Grid', 'Cell.Levels[3]']);
  await arrays.write({
    I: 3,
    Grid: [
      [1, 2, 3],
      [4, 5, 6],
    ],
    'Cell.Levels[3]': 9,
  });
  assert.deepEqual(await arrays.read(), {
    I: 3,
    Grid: [
      [1, 2, 3],
      [4, 5, 6],
    ],
    'Cell.Levels[3]': 9,
  });
  assert.deepEqual((await ws.read('Cell')).Levels, [10, 20, 9]);
  await arrays.close();
  await rejectsWith(ws.group(['I', 'i']), 'symResHandleAlreadyExists');
  await rejectsWith(ws.group(['I', 'Missing']), 'symResSymbolNotFound');
  await rejectsWith(ws.group([]), 'symResInvalidParameter');
});

test('watch sees a simulated tag change and stops when the loop is left', async () => {
  const live = await startSim({ scan: 20 });
  const w2 = await api.connect({ port: live.port, timeout: 2000 });
  const seen = [];
  for await (const change of w2.watch(['Ticks', 'S'], { interval: 30 })) {
    seen.push(change);
    if (seen.filter((c) => c.name === 'Ticks').length === 3) break;
  }
  assert.deepEqual(
    seen.slice(0, 2).map((c) => [c.name, c.previous]),
    [
      ['Ticks', undefined],
      ['S', undefined],
    ],
  );
  const ticks = seen.filter((c) => c.name === 'Ticks');
  assert.ok(ticks[1].value > ticks[0].value && ticks[2].value > ticks[1].value);
  assert.equal(ticks[2].previous, ticks[1].value);
  assert.equal(seen.filter((c) => c.name === 'S').length, 1); // S never changed
  assert.equal(w2._groups.size, 0); // the watch's group is gone again
  await w2.close();
  await live.stop();
});
