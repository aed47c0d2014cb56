'use strict';
// Exchanges run off the JavaScript thread, in call order per workspace.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const { api, startSim, rejectsWith } = require('./support');

test('a delayed controller: the event loop keeps running, a short time-out fails', async () => {
  const sim = await startSim({ args: ['--delay', '400'] });
  const ws = await api.connect({ port: sim.port, timeout: 5000 });
  let ticks = 0;
  const timer = setInterval(() => ticks++, 10);
  const value = await ws.read('Fixed');
  clearInterval(timer);
  assert.equal(value, 99);
  // A blocked loop would have fired the timer once at most.
  assert.ok(ticks >= 5, `timer fired ${ticks} times`);
  await ws.close();
  const e = await rejectsWith(api.connect({ port: sim.port, timeout: 150 }), 'symResTimeoutError');
  assert.equal(e.code, 13);
  // The core's words for the code, and the address it was about.
  assert.match(
    e.message,
    new RegExp(`^symResTimeoutError \\(13\\): .*\\(127\\.0\\.0\\.1:${sim.port}\\)$`),
  );
  assert.ok(e.advice.length > 0);
  await sim.stop();
});

test('calls on one workspace complete in the order they were made', async () => {
  const sim = await startSim();
  const ws = await api.connect({ port: sim.port });
  const calls = [];
  for (let i = 0; i < 20; i++) {
    calls.push(ws.write('Di', i * 1000));
    calls.push(ws.read('Di'));
  }
  calls.push(ws.read('NoSuchTag').catch((e) => e.result)); // a failure does not stop the queue
  calls.push(ws.read('Di'));
  const results = await Promise.all(calls);
  for (let i = 0; i < 20; i++) assert.equal(results[2 * i + 1], i * 1000);
  assert.deepEqual(results.slice(-2), ['symResSymbolNotFound', 19000]);
  await ws.close();
  await rejectsWith(ws.read('Di'), 'symResInvalidHandle');
  await sim.stop();
});
