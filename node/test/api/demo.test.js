'use strict';
// The demo line through the promise API: texts in the session's encoding,
// a REAL beyond its range refused, and Temps (ARRAY[1..8] OF REAL) by its
// declared indices.
const assert = require('node:assert/strict');
const path = require('path');
const { test, before, after } = require('node:test');
const { api, startSim, rejectsWith } = require('./support');

const DEMO = path.join(__dirname, '..', '..', '..', 'sim', 'models', 'demo.json');
let sim;
let latin1;
let utf8;
before(async () => {
  sim = await startSim({ model: DEMO });
  latin1 = await api.connect({ port: sim.port, timeout: 2000 });
  utf8 = await api.connect({ port: sim.port, timeout: 2000, encoding: 'utf8' });
});
after(async () => {
  await latin1.close();
  await utf8.close();
  await sim.stop();
});

test('Zoë is one byte a character in Latin-1, the default, and two in UTF-8 where asked', async () => {
  await latin1.write('Operator', 'Zoë');
  assert.equal(await latin1.read('Operator'), 'Zoë');
  assert.equal(await utf8.read('Operator'), 'Zo\ufffd'); // 0xEB alone is no UTF-8
  await utf8.write('Operator', 'Zoë');
  assert.equal(await utf8.read('Operator'), 'Zoë');
  assert.equal(await latin1.read('Operator'), 'ZoÃ«');
  // What Latin-1 cannot carry is refused, and the tag keeps its text.
  const e = await rejectsWith(latin1.write('Operator', 'Zoë €'), 'symResInvalidParameter');
  assert.match(e.message, /Latin-1/);
  assert.equal(await utf8.read('Operator'), 'Zoë');
  await rejectsWith(api.connect({ port: sim.port, encoding: 'ebcdic' }), 'symResInvalidParameter');
});

test('a REAL beyond its range is refused, never stored as infinity', async () => {
  const speed = await latin1.read('Line.Speed');
  const e = await rejectsWith(latin1.write('Line.Speed', 1e39), 'symResInvalidParameter');
  assert.match(e.message, /1e\+39.*REAL/);
  await rejectsWith(latin1.write('Line', { Speed: -1e39 }), 'symResInvalidParameter');
  assert.equal(await latin1.read('Line.Speed'), speed);
  await latin1.write('Line.Speed', 3.4028235e38);
  assert.equal(await latin1.read('Line.Speed'), 3.4028235e38);
});

test('Temps is read and written by its declared indices 1 to 8', async () => {
  const temps = await latin1.read('Temps');
  assert.equal(temps.length, 8);
  assert.equal(await latin1.read('Temps[1]'), temps[0]);
  assert.equal(await latin1.read('Temps[8]'), temps[7]);
  await rejectsWith(latin1.read('Temps[0]'), 'symResInvalidArrayIndex');
  await rejectsWith(latin1.read('Temps[9]'), 'symResInvalidArrayIndex');
  const type = await latin1.type('Temps');
  assert.deepEqual([type.dims, type.lower, type.element.kind], [[8], [1], 'real']);
  await latin1.write('Temps[3]', 99.5);
  const after = await latin1.read('Temps');
  assert.deepEqual(after, [...temps.slice(0, 2), 99.5, ...temps.slice(3)]);
  // In a group, the whole array and one element by its declared index.
  const g = await latin1.group(['Temps', 'Temps[3]']);
  assert.deepEqual(await g.read(), { Temps: after, 'Temps[3]': 99.5 });
  await g.close();
});

test('qxsymbols explore takes the controller from QXSYM_HOST and QXSYM_PORT', async () => {
  const { spawn, spawnSync } = require('child_process');
  const bin = path.join(__dirname, '..', '..', 'bin', 'qxsymbols.js');
  const env = { ...process.env, QXSYM_HOST: '127.0.0.1', QXSYM_PORT: String(sim.port) };
  const child = spawn(process.execPath, [bin, 'explore', '--listen', '127.0.0.1:0'], { env });
  const first = await new Promise((resolve, reject) => {
    child.once('error', reject);
    child.stdout.once('data', (d) => resolve(String(d)));
  });
  child.kill();
  assert.match(
    first,
    new RegExp(
      `^explorer on http://127\\.0\\.0\\.1:\\d+/\\?token=[\\w-]{32} for 127\\.0\\.0\\.1:${sim.port}`,
    ),
  );
  const bare = { ...process.env };
  delete bare.QXSYM_HOST;
  delete bare.QXSYM_PORT;
  const r = spawnSync(process.execPath, [bin, 'explore', '--port', '1'], {
    env: bare,
    encoding: 'utf8',
  });
  assert.equal(r.status, 2);
  assert.match(r.stderr, /--host \(or QXSYM_HOST\) is required/);
});
