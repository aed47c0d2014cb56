'use strict';
// The explorer against requests meant to stop it: odd request targets,
// pages that stop reading their event stream, values too large to show,
// pins that cannot be read, and a slow controller. After each, the explorer
// must still answer GET /api/state at once.
const test = require('node:test');
const assert = require('node:assert');
const http = require('http');
const net = require('net');
const { spawnSync } = require('child_process');
const path = require('path');

const { startSim, startExplorer, auth, stop, writeModel, residentBytes } = require('./support');

const AT_ONCE_MS = 1000;
const LONG = 'x'.repeat(240);
const STATIONS = Array.from(
  { length: 64 },
  (_, i) => `Station${String(i).padStart(2, '0')}_${LONG}`,
);
const MODEL = writeModel(
  [
    ...STATIONS.map((name) => ({ name, type: 'DINT' })),
    { name: 'Counter', type: 'DINT', simulate: { kind: 'counter', step: 1 } },
    { name: 'Spare', type: 'DINT' },
    { name: 'Cell', type: 'CELL' },
    { name: 'Grid', type: 'ARRAY[1..4] OF INT' },
    { name: 'Big', type: 'ARRAY[1..20000000] OF BYTE' },
    { name: 'Wide', type: 'WIDE' },
  ],
  [
    {
      name: 'CELL',
      kind: 'STRUCT',
      members: [
        { name: 'Speed', type: 'REAL' },
        { name: 'Parts', type: 'UDINT' },
      ],
    },
    {
      name: 'WIDE',
      kind: 'STRUCT',
      members: [
        { name: 'Id', type: 'DINT' },
        { name: 'Samples', type: 'ARRAY[1..20000] OF INT' },
      ],
    },
  ],
);

async function call(url, method = 'GET', body) {
  const init = { method, headers: { ...auth(url), 'Content-Type': 'application/json' } };
  if (body !== undefined) init.body = JSON.stringify(body);
  const res = await fetch(url, init);
  return { status: res.status, body: await res.json().catch(() => null) };
}

// GET /api/state, which must answer within AT_ONCE_MS.
async function stateAtOnce(url, what) {
  const t0 = Date.now();
  const r = await call(`${url}api/state`);
  const ms = Date.now() - t0;
  assert.strictEqual(r.status, 200, what);
  assert.ok(ms < AT_ONCE_MS, `${what}: GET /api/state took ${ms} ms`);
  return r.body;
}

async function waitState(url, test) {
  for (let i = 0; i < 200; i++) {
    const { body } = await call(`${url}api/state`);
    if (test(body)) return body;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error('the explorer never reached the state waited for');
}

// The status of one request sent as written, target included.
function rawStatus(url, target, method = 'GET') {
  const { hostname, port } = new URL(url);
  return new Promise((resolve, reject) => {
    const sock = net.connect(Number(port), hostname);
    let data = '';
    sock.on('connect', () =>
      sock.write(
        `${method} ${target} HTTP/1.1\r\nHost: ${hostname}:${port}\r\n` +
          `Authorization: ${auth(url).Authorization}\r\nConnection: close\r\n\r\n`,
      ),
    );
    sock.on('data', (d) => {
      data += d;
    });
    sock.on('end', () => resolve(Number((/^HTTP\/1\.1 (\d+)/.exec(data) || [])[1])));
    sock.on('error', reject);
  });
}

// An event stream that is read only inside events(pred): until an event
// satisfies pred(type, data), for at most 10 s.
function eventStream(url) {
  return new Promise((resolve, reject) => {
    http
      .get(`${url}api/events`, { headers: auth(url) }, (res) => {
        let text = '';
        const stream = {
          res,
          events(pred) {
            return new Promise((done, fail) => {
              const timer = setTimeout(() => {
                res.off('data', onData);
                fail(new Error('the event waited for did not come within 10 s'));
              }, 10000);
              const look = () => {
                for (let at; (at = text.indexOf('\n\n')) >= 0;) {
                  const block = text.slice(0, at);
                  text = text.slice(at + 2);
                  const type = (/^event: (.*)$/m.exec(block) || [])[1];
                  const data = (/^data: (.*)$/m.exec(block) || [])[1];
                  if (type && pred(type, JSON.parse(data))) {
                    clearTimeout(timer);
                    res.off('data', onData);
                    res.pause();
                    return done();
                  }
                }
              };
              const onData = (d) => {
                text += d;
                look();
              };
              res.on('data', onData);
              res.resume();
              look();
            });
          },
          close: () => res.destroy(),
        };
        resolve(stream);
      })
      .on('error', reject);
  });
}

// Values of name from a stream until two differ: the pin updates.
async function updates(stream, name) {
  const seen = new Set();
  await stream.events(
    (type, data) =>
      type === 'values' && name in data.values && seen.add(data.values[name]) && seen.size > 1,
  );
}

async function started(t, simOptions, explorerArgs = []) {
  const sim = await startSim({ model: MODEL, ...simOptions });
  const explorer = await startExplorer(sim.port, explorerArgs);
  t.after(async () => {
    await stop(explorer.child);
    await stop(sim.child);
  });
  await waitState(explorer.url, (s) => s.state === 'connected');
  return { sim, explorer, url: explorer.url };
}

test('any request target gets an answer and the explorer goes on', async (t) => {
  const { url } = await started(t);
  const cases = [
    ['//', 404],
    ['//%', 404],
    ['//a:b@/', 404],
    ['/__proto__', 404],
    ['/%', 404],
    ['*', 400],
    ['http://explorer/api/state', 400],
    ['/api/tag?name=%', 409],
  ];
  for (const [target, status] of cases) {
    assert.strictEqual(await rawStatus(url, target), status, target);
    await stateAtOnce(url, target);
  }
  assert.strictEqual(await rawStatus(url, '*', 'OPTIONS'), 400);
  await stateAtOnce(url, 'OPTIONS *');
});

test('pages that stop reading keep the memory bounded and catch up with the latest state', async (t) => {
  const { sim, explorer, url } = await started(t, {}, ['--tick', '50']);
  const stalled = await Promise.all([1, 2, 3, 4].map(() => eventStream(url)));
  t.after(() => stalled.forEach((s) => s.close()));
  // Every change sends each page a state event of about 17 KB (the order
  // changes, so no tag is checked again). The memory is measured after the
  // first changes, once the explorer's heap has grown to its working size.
  const lists = [STATIONS, [...STATIONS].reverse()];
  const change = async (n) => {
    for (let i = 0; i < n; i++) {
      const r = await call(`${url}api/pins`, 'POST', { names: lists[i % 2] });
      assert.strictEqual(r.status, 200, JSON.stringify(r.body));
    }
  };
  await change(1000);
  const before = residentBytes(explorer.child.pid);
  await change(4000);
  const grown = residentBytes(explorer.child.pid) - before;
  assert.ok(grown < 32 * 1024 * 1024, `the explorer grew by ${grown} bytes`);
  await call(`${url}api/pins`, 'POST', { names: ['Counter', 'Cell'] });
  await stateAtOnce(url, 'stalled pages');
  // The controller comes back: the tag list is sent again, and missed.
  const port = sim.port;
  const { connectedAt } = await stateAtOnce(url, 'before the restart');
  await stop(sim.child, 'SIGKILL');
  const again = await startSim({ port, model: MODEL });
  t.after(() => stop(again.child));
  await waitState(url, (s) => s.state === 'connected' && s.connectedAt !== connectedAt);
  // Read again, a page receives the latest state and is told to fetch the
  // tag list, instead of the backlog; then values again.
  const page = stalled[0];
  const caught = new Set();
  await page.events((type, data) => {
    if (type === 'state' && data.state === 'connected' && data.pins.join() === 'Counter,Cell')
      caught.add('state');
    if (type === 'tags' && data.resync) caught.add('tags');
    return caught.size === 2;
  });
  await updates(page, 'Counter');
});

test('at most 32 pages are served at once', async (t) => {
  const { url } = await started(t);
  const pages = await Promise.all(Array.from({ length: 32 }, () => eventStream(url)));
  t.after(() => pages.forEach((p) => p.close()));
  assert.ok(pages.every((p) => p.res.statusCode === 200));
  const extra = await eventStream(url);
  assert.strictEqual(extra.res.statusCode, 503);
  extra.close();
  await stateAtOnce(url, '32 pages');
  // A page that goes makes room for another.
  pages.pop().close();
  for (let i = 0; ; i++) {
    const next = await eventStream(url);
    pages.push(next);
    if (next.res.statusCode === 200) break;
    assert.ok(i < 100, 'no room after a page went');
    await new Promise((r) => setTimeout(r, 20));
  }
});

test('a value too large to show is refused at once', async (t) => {
  const { url } = await started(t, {}, ['--allow-write']);
  const t0 = Date.now();
  const big = await call(`${url}api/tag?name=Big`);
  assert.ok(Date.now() - t0 < AT_ONCE_MS, `GET /api/tag?name=Big took ${Date.now() - t0} ms`);
  // The client core lays out at most 65536 elements of one tag: such a tag
  // is refused whole, at once, with the reason.
  assert.strictEqual(big.status, 409);
  assert.strictEqual(big.body.error.result, 'symResMaxReached');
  assert.match(big.body.error.message, /'Big' has more than 65536 elements/);
  const write = await call(`${url}api/write`, 'POST', { name: 'Big', text: '[1]' });
  assert.strictEqual(write.status, 409);
  assert.strictEqual(write.body.error.result, 'symResMaxReached');
  await stateAtOnce(url, 'an oversized value');
  // Within the limits, a structure's value is shown.
  assert.deepStrictEqual(Object.keys((await call(`${url}api/tag?name=Cell`)).body.value), [
    'Speed',
    'Parts',
  ]);
});

test('a pin that cannot be read is refused and the others go on updating', async (t) => {
  const { sim, url } = await started(t);
  assert.strictEqual(
    (await call(`${url}api/pins`, 'POST', { names: ['Counter', 'Cell'] })).status,
    200,
  );
  const refusals = [
    ['Grid', 'symResInvalidGroupTag', /cannot pin 'Grid': 'Grid' is an array/],
    ['NoSuchTag', 'symResSymbolNotFound', /cannot pin 'NoSuchTag'/],
    ['Wide', 'symResInvalidTagSize', /cannot pin 'Wide': 'Wide' holds 20001 values/],
    ['Big', 'symResMaxReached', /cannot pin 'Big'/],
  ];
  for (const [name, result, message] of refusals) {
    const r = await call(`${url}api/pins`, 'POST', { names: ['Counter', 'Cell', name] });
    assert.strictEqual(r.status, 409, name);
    assert.strictEqual(r.body.error.result, result, name);
    assert.match(r.body.error.message, message);
    assert.deepStrictEqual((await stateAtOnce(url, name)).pins, ['Counter', 'Cell'], name);
  }
  // The pins together stay within what is read at once.
  const many = await call(`${url}api/pins`, 'POST', { names: [...STATIONS.slice(1), 'Counter'] });
  assert.strictEqual(many.status, 200);
  const page = await eventStream(url);
  t.after(() => page.close());
  await updates(page, 'Counter');

  // A pinned tag the controller no longer has, after it came back with
  // another model: that pin says why, the others go on.
  await call(`${url}api/pins`, 'POST', { names: ['Counter', 'Spare'] });
  const port = sim.port;
  await stop(sim.child, 'SIGKILL');
  const other = writeModel([
    { name: 'Counter', type: 'DINT', simulate: { kind: 'counter', step: 1 } },
  ]);
  const again = await startSim({ port, model: other });
  t.after(() => stop(again.child));
  const s = await waitState(url, (b) => b.state === 'connected' && b.pinErrors.Spare);
  assert.strictEqual(s.pinErrors.Spare.result, 'symResSymbolNotFound');
  assert.deepStrictEqual(s.pins, ['Counter', 'Spare']);
  await page.events(
    (type, data) => type === 'values' && !('Spare' in data.values) && 'Counter' in data.values,
  );
  await updates(page, 'Counter');
});

test("the page's files are served while the controller is slow", async (t) => {
  const dir = path.dirname(MODEL);
  const large = path.join(dir, 'large.json');
  const gen = spawnSync(
    process.env.QXSYM_GENMODEL,
    ['--tags', '3000', '--seed', '1', '-o', large],
    { encoding: 'utf8' },
  );
  assert.strictEqual(gen.status, 0, gen.stderr);
  const sim = await startSim({ model: large, extra: ['--delay', '400'] });
  const explorer = await startExplorer(sim.port, ['--timeout', '10000', '--list-connections', '4']);
  // Killed: a process leaves only once the exchanges in flight end.
  t.after(async () => {
    await stop(explorer.child, 'SIGKILL');
    await stop(sim.child);
  });
  const url = explorer.url;
  // For the first seconds of the listing, which soon holds four worker
  // threads with exchanges that take seconds each, every file answers at once.
  await waitState(url, (s) => s.state === 'connected');
  const files = ['', 'app.js', 'csv.js', 'style.css'];
  for (let i = 0, end = Date.now() + 5000; Date.now() < end; i++) {
    const file = files[i % files.length];
    const t0 = Date.now();
    const res = await fetch(url + file, { headers: auth(url), signal: AbortSignal.timeout(5000) });
    await res.arrayBuffer();
    assert.strictEqual(res.status, 200, file);
    assert.ok(Date.now() - t0 < AT_ONCE_MS, `/${file} took ${Date.now() - t0} ms`);
    await new Promise((r) => setTimeout(r, 100));
  }
  assert.strictEqual(
    (await call(`${url}api/tags`)).body.done,
    false,
    'the listing was still running',
  );
  await stateAtOnce(url, 'a slow controller');
});
