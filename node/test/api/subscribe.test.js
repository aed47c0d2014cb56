'use strict';
// Subscriptions: what is told and when, how a silent or slow controller
// shows, and that leaving the loop or closing the workspace ends them.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { api, startSim, once, rejectsWith } = require('./support');
const native = require('../../lib/native');

// Runs a subscription in the background: its changes gather in seen, the
// workspace's cycle and overrun events in cycles and overruns; until(pred)
// resolves once pred() holds, checked after every change and cycle.
function collect(ws, names, options) {
  const seen = [];
  const cycles = [];
  const overruns = [];
  let waiters = [];
  const check = () => {
    waiters = waiters.filter((w) => !(w.pred() && (w.resolve(), true)));
  };
  ws.on('cycle', (c) => (cycles.push(c), check()));
  ws.on('overrun', (o) => overruns.push(o));
  const it = ws.subscribe(names, options);
  let stop = false;
  const done = (async () => {
    for await (const c of it) {
      seen.push(c);
      check();
      if (stop) break;
    }
  })();
  const until = (pred) =>
    new Promise((resolve) => {
      waiters.push({ pred, resolve });
      check();
    });
  const of = (name) => seen.filter((c) => c.name === name);
  return { seen, cycles, overruns, done, until, of, stop: () => (stop = true) };
}

test('a subscription tells leaves by deadband and heartbeat, with their times', async (t) => {
  const sim = await startSim();
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  t.after(async () => {
    await ws.close();
    await sim.stop();
  });
  const names = ['R', 'Grid', 'Cell.Levels', 'Lw', 'NoSuch'];
  const s = collect(ws, names, { interval: 20, deadband: { R: 1 } });
  await s.until(() => s.seen.length >= 12);
  // Structures and arrays expand to their leaves under the declared indices.
  const leaves = ['Cell.Levels[1]', 'Cell.Levels[2]', 'Cell.Levels[3]', 'Lw', 'NoSuch', 'R'];
  for (const i of ['1,1', '1,2', '1,3', '2,1', '2,2', '2,3']) leaves.push(`Grid[${i}]`);
  assert.deepEqual(
    s.seen
      .slice(0, 12)
      .map((c) => c.name)
      .sort(),
    leaves.sort(),
  );
  assert.deepEqual(
    s.of('Grid[2,3]').map((c) => [c.value, c.previous, c.status, c.error]),
    [[6, undefined, 'good', null]],
  );
  assert.equal(typeof s.of('Lw')[0].value, 'bigint');
  const bad = s.of('NoSuch')[0];
  assert.equal(bad.status, 'bad');
  assert.equal(bad.value, undefined);
  assert.equal(bad.error.result, 'symResSymbolNotFound');

  // Within R's deadband nothing is told; beyond it the new value is.
  await ws.write('R', 0.5);
  const after = s.cycles.length;
  await s.until(() => s.cycles.length >= after + 3);
  await ws.write('R', 2);
  await s.until(() => s.of('R').length === 2);
  assert.deepEqual(
    s.of('R').map((c) => [c.value, c.previous]),
    [
      [0, undefined],
      [2, 0],
    ],
  );
  s.stop();
  await ws.write('Grid[1,1]', 10); // one more change lets the loop end
  await s.done;

  // A heartbeat tells a value that stays; times grow from tell to tell.
  const h = collect(ws, ['S'], { interval: 20, heartbeat: 60 });
  await h.until(() => h.seen.length >= 3);
  h.stop();
  await ws.write('S', 'bye');
  await h.done;
  assert.deepEqual(
    h.seen.slice(0, 3).map((c) => [c.value, c.previous]),
    [
      ['hello', undefined],
      ['hello', 'hello'],
      ['hello', 'hello'],
    ],
  );
  for (const [i, c] of h.seen.entries()) {
    assert.ok(c.micros >= 0 && c.micros <= 999);
    assert.equal(c.timestampUs, BigInt(c.timestamp.getTime()) * 1000n + BigInt(c.micros));
    if (i > 0) assert.ok(c.timestampUs > h.seen[i - 1].timestampUs);
  }
  assert.ok(Math.abs(h.seen[0].timestamp.getTime() - Date.now()) < 60000);
});

test('elements of a 64-bit array are BigInts under their declared indices', async (t) => {
  const fs = require('fs');
  const os = require('os');
  const path = require('path');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-sub-'));
  const model = path.join(dir, 'wide.json');
  const big = { name: 'Big', type: 'ARRAY[-1..1] OF LINT', value: [-1, 0, 2 ** 40] };
  fs.writeFileSync(model, JSON.stringify({ name: 'wide', tags: [big] }));
  const sim = await startSim({ model });
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  t.after(async () => {
    await ws.close();
    await sim.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const told = [];
  for await (const c of ws.subscribe(['Big'], { interval: 20 })) {
    told.push([c.name, c.value]);
    if (told.length === 3) break;
  }
  assert.deepEqual(told, [
    ['Big[-1]', -1n],
    ['Big[0]', 0n],
    ['Big[1]', 2n ** 40n],
  ]);
});

test('bad options are refused and leave the workspace working', async (t) => {
  const sim = await startSim();
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  t.after(async () => {
    await ws.close();
    await sim.stop();
  });
  const first = (names, options) => ws.subscribe(names, options).next();
  await rejectsWith(first(['I'], { deadband: { J: 1 } }), 'symResInvalidParameter');
  await rejectsWith(first(['I'], { deadband: 'wide' }), 'symResInvalidParameter');
  await rejectsWith(first(['I'], { interval: 0 }), 'symResInvalidParameter');
  await rejectsWith(first(['I', 'I'], {}), 'symResInvalidParameter');
  await rejectsWith(first('I', {}), 'symResInvalidParameter');
  assert.equal(await ws.read('I'), 0);
});

test('a silent controller makes values stale, good again when it answers', async (t) => {
  const sim = await startSim();
  const ws = await api.connect({ port: sim.port, timeout: 300 });
  t.after(async () => {
    sim.stop('SIGCONT');
    await ws.close();
    await sim.stop();
  });
  const s = collect(ws, ['I', 'S'], { interval: 30 });
  await s.until(() => s.of('I').length === 1);
  sim.stop('SIGSTOP');
  await s.until(() => s.of('I').length === 2);
  const stale = s.of('I')[1];
  assert.deepEqual([stale.status, stale.value], ['stale', 0]);
  assert.ok(stale.error instanceof api.QXSymError && stale.error.result !== 'symResOk');
  sim.stop('SIGCONT');
  await s.until(() => s.of('I').length === 3 && s.of('S').length === 3);
  assert.deepEqual(
    s.of('I').map((c) => c.status),
    ['good', 'stale', 'good'],
  );
  assert.equal(s.of('I')[2].value, 0);
  assert.ok(s.cycles.some((c) => c.status !== 'good')); // the polls that failed
  // Closing the workspace ends the loop.
  await ws.close();
  await s.done;
});

test('leaving the loop unsubscribes: that subscription is not waited on again', async (t) => {
  const sim = await startSim({ scan: 10 });
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  const n = native();
  const { subscriptionWait, unsubscribe } = n;
  const waits = [];
  const ended = [];
  n.subscriptionWait = (sub, ms) => (waits.push(sub), subscriptionWait(sub, ms));
  n.unsubscribe = (sub) => (ended.push(sub), unsubscribe(sub));
  t.after(async () => {
    Object.assign(n, { subscriptionWait, unsubscribe });
    await ws.close();
    await sim.stop();
  });
  const got = [];
  for await (const c of ws.subscribe(['Ticks'], { interval: 15 })) {
    got.push(c.value);
    if (got.length === 3) break;
  }
  assert.ok(got[0] < got[1] && got[1] < got[2]);
  const first = waits[0];
  const waitsThen = waits.filter((s) => s === first).length;
  assert.deepEqual(ended, [first]);
  // Another subscription polls on; the first one is never waited on again.
  const s = collect(ws, ['Ticks'], { interval: 15 });
  await s.until(() => s.seen.length >= 3);
  s.stop();
  await s.done;
  assert.equal(waits.filter((sub) => sub === first).length, waitsThen);
  assert.ok(waits.some((sub) => sub !== first));
  // return() while a next() waits for a change that never comes ends both.
  const quiet = ws.subscribe(['S'], { interval: 15 });
  assert.equal((await quiet.next()).value.value, 'hello');
  const pending = quiet.next();
  await quiet.return();
  assert.deepEqual(await pending, { done: true, value: undefined });
  assert.equal(ended.length, 3);
  // watch() is a subscription too: the same ending.
  for await (const c of ws.watch(['Ticks'], { interval: 15 })) {
    assert.deepEqual(Object.keys(c), ['name', 'value', 'previous']);
    break;
  }
  assert.equal(ended.length, 4);
});

test('slow polls are told as cycles and overruns of the workspace', async (t) => {
  const delay = 40;
  const sim = await startSim({ args: ['--delay', String(delay)] });
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  t.after(async () => {
    await ws.close();
    await sim.stop();
  });
  const s = collect(ws, ['I'], { interval: 10 });
  await s.until(() => s.cycles.length >= 3 && s.overruns.length >= 2);
  // Each poll waits for one delayed reply.
  assert.ok(
    s.cycles.every((c) => c.duration >= delay / 2 && c.status === 'good'),
    JSON.stringify(s.cycles),
  );
  assert.ok(s.overruns.every((o) => o.missed >= 1 && o.late > 0 && o.timestamp instanceof Date));
  await ws.close();
  await s.done;
  assert.equal(s.seen.length, 1); // I never changed
});

test('with reconnect on, a subscription goes on once the controller is back', async (t) => {
  let sim = await startSim();
  const port = sim.port;
  const ws = await api.connect({ port, timeout: 1000, reconnect: { initialDelay: 20 } });
  t.after(async () => {
    await ws.close();
    await sim.stop();
  });
  await ws.write('I', 5);
  const s = collect(ws, ['I'], { interval: 20 });
  await s.until(() => s.of('I').length === 1);
  const back = once(ws, 'reconnect');
  await sim.stop('SIGKILL');
  await s.until(() => s.of('I').length === 2);
  sim = await startSim({ port });
  await back;
  await s.until(() => s.of('I').length === 3);
  // Subscribed anew to a fresh controller: the model's value, told afresh.
  assert.deepEqual(
    s.of('I').map((c) => [c.status, c.value, c.previous]),
    [
      ['good', 5, undefined],
      ['stale', 5, undefined],
      ['good', 0, undefined],
    ],
  );
  await ws.write('I', 9);
  await s.until(() => s.of('I').length === 4);
  assert.deepEqual([s.of('I')[3].value, s.of('I')[3].previous], [9, 0]);
  await ws.close();
  await s.done;
});

test("a program loaded under a subscription is the workspace's 'change'", async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-change-'));
  const model = path.join(dir, 'model.json');
  const tags = (list) => JSON.stringify({ tags: list });
  const int = (name) => ({ name, type: 'INT', value: 7 });
  fs.writeFileSync(model, tags([int('Kept'), int('Moved'), int('Gone')]));
  const sim = await startSim({ model });
  const ws = await api.connect({ port: sim.port, timeout: 2000 });
  t.after(async () => {
    await ws.close();
    await sim.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const s = collect(ws, ['Kept', 'Moved', 'Gone'], { interval: 20 });
  await s.until(() => s.seen.length === 3);
  const changed = once(ws, 'change');
  fs.writeFileSync(
    model + '.new',
    tags([int('Kept'), { name: 'Moved', type: 'LREAL', value: 2.5 }]),
  );
  fs.renameSync(model + '.new', model);
  sim.signal('SIGHUP');
  assert.ok((await changed).timestamp instanceof Date);
  await s.until(() => s.of('Gone').length === 2 && s.of('Moved').length === 2);
  assert.equal(s.of('Gone')[1].status, 'bad');
  assert.deepEqual([s.of('Moved')[1].status, s.of('Moved')[1].value], ['good', 2.5]);
  assert.equal(s.of('Kept').length, 1); // survived with its value
  s.stop();
  await ws.close();
  await s.done;
});
