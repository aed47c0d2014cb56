'use strict';
// Who may use the explorer (the key, the cookie, the Bearer header, the
// origin of changes), https, the terminal's log of writes and the words for
// a controller that cannot be reached.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const https = require('https');
const net = require('net');
const os = require('os');
const path = require('path');

const { startSim, startExplorer, stop } = require('./support');

const BIN = path.join(__dirname, '..', '..', 'bin', 'qxsymbols.js');
const KEY = 'test-key-0123456789abcdef';

// A fresh folder under one removed when the tests end.
let root = null;
function tempDir() {
  if (!root) {
    const made = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-explore-secure-'));
    process.on('exit', () => fs.rmSync(made, { recursive: true, force: true }));
    root = made;
  }
  return fs.mkdtempSync(path.join(root, 'd'));
}

function keyFile(text) {
  const file = path.join(tempDir(), 'key');
  fs.writeFileSync(file, text);
  return file;
}

// One request as written: { status, headers, body } (body parsed when JSON).
function request(url, { method = 'GET', headers = {}, body, ca } = {}) {
  const u = new URL(url);
  const lib = u.protocol === 'https:' ? https : http;
  const text = body === undefined ? undefined : JSON.stringify(body);
  const all = text === undefined ? headers : { 'Content-Type': 'application/json', ...headers };
  return new Promise((resolve, reject) => {
    const req = lib.request(u, { method, headers: all, ca }, (res) => {
      let data = '';
      res.setEncoding('utf8');
      res.on('data', (d) => (data += d));
      res.on('end', () => {
        let parsed = data;
        if (/json/.test(res.headers['content-type'] || '')) parsed = JSON.parse(data);
        resolve({ status: res.statusCode, headers: res.headers, body: parsed });
      });
    });
    req.on('error', reject);
    req.end(text);
  });
}

async function waitFor(what, check) {
  for (let i = 0; i < 300; i++) {
    const got = await check();
    if (got) return got;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`${what} never happened`);
}

const bearer = { Authorization: `Bearer ${KEY}` };
const connected = (url) =>
  waitFor('connected', async () => {
    const r = await request(`${url}api/state`, { headers: bearer });
    return r.body.state === 'connected';
  });

test('the key: needed for pages, the API and events, given by the address, cookie or Bearer', async (t) => {
  const sim = await startSim();
  const ex = await startExplorer(sim.port, ['--token-file', keyFile(`${KEY}\nignored\n`)]);
  t.after(async () => {
    await stop(ex.child);
    await stop(sim.child);
  });
  assert.strictEqual(ex.token, KEY, 'the printed address carries the file key');
  for (const where of ['', 'app.js', 'style.css']) {
    const r = await request(ex.url + where);
    assert.strictEqual(r.status, 401, where);
    assert.match(r.headers['content-type'], /text\/html/, where);
    assert.match(r.body, /open the address the explorer printed, it carries the key/, where);
  }
  for (const where of ['api/state', 'api/tags', 'api/events', 'api/tag?name=CntInt']) {
    const r = await request(ex.url + where);
    assert.strictEqual(r.status, 401, where);
    assert.match(r.body.error.message, /the address the explorer printed/, where);
  }
  const wrong = [
    { url: `${ex.url}?token=${KEY}x` },
    { url: `${ex.url}api/state?token=wrong`, json: true },
    { url: `${ex.url}api/state`, headers: { Authorization: `Bearer ${KEY.slice(1)}` } },
    { url: `${ex.url}api/state`, headers: { Cookie: `qxsym_explore=${KEY}0` } },
    { url: `${ex.url}api/state`, headers: { Authorization: KEY } },
  ];
  for (const w of wrong) assert.strictEqual((await request(w.url, w)).status, 401, w.url);
  // The favicon needs no key (browsers ask for it on their own).
  assert.strictEqual((await request(`${ex.url}favicon.ico`)).status, 404);

  const opened = await request(`${ex.url}api/tags?x=1&token=${KEY}&y=2`);
  assert.strictEqual(opened.status, 303);
  assert.strictEqual(opened.headers.location, '/api/tags?x=1&y=2', 'the key leaves the address');
  const [cookie] = opened.headers['set-cookie'];
  assert.strictEqual(cookie, `qxsym_explore=${KEY}; Path=/; HttpOnly; SameSite=Strict`);
  const root = await request(`${ex.url}?token=${KEY}`);
  assert.strictEqual(root.headers.location, '/');
  const withCookie = { Cookie: `other=1; qxsym_explore=${KEY}` };
  assert.strictEqual((await request(ex.url, { headers: withCookie })).status, 200);
  assert.strictEqual((await request(`${ex.url}api/state`, { headers: withCookie })).status, 200);
  assert.strictEqual((await request(`${ex.url}api/state`, { headers: bearer })).status, 200);
});

test('changes come from the own page or a script with the Bearer header', async (t) => {
  const sim = await startSim();
  const ex = await startExplorer(sim.port, ['--token-file', keyFile(KEY)]);
  t.after(async () => {
    await stop(ex.child);
    await stop(sim.child);
  });
  await connected(ex.url);
  const own = new URL(ex.url).origin;
  const cookie = `qxsym_explore=${KEY}`;
  const cases = [
    ['cookie, own origin', { Cookie: cookie, Origin: own }, 200],
    ['cookie, own origin in capitals', { Cookie: cookie, Origin: own.toUpperCase() }, 200],
    ['cookie, foreign origin', { Cookie: cookie, Origin: 'http://evil.example' }, 403],
    ['cookie, other port', { Cookie: cookie, Origin: 'http://127.0.0.1:1' }, 403],
    ['cookie, https origin', { Cookie: cookie, Origin: own.replace('http:', 'https:') }, 403],
    ['cookie, null origin', { Cookie: cookie, Origin: 'null' }, 403],
    ['cookie, no origin', { Cookie: cookie }, 403],
    ['Bearer, no origin', bearer, 200],
    ['Bearer, foreign origin', { ...bearer, Origin: 'http://evil.example' }, 403],
    ['own origin, no key', { Origin: own }, 401],
  ];
  for (const [what, headers, status] of cases) {
    const r = await request(`${ex.url}api/tick`, { method: 'POST', headers, body: { tick: 200 } });
    assert.strictEqual(r.status, status, what);
    if (status === 403) assert.match(r.body.error.message, /the explorer's own page/, what);
  }
  // The redirect is for reading: a change with the key in its address is refused.
  const inAddress = await request(`${ex.url}api/tick?token=${KEY}`, {
    method: 'POST',
    headers: { Origin: own },
    body: { tick: 200 },
  });
  assert.strictEqual(inAddress.status, 401);
});

test('every write and every refused one is logged with who and what', async (t) => {
  const sim = await startSim();
  const rw = await startExplorer(sim.port, ['--allow-write', '--token-file', keyFile(KEY)]);
  const ro = await startExplorer(sim.port, ['--token-file', keyFile(KEY)]);
  t.after(async () => {
    await Promise.all([stop(rw.child), stop(ro.child)]);
    await stop(sim.child);
  });
  await Promise.all([connected(rw.url), connected(ro.url)]);
  const write = (ex, name, text) =>
    request(`${ex.url}api/write`, { method: 'POST', headers: bearer, body: { name, text } });
  const logged = (ex, pattern) => waitFor(`${pattern}`, () => pattern.exec(ex.child.stderrText()));

  assert.strictEqual((await write(rw, 'Temps[3]', '80')).status, 200);
  const m = await logged(rw, /^qxsymbols: write Temps\[3\] = 80 \(was (-?[\d.e+-]+)\) by (.*)$/m);
  assert.strictEqual(m[2], '127.0.0.1', 'the client, without ::ffff:');
  assert.notStrictEqual(m[1], '80', 'the value before the write');
  assert.strictEqual((await write(rw, 'Temps[3]', '81')).status, 200);
  await logged(rw, /^qxsymbols: write Temps\[3\] = 81 \(was 80\) by 127\.0\.0\.1$/m);

  // A large value is told by its start.
  assert.strictEqual(
    (await write(rw, 'Temps', JSON.stringify(Array(8).fill(-1.2345678e30)))).status,
    200,
  );
  const big = await logged(rw, /^qxsymbols: write Temps = (\[.*) \(was .*\) by 127\.0\.0\.1$/m);
  assert.match(big[1], /^\[-1\.234567\d*e\+30,.*\.\.\. \(\d+ characters\)$/);

  assert.strictEqual((await write(rw, 'EStopOk', '0')).status, 409);
  await logged(rw, /^qxsymbols: write of EStopOk refused for 127\.0\.0\.1: .*symResReadOnlyTag/m);
  assert.strictEqual((await write(rw, 'CntUsint', '300')).status, 400);
  await logged(rw, /^qxsymbols: write of CntUsint refused for 127\.0\.0\.1: .*out of range/m);
  assert.strictEqual((await write(ro, 'CntInt', '1')).status, 403);
  await logged(ro, /^qxsymbols: write of CntInt refused for 127\.0\.0\.1: writes are off/m);

  // A name cannot forge a line of the log.
  const forged = 'X\nqxsymbols: write Y = 1 (was 0) by 10.0.0.9\r\x1b[2K';
  assert.notStrictEqual((await write(rw, forged, '1')).status, 200);
  await logged(rw, /write of X\\x0aqxsymbols: write Y = 1 \(was 0\) by 10\.0\.0\.9\\x0d\\x1b\[2K/);
  assert.doesNotMatch(rw.child.stderrText(), /^qxsymbols: write Y/m);
  assert.ok(!rw.child.stderrText().includes('\x1b'), 'no escape character reaches the terminal');
});

test('https with --cert and --key; the cookie is then Secure', async (t) => {
  const dir = tempDir();
  const cert = path.join(dir, 'cert.pem');
  const key = path.join(dir, 'key.pem');
  const made = spawnSync('openssl', [
    'req',
    '-x509',
    '-newkey',
    'rsa:2048',
    '-nodes',
    '-days',
    '1',
    '-subj',
    '/CN=127.0.0.1',
    '-addext',
    'subjectAltName=IP:127.0.0.1',
    '-keyout',
    key,
    '-out',
    cert,
  ]);
  assert.strictEqual(made.status, 0, String(made.stderr));
  const ca = fs.readFileSync(cert);
  const sim = await startSim();
  const ex = await startExplorer(sim.port, ['--cert', cert, '--key', key]);
  t.after(async () => {
    await stop(ex.child);
    await stop(sim.child);
  });
  assert.match(ex.link, /^https:\/\/127\.0\.0\.1:\d+\/\?token=[\w-]{32}$/);
  const opened = await request(ex.link, { ca });
  assert.strictEqual(opened.status, 303);
  assert.match(opened.headers['set-cookie'][0], /; HttpOnly; SameSite=Strict; Secure$/);
  const cookie = { Cookie: `qxsym_explore=${ex.token}` };
  const page = await request(ex.url, { ca, headers: cookie });
  assert.strictEqual(page.status, 200);
  assert.match(page.body, /<html/i);
  const origin = new URL(ex.url).origin;
  const r = await request(`${ex.url}api/tick`, {
    ca,
    method: 'POST',
    headers: { ...cookie, Origin: origin },
    body: { tick: 300 },
  });
  assert.strictEqual(r.status, 200);
  assert.strictEqual(r.body.tick, 300);
  await assert.rejects(request(ex.url.replace('https:', 'http:')), 'plain http is not served');
});

test('the command refuses a bad key file and a lone or unreadable --cert', () => {
  const dir = tempDir();
  const pem = path.join(dir, 'not.pem');
  fs.writeFileSync(pem, 'not a certificate\n');
  const run = (...args) =>
    spawnSync(process.execPath, [BIN, 'explore', '--host', '127.0.0.1', '--port', '1', ...args], {
      encoding: 'utf8',
      timeout: 10000,
    });
  const cases = [
    [['--token-file', path.join(dir, 'none')], /cannot read --token-file .*none/],
    [['--token-file', keyFile('\nsecond-line-0123456789\n')], /the first line is empty/],
    [['--token-file', keyFile('short-key\n')], /at least 16 characters/],
    [['--token-file', keyFile('has a space in 0123456789\n')], /at least 16 characters of/],
    [['--token-file', keyFile('semi;colon0123456789\n')], /letters, digits/],
    [['--cert', pem], /--cert and --key go together/],
    [['--key', pem], /--cert and --key go together/],
    [['--cert', path.join(dir, 'none'), '--key', pem], /cannot read --cert/],
    [['--cert', pem, '--key', pem], /cannot serve https with --cert and --key/],
  ];
  for (const [args, message] of cases) {
    const r = run(...args);
    assert.strictEqual(r.status, 2, args.join(' '));
    assert.match(r.stderr, message, args.join(' '));
    assert.strictEqual(r.stdout, '', 'nothing served');
  }
});

// The state's connection, once it has the reason looked for.
function connectionOf(ex, state) {
  return waitFor(`connection ${state}`, async () => {
    const r = await request(`${ex.url}api/state`, {
      headers: { Authorization: `Bearer ${ex.token}` },
    });
    return r.body.connection.state === state && r.body.connection;
  });
}

test('a controller that cannot be reached says why, on the page and once in the terminal', async (t) => {
  let sim = await startSim();
  const port = sim.port;
  await stop(sim.child);
  const refused = await startExplorer(port);
  // A controller that takes the connection and never answers.
  const silent = net.createServer((sock) => sock.on('error', () => {}));
  await new Promise((r) => silent.listen(0, '127.0.0.1', r));
  const quiet = await startExplorer(silent.address().port, ['--timeout', '100']);
  const newer = await startSim({ extra: ['--version', '4.0.0.0'] });
  const old = await startExplorer(newer.port);
  t.after(async () => {
    await Promise.all([stop(refused.child), stop(quiet.child), stop(old.child)]);
    await Promise.all([stop(sim.child), stop(newer.child)]);
    silent.close();
  });

  const c = await connectionOf(refused, 'failed');
  assert.strictEqual(c.reason, 'the controller refused the connection');
  assert.strictEqual(c.advice, 'is it running, and is the port right?');
  const q = await connectionOf(quiet, 'failed');
  assert.strictEqual(q.reason, 'the controller does not answer');
  assert.match(q.advice, /raise the time-out/);
  const v = await connectionOf(old, 'failed');
  assert.match(v.reason, /major version other than 3/);
  assert.match(v.advice, /matches the controller's version/);

  sim = await startSim({ port });
  assert.strictEqual((await connectionOf(refused, 'connected')).reason, null);
  const text = refused.child.stderrText();
  const line =
    `qxsymbols: cannot reach 127.0.0.1:${port}: the controller refused the connection ` +
    '(is it running, and is the port right?)\n';
  assert.strictEqual(text.split(line).length - 1, 1, `told once:\n${text}`);
  await waitFor('told of the connection', () =>
    refused.child.stderrText().includes(`qxsymbols: connected to 127.0.0.1:${port}\n`),
  );
  // A lost connection is told in the core's words, not as a code.
  await stop(sim.child);
  // The loss shows at the next exchange with the controller.
  await request(`${refused.url}api/tag?name=CntInt`, {
    headers: { Authorization: `Bearer ${refused.token}` },
  });
  const lost = await connectionOf(refused, 'connecting');
  assert.match(lost.reason, /^the /);
  assert.ok(lost.advice);
  await waitFor('told of the loss', () =>
    refused.child.stderrText().includes(`cannot reach 127.0.0.1:${port}: ${lost.reason}`),
  );
});

test('without the add-on the page is served and says why nothing is reached', async (t) => {
  const bad = path.join(tempDir(), 'qxsymbols_async.node');
  fs.writeFileSync(bad, 'not a shared object');
  const env = { ...process.env, QXSYMBOLS_ASYNC_ADDON: bad };
  const ex = await startExplorer(1, [], env);
  t.after(() => stop(ex.child));
  const c = await connectionOf(ex, 'failed');
  assert.match(c.reason, /the add-on qxsymbols_async\.node was not found or did not load/);
  assert.match(c.advice, /QXSYMBOLS_ASYNC_ADDON/);
  const page = await request(ex.url, { headers: { Authorization: `Bearer ${ex.token}` } });
  assert.strictEqual(page.status, 200);
  await waitFor('told in the terminal', () =>
    /^qxsymbols: cannot reach 127\.0\.0\.1:1: the add-on/m.test(ex.child.stderrText()),
  );
});
