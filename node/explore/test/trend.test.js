'use strict';
// The pinned tags' trend as the explorer pushes it: values with the
// subscription's times and status, stale while the controller is silent,
// and going on through a reload of the controller's program.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const http = require('http');

const { startSim, startExplorer, auth, stop, writeModel } = require('./support');
const { PinBatch } = require('../pins');

const COUNTER = { name: 'Counter', type: 'DINT', simulate: { kind: 'counter', step: 1 } };
const CELL = {
  name: 'CELL',
  kind: 'STRUCT',
  members: [
    { name: 'Speed', type: 'REAL' },
    { name: 'Parts', type: 'UDINT' },
  ],
};

async function post(url, body) {
  const res = await fetch(url, {
    method: 'POST',
    headers: { ...auth(url), 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  assert.strictEqual(res.status, 200, JSON.stringify(await res.json()));
}

// Every event of a page's stream, in order; next(pred) resolves with the
// first event after the ones looked at so far that satisfies pred(type,
// data), within 10 s.
function events(url) {
  const seen = [];
  let waiters = [];
  let from = 0;
  const look = () => {
    waiters = waiters.filter((w) => {
      for (; w.at < seen.length; w.at++) {
        const [type, data] = seen[w.at];
        if (!w.pred(type, data)) continue;
        clearTimeout(w.timer);
        from = w.at + 1;
        w.resolve(data);
        return false;
      }
      return true;
    });
  };
  return new Promise((resolve, reject) => {
    http
      .get(`${url}api/events`, { headers: auth(url) }, (res) => {
        let text = '';
        res.on('data', (d) => {
          text += d;
          for (let at; (at = text.indexOf('\n\n')) >= 0;) {
            const block = text.slice(0, at);
            text = text.slice(at + 2);
            const type = (/^event: (.*)$/m.exec(block) || [])[1];
            if (type) seen.push([type, JSON.parse(/^data: (.*)$/m.exec(block)[1])]);
          }
          look();
        });
        resolve({
          next: (what, pred) =>
            new Promise((done, fail) => {
              const w = { pred, resolve: done, at: from };
              w.timer = setTimeout(() => fail(new Error(`no ${what} within 10 s`)), 10000);
              waiters.push(w);
              look();
            }),
          close: () => res.destroy(),
        });
      })
      .on('error', reject);
  });
}

const told = (name, status) => (type, d) =>
  type === 'values' && d.status[name] === status && name in d.numbers;

test('pinned values carry their times and status, stale while the controller is silent', async (t) => {
  const sim = await startSim({
    model: writeModel([COUNTER, { name: 'Cell', type: 'CELL' }], [CELL]),
  });
  const explorer = await startExplorer(sim.port, ['--timeout', '300']);
  const page = await events(explorer.url);
  t.after(async () => {
    page.close();
    sim.child.kill('SIGCONT');
    await stop(explorer.child);
    await stop(sim.child);
  });
  await page.next('connected', (type, d) => type === 'state' && d.state === 'connected');
  await post(`${explorer.url}api/pins`, { names: ['Counter', 'cell'] });
  const first = await page.next('Counter', told('Counter', 'good'));
  const second = await page.next('a new Counter', told('Counter', 'good'));
  assert.ok(second.numbers.Counter > first.numbers.Counter);
  assert.strictEqual(second.values.Counter, second.numbers.Counter);
  // Times are the subscription's, in order, and the batch's t the latest.
  assert.ok(second.time.Counter >= first.time.Counter);
  assert.strictEqual(second.t, Math.max(...Object.values(second.time)));
  assert.ok(Math.abs(second.t - Date.now()) < 60000, `${second.t} is not a time of now`);
  // A structure pin (named in another case) is put together from its leaves.
  const cell = await page.next('Cell', (type, d) => type === 'values' && 'cell' in d.values);
  assert.deepStrictEqual(Object.keys(cell.values.cell).sort(), ['Parts', 'Speed']);
  assert.strictEqual(cell.numbers['cell.Speed'], cell.values.cell.Speed);

  sim.child.kill('SIGSTOP');
  const stale = await page.next('stale Counter', told('Counter', 'stale'));
  assert.strictEqual(stale.numbers.Counter, null);
  assert.ok(!('Counter' in stale.values), 'a stale value is not shown as read');
  sim.child.kill('SIGCONT');
  const back = await page.next('good Counter', told('Counter', 'good'));
  assert.strictEqual(typeof back.numbers.Counter, 'number');
  assert.ok(back.t >= stale.t);
});

test('a reloaded program leaves the vanished pin bad and the others updating', async (t) => {
  const model = writeModel([COUNTER, { name: 'Gone', type: 'DINT' }]);
  const sim = await startSim({ model });
  const explorer = await startExplorer(sim.port);
  const page = await events(explorer.url);
  t.after(async () => {
    page.close();
    await stop(explorer.child);
    await stop(sim.child);
  });
  await page.next('connected', (type, d) => type === 'state' && d.state === 'connected');
  await post(`${explorer.url}api/pins`, { names: ['Counter', 'Gone'] });
  await page.next('Gone', told('Gone', 'good'));

  fs.writeFileSync(
    model,
    JSON.stringify({ name: 'explorer test model', types: [], tags: [COUNTER] }),
  );
  sim.child.kill('SIGHUP');
  // The pin's error comes first, then the value that told it.
  const state = await page.next('the pin error', (type, d) => type === 'state' && d.pinErrors.Gone);
  const bad = await page.next('bad Gone', told('Gone', 'bad'));
  assert.strictEqual(bad.numbers.Gone, null);
  assert.strictEqual(state.pinErrors.Gone.result, 'symResSymbolNotFound');
  assert.deepStrictEqual(state.pins, ['Counter', 'Gone']);
  assert.strictEqual(state.state, 'connected');
  const a = await page.next('Counter', told('Counter', 'good'));
  const b = await page.next('a new Counter', told('Counter', 'good'));
  assert.ok(b.numbers.Counter !== a.numbers.Counter, 'Counter goes on updating');
});

// Leaves go to the pin whose name begins their path at a member or element
// boundary (the longest such pin), in any case; a pin's error follows its
// bad leaves.
test('told leaves are gathered by pin and bad ones make the pin say why', () => {
  const batch = new PinBatch(['Line', 'line.Main', 'Lines'], (e) => ({ message: e.message }));
  const at = new Date(1000);
  const tell = (name, status, value, error) =>
    batch.add({ name, status, value, timestamp: at, error });
  assert.strictEqual(tell('LINE.Speed', 'good', 1), true, 'the first starts a batch');
  assert.strictEqual(tell('Line.Main.Speed', 'good', 2n), false);
  tell('Line.Main.Levels[2]', 'good', 3);
  tell('Lines', 'good', 'text');
  tell('Line.Gone', 'bad', undefined, new Error('no such member'));
  const b = batch.take();
  assert.deepStrictEqual(
    JSON.parse(JSON.stringify(b.values, (k, v) => (typeof v === 'bigint' ? Number(v) : v))),
    {
      Line: { Speed: 1 },
      'line.Main': { Speed: 2, 'Levels[2]': 3 },
      Lines: 'text',
    },
  );
  assert.deepStrictEqual(b.numbers, {
    'LINE.Speed': 1,
    'Line.Main.Speed': 2,
    'Line.Main.Levels[2]': 3,
    'Line.Gone': null,
  });
  const errors = { Lines: { message: 'old' } };
  assert.strictEqual(batch.updateErrors(errors), true);
  assert.deepStrictEqual(errors, { Line: { message: 'no such member' } });
  assert.strictEqual(batch.updateErrors(errors), false, 'nothing new');
  // Stale keeps the error; good again clears it.
  tell('Line.Gone', 'stale');
  batch.updateErrors(errors);
  assert.ok(errors.Line);
  tell('Line.Gone', 'good', 4);
  assert.strictEqual(batch.take().values.Line.Gone, 4);
  assert.strictEqual(batch.updateErrors(errors), true);
  assert.deepStrictEqual(errors, {});
});
