'use strict';
// The explorer's command and HTTP interface without a browser: what it
// refuses, and that it waits for a controller that is not there yet.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const http = require('http');
const path = require('path');

const { startSim, startExplorer, auth, stop } = require('./support');

const BIN = path.join(__dirname, '..', '..', 'bin', 'qxsymbols.js');

async function call(url, method = 'GET', body, type = 'application/json') {
  const init = { method, headers: { ...auth(url), ...(type ? { 'Content-Type': type } : {}) } };
  if (body !== undefined) init.body = typeof body === 'string' ? body : JSON.stringify(body);
  const res = await fetch(url, init);
  return { status: res.status, body: await res.json().catch(() => null) };
}

async function waitState(url, want) {
  for (let i = 0; i < 200; i++) {
    const { body } = await call(`${url}api/state`);
    if (body.state === want) return body;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`state never became ${want}`);
}

// Typed text is read by the client core's rules on the server, as the
// write will read it; the page only shows what comes back.
test('a check reads typed text as the write will, or says why not', async (t) => {
  const sim = await startSim();
  const rw = await startExplorer(sim.port, ['--allow-write']);
  t.after(async () => {
    await stop(rw.child);
    await stop(sim.child);
  });
  await waitState(rw.url, 'connected');
  const check = (name, text) => call(`${rw.url}api/check`, 'POST', { name, text });
  const accepted = [
    ['CntUsint', '255', 255, '255'],
    ['StatusWord', '16#FF_FF', 65535, '65535'],
    ['CntLint', '-9223372036854775808', '-9223372036854775808', '-9223372036854775808'],
    ['Temps[2]', '-1.5e3', -1500, '-1500'],
    ['StartButton', 'TRUE', true, 'true'],
    [
      'Line',
      '{"Main": {"SetSpeed": 12.5}}',
      { Main: { SetSpeed: 12.5 } },
      '{"Main":{"SetSpeed":12.5}}',
    ],
  ];
  for (const [name, text, value, shown] of accepted) {
    const r = await check(name, text);
    assert.strictEqual(r.status, 200, `${name} ${text}: ${JSON.stringify(r.body)}`);
    assert.deepStrictEqual([r.body.value, r.body.shown], [value, shown], `${name} ${text}`);
  }
  const refused = [
    ['CntUsint', '300', 400, /300 is out of range: USINT takes 0 to 255/],
    ['Temps[2]', '1e39', 400, /1e\+39 is out of range: REAL takes/],
    ['CntInt', 'abc', 400, /'abc' is not a number/],
    ['Temps', '[1,2,3,4,5,6,7,8,9]', 409, /9 elements, the dimension holds 8/],
    ['Line', '{"Torque": 1}', 409, /symResSymbolNotFound: .*'Line\.Torque': no such member/],
    ['EStopOk', '0', 409, /symResReadOnlyTag/],
    // An element of a read-only tag is read-only too.
    ['ZoneSetpoints[2]', '5', 409, /symResReadOnlyTag: .*'ZoneSetpoints' is read-only/],
  ];
  for (const [name, text, status, message] of refused) {
    const r = await check(name, text);
    assert.strictEqual(r.status, status, `${name} ${text}`);
    assert.match(`${r.body.error.result}: ${r.body.error.message}`, message, `${name} ${text}`);
  }
  // Checking writes nothing.
  assert.strictEqual((await check('CntUint', '1')).status, 200);
  assert.strictEqual((await call(`${rw.url}api/tag?name=CntUint`)).body.value, 54321);
});

test('the command refuses bad arguments and warns when not on loopback', async (t) => {
  const run = (...args) => spawnSync(process.execPath, [BIN, ...args], { encoding: 'utf8' });
  for (const args of [
    ['explore', '--port', '1'],
    ['explore', '--host', 'h'],
    ['explore', '--host', 'h', '--port', '70000'],
    ['explore', '--host', 'h', '--port', '1', '--listen', 'nowhere'],
    ['frobnicate'],
  ]) {
    const r = run(...args);
    assert.strictEqual(r.status, 2, args.join(' '));
    assert.match(r.stderr, /usage: qxsymbols explore/);
  }
  const sim = await startSim();
  t.after(() => stop(sim.child));
  const wide = await startExplorer(sim.port, ['--listen', '0.0.0.0:0']);
  const loop = await startExplorer(sim.port);
  await Promise.all([stop(wide.child), stop(loop.child)]);
  assert.match(wide.child.stderrText(), /warning: listening on 0\.0\.0\.0:\d+, not on loopback/);
  assert.strictEqual(loop.child.stderrText(), '');
});

test('the HTTP interface refuses what it must', async (t) => {
  const sim = await startSim();
  const ro = await startExplorer(sim.port);
  const rw = await startExplorer(sim.port, ['--allow-write']);
  t.after(async () => {
    await Promise.all([stop(ro.child), stop(rw.child)]);
    await stop(sim.child);
  });
  await Promise.all([waitState(ro.url, 'connected'), waitState(rw.url, 'connected')]);
  const cases = [
    [ro.url, 'POST', 'api/write', { name: 'CntInt', text: '1' }, 403, /writes are off/],
    [ro.url, 'POST', 'api/check', { name: 'CntInt', text: '1' }, 403, /writes are off/],
    [rw.url, 'POST', 'api/check', { name: 'CntInt' }, 400, /a write needs name and text/],
    [
      rw.url,
      'POST',
      'api/write',
      { name: 'CntInt', text: '1' },
      415,
      /application\/json/,
      'text/plain',
    ],
    [rw.url, 'POST', 'api/write', 'x'.repeat(70000), 413, /too large/],
    [rw.url, 'POST', 'api/write', '{', 400, /not JSON/],
    [rw.url, 'POST', 'api/write', { name: 'CntInt', text: '99999' }, 400, /symResInvalidParameter/],
    [rw.url, 'POST', 'api/write', { name: 'EStopOk', text: '0' }, 409, /symResReadOnlyTag/],
    [rw.url, 'POST', 'api/write', { name: 'NoSuchTag', text: '0' }, 409, /symResSymbolNotFound/],
    [rw.url, 'POST', 'api/pins', { names: Array(65).fill('CntInt') }, 400, /up to 64/],
    [rw.url, 'POST', 'api/tick', { tick: 10 }, 400, /tick must be/],
    [rw.url, 'GET', '../server.js', undefined, 404, /no such resource/],
    [rw.url, 'GET', 'api/tag?name=NoSuchTag', undefined, 409, /symResSymbolNotFound/],
    [
      rw.url,
      'GET',
      'api/tag?name=Cnt*',
      undefined,
      400,
      /symResInvalidParameter: a tag name without/,
    ],
  ];
  for (const [url, method, where, body, status, text, type] of cases) {
    const r = await call(url + where, method, body, type);
    assert.strictEqual(r.status, status, `${method} ${where}`);
    const e = r.body.error;
    assert.match(`${e.result || ''}: ${e.message}`, text, `${method} ${where}`);
  }
  const rebound = await new Promise((resolve, reject) => {
    http
      .get(
        `${rw.url}api/state`,
        { headers: { ...auth(rw.url), Host: `attacker.example:${new URL(rw.url).port}` } },
        (res) => {
          res.resume();
          resolve(res.statusCode);
        },
      )
      .on('error', reject);
  });
  assert.strictEqual(rebound, 403, 'a foreign host name');
  // An array cannot join a group read: the pin is refused, with the reason.
  const pinned = await call(`${rw.url}api/pins`, 'POST', { names: ['Temps'] });
  assert.strictEqual(pinned.status, 409);
  assert.strictEqual(pinned.body.error.result, 'symResInvalidGroupTag');
  assert.match(pinned.body.error.message, /cannot pin 'Temps': 'Temps' is an array/);
  assert.deepStrictEqual((await call(`${rw.url}api/state`)).body.pins, []);
});

test('the explorer waits for a controller that is not there yet', async (t) => {
  let sim = await startSim();
  const port = sim.port;
  await stop(sim.child);
  const explorer = await startExplorer(port);
  t.after(async () => {
    await stop(explorer.child);
    await stop(sim.child);
  });
  assert.strictEqual((await call(`${explorer.url}api/state`)).body.state, 'connecting');
  sim = await startSim({ port });
  await waitState(explorer.url, 'connected');
  const { body } = await call(`${explorer.url}api/tags`);
  for (let i = 0; i < 100 && !(await call(`${explorer.url}api/tags`)).body.done; i++)
    await new Promise((r) => setTimeout(r, 50));
  assert.ok(
    (await call(`${explorer.url}api/tags`)).body.names.includes('CntDint'),
    JSON.stringify(body).slice(0, 200),
  );
});
