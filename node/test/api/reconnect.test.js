'use strict';
// Opt-in reconnect: the controller is killed and started again on the same
// port; the workspace reopens by itself, its groups with it.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const { api, startSim, once, rejectsWith } = require('./support');

test('a workspace with reconnect reopens after the controller comes back', async (t) => {
  let sim = await startSim();
  const port = sim.port;
  const ws = await api.connect({
    port,
    timeout: 1000,
    reconnect: { initialDelay: 20, maxDelay: 200 },
  });
  t.after(() => ws.close());
  const events = [];
  ws.on('disconnect', (e) => events.push(['disconnect', e.result]));
  ws.on('reconnect', () => events.push(['reconnect']));
  await ws.write('I', 1234);
  const group = await ws.group(['I', 'S']);
  assert.deepEqual(await group.read(), { I: 1234, S: 'hello' });

  await sim.stop('SIGKILL');
  // The first call finds the connection gone (the socket's failure).
  const lost = await ws.read('I').catch((e) => e);
  assert.ok(lost instanceof api.QXSymError, String(lost));
  assert.deepEqual(events, [['disconnect', lost.result]]);
  assert.equal(ws.connected, false);
  // Meanwhile calls fail at once, without waiting for a time-out.
  const t0 = Date.now();
  await rejectsWith(ws.read('I'), 'symResConnectionLost');
  await rejectsWith(group.read(), 'symResConnectionLost');
  assert.ok(Date.now() - t0 < 500);

  const reconnected = once(ws, 'reconnect');
  sim = await startSim({ port });
  await reconnected;
  assert.equal(ws.connected, true);
  assert.equal(events[0][0], 'disconnect');
  assert.deepEqual(events.at(-1), ['reconnect']);
  // A fresh controller: the model's values, and the group made again.
  assert.deepEqual(await group.read(), { I: 0, S: 'hello' });
  await ws.write('I', 7);
  assert.equal(await ws.read('I'), 7);
  await ws.close();
  await sim.stop();
});

test('without reconnect a lost connection stays an error; close() ends reconnecting', async (t) => {
  const sim = await startSim();
  const plain = await api.connect({ port: sim.port, timeout: 1000 });
  const eager = await api.connect({ port: sim.port, timeout: 1000, reconnect: true });
  t.after(() => Promise.all([plain.close(), eager.close()]));
  await plain.read('I');
  await eager.read('I');
  await sim.stop('SIGKILL');
  const e = await plain.read('I').catch((err) => err);
  assert.ok(e instanceof api.QXSymError && e.result !== 'symResOk');
  await rejectsWith(plain.read('I'), e.result); // no reconnecting, the same failure
  const gone = once(eager, 'disconnect');
  await eager.read('I').catch(() => {});
  await gone;
  await eager.close(); // stops the background attempts
  await rejectsWith(eager.read('I'), 'symResInvalidHandle');
  await plain.close();
});

test('after a reconnect to a changed program a group whose tag is gone names the reason', async (t) => {
  const fs = require('fs');
  const os = require('os');
  const path = require('path');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-api-'));
  const changed = path.join(dir, 'changed.json');
  fs.writeFileSync(
    changed,
    JSON.stringify({ name: 'changed', tags: [{ name: 'I', type: 'INT', value: 5 }] }),
  );
  let sim = await startSim();
  const port = sim.port;
  const ws = await api.connect({ port, timeout: 1000, reconnect: { initialDelay: 20 } });
  t.after(async () => {
    await ws.close();
    await sim.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const both = await ws.group(['I', 'B']);
  const single = await ws.group(['I']);
  await ws.read('B');
  await sim.stop('SIGKILL');
  await ws.read('I').catch(() => {});
  const back = once(ws, 'reconnect');
  sim = await startSim({ model: changed, port });
  await back;
  await rejectsWith(both.read(), 'symResSymbolNotFound');
  assert.deepEqual(await single.read(), { I: 5 });
  await rejectsWith(ws.read('B'), 'symResSymbolNotFound');
});
