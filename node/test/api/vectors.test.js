'use strict';
// The shared value vectors (tests/vectors/values.json) through the Node
// front end: leaf cases through the add-on's values as JavaScript passes
// them, tag cases through the promise API against qxsym-sim serving the
// table's model. Node takes values, not typed text: 'parse' cases and the
// 'shown' texts are the command line's, and are skipped here; so are the
// 'raw' byte checks (the 'then' reads check what was written).
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { test, after } = require('node:test');
const { api, startSim } = require('./support');
const native = require('../../lib/native');

const DIR = path.join(__dirname, '..', '..', '..', 'tests', 'vectors');
const TABLE = JSON.parse(fs.readFileSync(path.join(DIR, 'values.json'), 'utf8'));
const TYVAR = {
  BOOL: 1,
  SINT: 2,
  USINT: 3,
  BYTE: 4,
  INT: 5,
  UINT: 6,
  WORD: 7,
  DINT: 9,
  UDINT: 10,
  DWORD: 11,
  LINT: 12,
  ULINT: 13,
  LWORD: 14,
  REAL: 15,
  LREAL: 16,
  STRING: 17,
  POINTER: 20,
};
const WIDTH = {
  BOOL: 1,
  SINT: 1,
  USINT: 1,
  BYTE: 1,
  INT: 2,
  UINT: 2,
  WORD: 2,
  DINT: 4,
  UDINT: 4,
  DWORD: 4,
  LINT: 8,
  ULINT: 8,
  LWORD: 8,
  REAL: 4,
  LREAL: 8,
};
const ENCODING = { latin1: 0, utf8: 1, windows1252: 2 };
const FLOATS = { inf: Infinity, '-inf': -Infinity, nan: NaN, '-0': -0 };
const typeName = (tyvar) => Object.keys(TYVAR).find((k) => TYVAR[k] === tyvar);

assert.equal(TABLE.format, 1);

// A typed value of the table as JavaScript passes it: integers as Numbers
// within 2^53, as BigInts beyond.
function toJs(typed) {
  const [[kind, v]] = Object.entries(typed);
  switch (kind) {
    case 'signed':
    case 'unsigned': {
      const n = BigInt(v);
      return n >= -(2n ** 53n) && n <= 2n ** 53n ? Number(n) : n;
    }
    case 'float':
      return typeof v === 'string' ? FLOATS[v] : v;
    case 'bytes':
      return Buffer.from(v, 'hex');
    default:
      return v; // bool, text
  }
}

function same(actual, typed, where) {
  const [[kind, v]] = Object.entries(typed);
  if (kind === 'signed' || kind === 'unsigned') {
    assert.ok(['number', 'bigint'].includes(typeof actual), `${where}: ${actual} is no integer`);
    assert.equal(BigInt(actual), BigInt(v), where);
  } else if (kind === 'float') {
    const want = toJs(typed);
    assert.ok(
      Number.isNaN(want) ? Number.isNaN(actual) : Object.is(actual, want),
      `${where}: ${actual} != ${v}`,
    );
  } else if (kind === 'bytes') {
    assert.equal(Buffer.from(actual).toString('hex').toUpperCase(), v, where);
  } else {
    assert.equal(actual, v, where);
  }
}

function refusedAs(c, result, message, where) {
  assert.equal(result, api.codes[c.error], `${where}: ${message}`);
  for (const piece of c.message || [])
    assert.ok(message.includes(piece), `${where}: '${piece}' in "${message}"`);
}

function leafCase(c, where) {
  const tyvar = typeof c.type === 'number' ? c.type : TYVAR[c.type];
  const encoding = ENCODING[c.encoding || 'latin1'];
  const size = c.size ?? WIDTH[c.type];
  if (c.op === 'decode' || c.op === 'both') {
    const r = native().decodeLeaf(tyvar, Buffer.from(c.bytes, 'hex'), encoding);
    if (c.error) return refusedAs(c, r.result, r.message, where);
    assert.equal(r.result, 0, `${where}: ${r.message}`);
    same(r.value, c.value, where);
  }
  if (c.op === 'encode' || c.op === 'both') {
    const r = native().encodeLeaf(tyvar, toJs(c.value), size, encoding);
    if (c.error) return refusedAs(c, r.result, r.message, where);
    assert.equal(r.result, 0, `${where}: ${r.message}`);
    assert.equal(r.bytes.toString('hex').toUpperCase(), c.bytes, where);
  }
}

test('leaf cases: every basic type at its bounds and beyond, texts in each encoding', () => {
  let ran = 0;
  for (const g of TABLE.leaf) {
    g.cases.forEach((c, i) => {
      if (c.op === 'parse') return;
      leafCase(c, `${g.group} #${i}`);
      ran++;
    });
  }
  assert.ok(ran > 150, `${ran} leaf cases`);
});

// ---- Tag cases ---------------------------------------------------------------

let sims = {};
const sessions = new Map();
after(async () => {
  for (const ws of sessions.values()) await ws.close();
  for (const s of Object.values(sims)) await s.stop();
});

async function session(encoding = 'latin1', fault = '') {
  const key = `${encoding} ${fault}`;
  if (!sessions.has(key)) {
    if (!sims[fault]) {
      sims[fault] = await startSim({
        model: path.join(DIR, TABLE.model),
        args: fault ? ['--short-reply'] : [],
      });
    }
    sessions.set(key, await api.connect({ port: sims[fault].port, timeout: 2000, encoding }));
  }
  return sessions.get(key);
}

// Leaf paths and values of path as the API read it: the layout's leaves,
// array leaves element by element with their declared indices.
async function leavesOf(ws, p, value) {
  const layout = await native().describe(ws._handle, p);
  const flat = [];
  const walk = (v) =>
    Array.isArray(v)
      ? v.forEach(walk)
      : v !== null && typeof v === 'object' && !Buffer.isBuffer(v)
        ? Object.values(v).forEach(walk)
        : flat.push(v);
  walk(value);
  const paths = [];
  for (const leaf of layout.leaves) {
    for (let k = 0; k < leaf.count; k++) {
      if (!leaf.dims.length) {
        paths.push(leaf.path);
        continue;
      }
      const index = [];
      for (let d = leaf.dims.length - 1, rest = k; d >= 0; d--) {
        index.unshift(leaf.lower[d] + (rest % leaf.dims[d]));
        rest = Math.floor(rest / leaf.dims[d]);
      }
      paths.push(`${leaf.path}[${index.join(',')}]`);
    }
  }
  assert.equal(paths.length, flat.length, p);
  return new Map(paths.map((q, i) => [q, flat[i]]));
}

async function checkLeaves(ws, p, want, where, all = true) {
  const got = await leavesOf(ws, p, await ws.read(p));
  if (all) assert.deepEqual([...got.keys()], Object.keys(want), where);
  for (const [q, typed] of Object.entries(want)) {
    assert.ok(got.has(q), `${where}: no leaf ${q}`);
    same(got.get(q), typed, `${where} ${q}`);
  }
}

async function expectError(promise, c, where) {
  const e = await promise.then(
    () => null,
    (err) => err,
  );
  assert.ok(e instanceof api.QXSymError, `${where}: expected ${c.error}, got ${e}`);
  refusedAs(c, e.code, e.message, where);
}

// A write's leaf paths as one nested value for ws.write(path, value), its
// positions found from the type's declared bounds; { bad: key } for a key
// naming no leaf that a nested value can reach (that key alone is written).
function nested(type, p, keys) {
  const top = { v: undefined };
  for (const [key, typed] of Object.entries(keys)) {
    if (key.slice(0, p.length).toLowerCase() !== p.toLowerCase()) return { bad: key };
    const steps = key.slice(p.length).match(/\.[^.[]+|\[[^\]]*\]/g) || [];
    let t = type;
    let holder = top;
    let slot = 'v';
    for (const s of steps) {
      let at;
      if (s[0] === '.') {
        const m = (t.members || []).find((x) => x.name.toLowerCase() === s.slice(1).toLowerCase());
        if (!m) return { bad: key };
        holder[slot] ??= {};
        [holder, slot, t] = [holder[slot], m.name, m.type];
        continue;
      }
      const index = s.slice(1, -1).split(',').map(Number);
      if (t.kind !== 'array' || index.length !== t.dims.length) return { bad: key };
      for (let d = 0; d < index.length; d++) {
        at = index[d] - t.lower[d];
        if (at < 0 || at >= t.dims[d]) return { bad: key };
        holder[slot] ??= [];
        [holder, slot] = [holder[slot], at];
      }
      t = t.element;
    }
    holder[slot] = toJs(typed);
  }
  return { value: top.v };
}

async function writeCase(ws, c, where) {
  const type = await ws.type(c.path).catch(() => null);
  const { value, bad } = type ? nested(type, c.path, c.value) : { bad: Object.keys(c.value)[0] };
  const done = bad === undefined ? ws.write(c.path, value) : ws.write(bad, toJs(c.value[bad]));
  if (c.error) await expectError(done, c, where);
  else await done;
  if (c.then) await checkLeaves(ws, c.read || c.path, c.then, `${where} then`, false);
}

async function tagCase(c, where) {
  const ws = await session(c.encoding, c.fault);
  if (c.op === 'read') {
    if (c.error) return expectError(ws.read(c.path), c, where);
    return checkLeaves(ws, c.path, c.leaves, where);
  }
  if (c.op === 'read_set') {
    // Node's group reads all or fails; a set with failures is read path by path.
    if (c.results.every((r) => r.leaves)) {
      const g = await ws.group(c.paths);
      const values = await g.read();
      await g.close();
      for (const p of c.paths) assert.ok(values[p] !== undefined, `${where} ${p}`);
    }
    for (const [i, p] of c.paths.entries()) {
      const r = c.results[i];
      if (r.error) await expectError(ws.read(p), r, `${where} ${p}`);
      else await checkLeaves(ws, p, r.leaves, `${where} ${p}`);
    }
    return;
  }
  if (c.op === 'layout') {
    const layout = await native().describe(ws._handle, c.path);
    const got = [];
    for (const l of layout.leaves) {
      for (let k = 0; k < l.count; k++) {
        got.push({
          offset: l.offset + k * l.elementSize,
          size: l.elementSize,
          type: typeName(l.tyvar),
        });
      }
    }
    assert.deepEqual(
      got,
      c.leaves.map(({ offset, size, type }) => ({ offset, size, type })),
      where,
    );
    if (c.bounds) {
      const t = await ws.type(c.path);
      assert.deepEqual(
        t.lower.map((lo, d) => [lo, lo + t.dims[d] - 1]),
        c.bounds,
        where,
      );
    }
    return;
  }
  assert.equal(c.op, 'write', where);
  return writeCase(ws, c, where);
}

test('tag cases: declared bounds, structures, layouts, encodings, partial and refused writes, short replies', async () => {
  let ran = 0;
  for (const g of TABLE.tag) {
    for (const [i, c] of g.cases.entries()) {
      await tagCase(c, `${g.group} #${i}`);
      ran++;
    }
  }
  assert.ok(ran > 60, `${ran} tag cases`);
});
