'use strict';
// The tag tree: paths walked into types, elements by their declared
// indices, the page's grouping by name parts, and the server's tree and
// selection endpoints against qxsym-sim.
const test = require('node:test');
const assert = require('node:assert');

const tree = require('../tree');
const { TagTree, sizeText } = require('../public/tree');
const { startSim, startExplorer, stop, auth } = require('./support');

const REAL = { name: 'REAL', kind: 'real', size: 4 };
const GRID = {
  name: 'ARRAY[-1..0, 2..4] OF REAL',
  kind: 'array',
  size: 24,
  dims: [2, 3],
  lower: [-1, 2],
  element: REAL,
};
const CELL = {
  name: 'CELL',
  kind: 'struct',
  size: 28,
  members: [
    { name: 'Speed', offset: 0, type: REAL },
    { name: 'Grid', offset: 4, type: GRID },
  ],
};

test('paths walk members and declared indices, and refuse what the type lacks', () => {
  assert.deepStrictEqual(tree.parsePath('.Grid[-1, 3]'), [
    ['.', 'Grid'],
    ['[', [-1, 3]],
  ]);
  assert.deepStrictEqual(tree.splitPath('Cell.Grid[0,2]'), ['Cell', '.Grid[0,2]']);
  assert.deepStrictEqual(tree.splitPath('Cell'), ['Cell', '']);
  assert.strictEqual(tree.resolve(CELL, tree.parsePath('.grid[0,4]')), REAL);
  const refused = [
    ['.Nope', /no member 'Nope'/],
    ['.Grid[1,2]', /index 1 is outside/],
    ['.Grid[-1,5]', /index 5 is outside/],
    ['.Grid[0]', /not an array of 1 dimension/],
    ['.Speed[0]', /REAL is not an array/],
  ];
  for (const [p, why] of refused)
    assert.throws(() => tree.resolve(CELL, tree.parsePath(p)), why, p);
  for (const bad of ['Grid', '.Grid[x]', '.Grid[1', '..Speed', '.Speed;'])
    assert.throws(() => tree.parsePath(bad), /not a member or element path/, bad);
});

test('children: members, then elements by declared index with paging', () => {
  const m = tree.childrenOf('Cell', CELL, { allowWrite: true });
  assert.deepStrictEqual(
    m.children.map((c) => [c.path, c.leaf, c.writable, c.elements]),
    [
      ['Cell.Speed', true, true, undefined],
      ['Cell.Grid', false, false, 6],
    ],
  );
  assert.strictEqual(m.children[1].elementSize, 4);
  const e = tree.childrenOf('Cell.Grid', GRID, { readOnly: true, allowWrite: true });
  assert.deepStrictEqual(
    e.children.map((c) => c.path),
    ['[-1,2]', '[-1,3]', '[-1,4]', '[0,2]', '[0,3]', '[0,4]'].map((i) => `Cell.Grid${i}`),
  );
  assert.ok(
    e.children.every((c) => c.readOnly && !c.writable),
    'a read-only tag stays so',
  );
  const big = { ...GRID, dims: [2500], lower: [1] };
  const first = tree.childrenOf('Big', big);
  assert.deepStrictEqual([first.total, first.children.length], [2500, tree.MAX_CHILDREN]);
  const last = tree.childrenOf('Big', big, { from: 2000 });
  assert.deepStrictEqual(
    [last.from, last.children.length, last.children[0].path, last.children.at(-1).path],
    [2000, 500, 'Big[2001]', 'Big[2500]'],
  );
  assert.strictEqual(tree.childrenOf('Big', big, { from: 9999 }).children.length, 0);
  assert.strictEqual(tree.nodeOf('B', 'B', REAL, false, false).writable, false, 'writes off');
});

test('the page groups names by their parts, and a filter shows them flat', () => {
  const t = new TagTree();
  const names = ['A_L1_M1', 'A_L1_M2', 'A_L2_M1', 'B', 'A'];
  t.rebuild(names, '_');
  assert.deepStrictEqual(
    t.roots.map((n) => [n.kind, n.label]),
    [
      ['group', 'A'],
      ['tag', 'B'],
      ['tag', 'A'],
    ],
  );
  const a = t.roots[0];
  assert.strictEqual(a.count, 3);
  a.open = true;
  a.children[0].open = true;
  assert.deepStrictEqual(
    t.rows().map((n) => `${n.depth}:${n.label}`),
    ['0:A', '1:L1', '2:M1', '2:M2', '1:L2', '0:B', '0:A'],
  );
  // What was open stays open through a rebuild (the list grew).
  t.rebuild([...names, 'A_L1_M3'], '_');
  assert.deepStrictEqual(
    t.rows().map((n) => n.label),
    ['A', 'L1', 'M1', 'M2', 'M3', 'L2', 'B', 'A'],
  );
  t.rebuild(names, '_', (n) => n.includes('M1'));
  assert.deepStrictEqual(
    t.rows().map((n) => [n.label, n.group]),
    [
      ['A_L1_M1', 'A _ L1'],
      ['A_L2_M1', 'A _ L2'],
    ],
  );
  t.rebuild(names, '');
  assert.strictEqual(t.rows().length, 5);
  assert.ok(t.rows().every((n) => n.kind === 'tag' && n.depth === 0));
});

test('children told in pages end in a row for the rest; sizes in words', () => {
  const t = new TagTree();
  t.rebuild(['Big'], '');
  const big = t.roots[0];
  const page = (from, n) => ({
    children: Array.from({ length: n }, (_, i) => ({
      name: `[${from + i}]`,
      path: `Big[${from + i}]`,
      leaf: true,
    })),
    total: 5,
    from,
  });
  t.setChildren(big, page(1, 3));
  assert.deepStrictEqual(
    big.children.map((c) => c.kind),
    ['child', 'child', 'child', 'more'],
  );
  assert.strictEqual(big.children[3].label, '2 more elements');
  assert.strictEqual(big.children[3].from, 3);
  t.setChildren(big, page(4, 2));
  assert.deepStrictEqual(
    big.children.map((c) => c.path),
    ['Big[1]', 'Big[2]', 'Big[3]', 'Big[4]', 'Big[5]'],
  );
  assert.ok(!t.opens(big.children[0]), 'a leaf does not open');
  assert.strictEqual(sizeText(1), '1 byte');
  assert.strictEqual(sizeText(32, 8, 4), '32 bytes, 8 elements of 4 bytes');
  assert.strictEqual(sizeText(1, 1, 1), '1 byte, 1 element of 1 byte');
});

// The URL of an endpoint, keeping the query the explorer printed.
function at(base, path, params = {}) {
  const u = new URL(path, base);
  for (const [k, v] of new URL(base).searchParams) u.searchParams.set(k, v);
  for (const [k, v] of Object.entries(params))
    for (const one of [].concat(v)) u.searchParams.append(k, one);
  return u;
}

async function get(base, path, params) {
  const res = await fetch(at(base, path, params), { headers: auth(base) });
  return { status: res.status, body: await res.json().catch(() => null) };
}

test("the server's tree and selection endpoints", async (t) => {
  const sim = await startSim();
  const explorer = await startExplorer(sim.port, ['--allow-write', '--separator', '_']);
  t.after(async () => {
    await stop(explorer.child);
    await stop(sim.child);
  });
  const url = explorer.url;
  for (let i = 0; i < 200; i++) {
    if ((await get(url, 'api/state')).body.state === 'connected') break;
    await new Promise((r) => setTimeout(r, 50));
  }
  assert.strictEqual((await get(url, 'api/state')).body.separator, '_');

  await t.test('rows of tags: flags from the listing, arrays with their elements', async () => {
    const r = await get(url, 'api/nodes', { name: ['serialnumber', 'Temps', 'Missing'] });
    assert.strictEqual(r.status, 200);
    const [serial, temps, missing] = r.body.nodes;
    assert.deepStrictEqual(
      [serial.path, serial.readOnly, serial.writable, serial.leaf, serial.size],
      ['SerialNumber', true, false, true, 17],
    );
    assert.deepStrictEqual([temps.size, temps.elements, temps.elementSize], [32, 8, 4]);
    assert.strictEqual(missing.error.result, 'symResSymbolNotFound');
    const many = Array.from({ length: 201 }, (_, i) => `T${i}`);
    assert.strictEqual((await get(url, 'api/nodes', { name: many })).status, 400);
  });

  await t.test('children of tags, members and elements, or why not', async () => {
    const grid = await get(url, 'api/children', { path: 'Grid' });
    assert.deepStrictEqual(
      grid.body.children.slice(0, 5).map((c) => c.name),
      ['[0,0]', '[0,1]', '[0,2]', '[0,3]', '[1,0]'],
    );
    assert.strictEqual(grid.body.total, 12);
    const book = await get(url, 'api/children', { path: 'recipebook[3]' });
    assert.strictEqual(book.body.path, 'RecipeBook[3]');
    assert.ok(book.body.children.some((c) => c.path === 'RecipeBook[3].OvenTemp' && c.writable));
    const serial = await get(url, 'api/children', { path: 'SerialNumber' });
    assert.deepStrictEqual(serial.body.children, [], 'a leaf has none');
    for (const [path, status] of [
      ['Temps[9]', 400],
      ['Temps.x', 400],
      ['Line.Main.', 400],
      ['Nope', 409],
      ['Line*', 400],
    ]) {
      const r = await get(url, 'api/children', { path });
      assert.strictEqual(r.status, status, `${path}: ${JSON.stringify(r.body)}`);
      assert.ok(r.body.error.message, path);
    }
    assert.strictEqual((await get(url, 'api/children', { path: 'Temps', from: '-1' })).status, 400);
  });

  await t.test("the selection's stream tells its value, time and status", async () => {
    const ac = new AbortController();
    const res = await fetch(at(url, 'api/watch', { name: 'Line.Main.Speed' }), {
      signal: ac.signal,
      headers: auth(url),
    });
    assert.strictEqual(res.headers.get('content-type'), 'text/event-stream');
    let text = '';
    const reader = res.body.getReader();
    while (!/event: values\ndata: .*\n\n/.test(text)) {
      const { value, done } = await reader.read();
      if (done) break;
      text += Buffer.from(value).toString();
    }
    ac.abort();
    const body = JSON.parse(/event: values\ndata: (.*)\n/.exec(text)[1]);
    assert.strictEqual(body.status['Line.Main.Speed'], 'good');
    assert.strictEqual(typeof body.values['Line.Main.Speed'], 'number');
    assert.ok(Math.abs(body.time['Line.Main.Speed'] - Date.now()) < 60000);
    assert.strictEqual((await get(url, 'api/watch', { name: 'Nope*' })).status, 400);
  });

  await t.test('a closed selection stream ends its subscription and its place', async () => {
    // More streams than may be open at once, each closed: none stays counted.
    for (let i = 0; i < 40; i++) {
      const ac = new AbortController();
      const res = await fetch(at(url, 'api/watch', { name: 'CntDint' }), {
        signal: ac.signal,
        headers: auth(url),
      });
      if (res.status === 503) {
        await new Promise((r) => setTimeout(r, 50));
        continue;
      }
      assert.strictEqual(res.status, 200);
      ac.abort();
    }
    let status = 503;
    for (let i = 0; i < 100 && status === 503; i++) {
      const ac = new AbortController();
      const res = await fetch(at(url, 'api/watch', { name: 'CntDint' }), {
        signal: ac.signal,
        headers: auth(url),
      });
      status = res.status;
      ac.abort();
      if (status === 503) await new Promise((r) => setTimeout(r, 50));
    }
    assert.strictEqual(status, 200);
  });
});

test('--separator is checked', () => {
  const { spawnSync } = require('child_process');
  const bin = require('path').join(__dirname, '..', '..', 'bin', 'qxsymbols.js');
  const r = spawnSync(
    process.execPath,
    [bin, 'explore', '--host', 'h', '--port', '1', '--separator', 'ab'],
    {
      encoding: 'utf8',
    },
  );
  assert.strictEqual(r.status, 2);
  assert.match(r.stderr, /--separator must be 1 to 4 characters/);
});
