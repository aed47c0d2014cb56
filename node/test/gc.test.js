'use strict';
// Run with --expose-gc: address records are freed when their objects are
// collected, and the external memory they reported is taken back.
const test = require('node:test');
const assert = require('node:assert');
const { m } = require('./support');

// The engine's external-memory count, read through a helper add-on.
const externalMemory = require(process.env.QXSYM_NODE_PROBE);

const COUNT = 5000;
const PER_OBJECT = 1000; // bytes each address reports to the engine

async function collect() {
  // Finalizers run after the collection, from the event loop.
  for (let i = 0; i < 5; ++i) {
    global.gc();
    await new Promise((resolve) => setImmediate(resolve));
  }
}

test('collected addresses free their records and external memory', async () => {
  assert.strictEqual(typeof global.gc, 'function', 'run with --expose-gc');
  assert.strictEqual(typeof externalMemory(), 'number');
  await collect();
  const before = externalMemory();
  let collected = 0;
  const registry = new FinalizationRegistry(() => {
    ++collected;
  });
  (() => {
    const live = [];
    for (let i = 0; i < COUNT; ++i) {
      const a = new m.QXSymServerAddress();
      a.ip = 'host-' + i;
      registry.register(a, i);
      live.push(a);
    }
    const grown = externalMemory() - before;
    assert.ok(grown >= COUNT * PER_OBJECT, `external memory grew by ${grown}`);
  })();
  for (let round = 0; round < 50 && collected < COUNT; ++round) await collect();
  assert.strictEqual(collected, COUNT);
  const left = externalMemory() - before;
  assert.ok(left < (COUNT * PER_OBJECT) / 100, `external memory still up by ${left}`);
});
