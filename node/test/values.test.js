'use strict';
// Against qxsym-sim: array results from a real workspace, the conversions of
// the convenience functions read back through the library, the thrown text
// and its printed twin, and the silence on an invalid handle.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { m, startSim, openWorkspace, getTag } = require('./support');

let sim;
let ws;
const tags = {};
const tag = (name) => (tags[name] ??= getTag(ws, name));

test.before(async () => {
  sim = await startSim();
  assert.strictEqual(m.QXSym_Init(), m.symResOk);
  ws = openWorkspace(sim.port);
});

test.after(async () => {
  m.QXSym_CloseWorkspace(ws);
  m.QXSym_Shutdown();
  assert.strictEqual(await sim.stop(), 0);
});

test('functions with an output parameter return [result, value]', () => {
  assert.ok(ws !== 0);
  const flag = tag('Flag');
  assert.deepStrictEqual(m.QXSym_GetGlobalTag(ws, 'NoSuchTag'), [m.symResSymbolNotFound, 0]);
  assert.deepStrictEqual(m.QXSym_GetTagDataSize(tag('I32')), [m.symResOk, 4]);
  assert.deepStrictEqual(m.QXSym_GetTagDataFullSize(tag('Text')), [m.symResOk, 9]);
  // Text buffers: the string's UTF-8 size is the capacity; the length the
  // library needs comes back, also when the buffer is too small.
  assert.deepStrictEqual(m.QXSym_GetTagName(flag, '.....'), [m.symResOk, 5]);
  assert.deepStrictEqual(m.QXSym_GetTagName(flag, '...'), [m.symResInvalidBuffer, 5]);
  assert.deepStrictEqual(m.QXSym_GetTagName(flag, 'éé.'), [m.symResOk, 5]);
  assert.deepStrictEqual(m.QXSym_GetTagDescr(flag, ' '.repeat(40)), [m.symResOk, 7]);
  assert.deepStrictEqual(m.QXSym_GetTagDataType(flag, ''), [m.symResInvalidBuffer, 5]);
  assert.deepStrictEqual(m.QXSym_GetTagAttribute(flag, 'unit', ' '.repeat(9)), [m.symResOk, 5]);
  assert.deepStrictEqual(
    m.QXSym_GetTagAttribute(flag, 'none', ' '.repeat(9))[0],
    m.symResAttributeNotFound,
  );
  assert.deepStrictEqual(m.QXSym_GetGlobalTagsMap(ws), [m.symResNotImplemented, 0]);
  // Handles come back as numbers that the other functions accept unchanged.
  const [result, again] = m.QXSym_GetGlobalTag(ws, 'Flag');
  assert.strictEqual(result, m.symResOk);
  assert.notStrictEqual(again, flag);
  assert.strictEqual(m.QXSym_IsValidWorkspace(ws), m.symResOk);
  assert.strictEqual(m.QXSym_CloseTag(again), m.symResOk);
  assert.strictEqual(m.QXSym_CloseTag(again), m.symResInvalidHandle);
});

test('GetTagValue_double reads every type of its table', () => {
  const expected = {
    S8: -5,
    U8: 7,
    I16: -1234,
    U16: 54321,
    I32: -2000000000,
    U32: 4000000000,
    I64: -9000000000000000000,
    U64: 18000000000000000000,
    B8: 165,
    W16: 4660,
    DW32: 305419896,
    R32: 2.5,
    R64: 1.5,
    LW64: 0,
    Text: 0,
    Flag: 0, // names not in the table give 0
  };
  for (const [name, value] of Object.entries(expected)) {
    assert.strictEqual(m.GetTagValue_double(tag(name)), value, name);
  }
  assert.strictEqual(m.getTagDataType(tag('I16')), 'INT');
  assert.strictEqual(m.getTagDataType(tag('Text')), 'STRING[8]');
});

test('SetTagValue_double converts by the type name, as read back', () => {
  const cases = [
    ['U8', 300, 44],
    ['U8', -1, 0],
    ['S8', 200.7, -56],
    ['U16', 65535.9, 65535],
    ['U16', 70000, 4464],
    ['I16', -40000, 25536],
    ['I16', -7.9, -7],
    ['I32', 3e9, 2147483647],
    ['I32', -3e9, -2147483648],
    ['U32', 5e9, 4294967295],
    ['U32', -5, 0],
    ['B8', 263, 7],
    ['W16', 65537, 1],
    ['DW32', 4294967296, 4294967295],
    ['I64', -(2 ** 53), -(2 ** 53)],
    ['U64', 2 ** 70, 2 ** 64],
    ['U64', -1, 0],
    ['R32', 0.1, Math.fround(0.1)],
    ['R32', -1e300, -Infinity],
    ['R64', -2.25, -2.25],
    ['I32', NaN, 0],
  ];
  for (const [name, written, read] of cases) {
    m.SetTagValue_double(tag(name), written);
    assert.strictEqual(m.GetTagValue_double(tag(name)), read, `${written} to ${name}`);
  }
});

test('SetTagValue_double refuses a type it cannot convert and sends nothing', () => {
  const lw = tag('LW64');
  assert.strictEqual(m.GetTagValue_string(lw), '\u0007');
  assert.throws(
    () => m.SetTagValue_double(lw, 1),
    (e) => e === 'ERROR: SetTagValue_double returned 47',
  );
  assert.strictEqual(m.GetTagValue_string(lw), '\u0007');
  assert.throws(
    () => m.SetTagValue_double(tag('Valve'), 1),
    (e) => e === 'ERROR: SetTagValue_double returned 47',
  );
  // A type name that does not fit 10 bytes fails in the library.
  assert.throws(
    () => m.SetTagValue_double(tag('LongType'), 1),
    (e) => e === 'ERROR: QXSym_GetTagDataType returned 10',
  );
  assert.throws(
    () => m.GetTagValue_double(tag('LongType')),
    (e) => e === 'ERROR: QXSym_GetTagDataType returned 10',
  );
  assert.throws(
    () => m.getTagDataType(tag('LongType')),
    (e) => e === 'ERROR: QXSym_GetTagDataType returned 10',
  );
  assert.throws(
    () => m.SetTagValue_double(tag('Locked'), 1),
    (e) => e === 'ERROR: QXSym_SetTagValue_Ptr returned 16',
  );
});

test('booleans read any non-zero byte and write 1 or 0', () => {
  assert.strictEqual(m.GetTagValue_bool(tag('Flag')), true);
  assert.strictEqual(m.GetTagValue_bool(tag('Off')), false);
  m.SetTagValue_bool(tag('Off'), true);
  assert.strictEqual(m.GetTagValue_bool(tag('Off')), true);
  assert.strictEqual(m.GetTagValue_double(tag('U8')) >= 0, true);
  m.SetTagValue_double(tag('U8'), 0);
  assert.strictEqual(m.GetTagValue_bool(tag('U8')), false);
  m.SetTagValue_double(tag('U8'), 128);
  assert.strictEqual(m.GetTagValue_bool(tag('U8')), true);
  m.SetTagValue_bool(tag('Off'), false);
  assert.strictEqual(m.GetTagValue_bool(tag('Off')), false);
  // An 8-byte value does not fit the 4-byte buffer: the library says so.
  assert.throws(
    () => m.GetTagValue_bool(tag('R64')),
    (e) => e === 'ERROR: QXSym_GetTagValue_Ptr returned 10',
  );
});

test('strings: the text, its zero and zeros, cut to the data size less one', () => {
  const t = tag('Text'); // STRING[8]: data size 9
  assert.strictEqual(m.GetTagValue_string(t), 'abc');
  const cases = [
    ['hello', 'hello'],
    ['', ''],
    ['12345678', '12345678'],
    ['123456789abc', '12345678'],
    ['abcdefgé', 'abcdefg'], // never half a character
    ['xy', 'xy'], // nothing of the longer text before shows through
  ];
  for (const [written, read] of cases) {
    m.SetTagValue_string(t, written);
    assert.strictEqual(m.GetTagValue_string(t), read, written);
  }
  assert.throws(
    () => m.SetTagValue_string(tag('Locked'), 'x'),
    (e) => e === 'ERROR: QXSym_SetTagValue_Ptr returned 16',
  );
});

// Runs body in a child process and returns its stdout and what it reported.
function inChild(body) {
  const script = `
    const m = require(${JSON.stringify(path.join(__dirname, '..'))});
    const report = {};
    const catchIt = (f) => { try { return { value: f() }; } catch (e) { return { thrown: e }; } };
    m.QXSym_Init();
    const [, ws] = m.QXSym_OpenWorkspace(0, (() => {
      const a = new m.QXSymServerAddress();
      a.ip = '127.0.0.1'; a.port = ${sim.port}; a.timeout = 2000; return a; })());
    const [, tag] = m.QXSym_GetGlobalTag(ws, 'Locked');
    ${body}
    m.QXSym_CloseWorkspace(ws);
    process.stderr.write(JSON.stringify(report));`;
  const r = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', env: process.env });
  assert.strictEqual(r.status, 0, r.stderr);
  return { stdout: r.stdout, report: JSON.parse(r.stderr) };
}

test('a failure is printed without a line break and thrown as the same string', () => {
  const { stdout, report } = inChild(`report.set = catchIt(() => m.SetTagValue_double(tag, 5));`);
  assert.strictEqual(stdout, 'ERROR: QXSym_SetTagValue_Ptr returned 16');
  assert.deepStrictEqual(report.set, { thrown: 'ERROR: QXSym_SetTagValue_Ptr returned 16' });
});

test('an invalid handle passes silently: nothing printed, thrown or sent', () => {
  const { stdout, report } = inChild(`
    m.QXSym_CloseTag(tag);
    report.bool = catchIt(() => m.GetTagValue_bool(tag));
    report.double = catchIt(() => m.GetTagValue_double(tag));
    report.string = catchIt(() => m.GetTagValue_string(tag));
    report.type = catchIt(() => m.getTagDataType(tag));
    report.setBool = catchIt(() => m.SetTagValue_bool(tag, true));
    report.setDouble = catchIt(() => m.SetTagValue_double(tag, 1));
    report.setString = catchIt(() => m.SetTagValue_string(tag, 'x'));`);
  assert.strictEqual(stdout, '');
  assert.deepStrictEqual(report, {
    bool: { value: false },
    double: { value: 0 },
    string: { value: '' },
    type: { value: '' },
    setBool: {},
    setDouble: {},
    setString: {},
  });
});

test('a controller that stops answering gives the time-out text', async () => {
  // Without acknowledgements the request goes out and the reply never comes.
  const stalled = await startSim(['--no-ack']);
  const ws2 = openWorkspace(stalled.port, 200);
  const t = getTag(ws2, 'Flag');
  process.kill(stalled.pid, 'SIGSTOP');
  // The signal lands asynchronously: wait until the process is stopped.
  const state = () => fs.readFileSync(`/proc/${stalled.pid}/stat`, 'utf8').split(') ')[1][0];
  while (state() !== 'T') await new Promise((resolve) => setImmediate(resolve));
  try {
    assert.throws(
      () => m.GetTagValue_bool(t),
      (e) => e === 'ERROR: QXSym_GetTagValue_Ptr returned 13',
    );
  } finally {
    process.kill(stalled.pid, 'SIGCONT');
    m.QXSym_CloseWorkspace(ws2);
    assert.strictEqual(await stalled.stop(), 0);
  }
});

test('an address can never open a direct-access workspace from JavaScript', () => {
  const a = new m.QXSymServerAddress();
  a.protocol = m.symProtDirectAccess;
  a.ip = 'AAAAAAAA'; // read as a table address, it would point anywhere
  assert.deepStrictEqual(m.QXSym_OpenWorkspace(0, a), [m.symResInvalidAddress, 0]);
  a.protocol = 1; // no such protocol on this build: the library refuses it
  assert.deepStrictEqual(m.QXSym_OpenWorkspace(0, a), [m.symResInvalidAddress, 0]);
});

test('every function reaches the library with open handles and null pointers', () => {
  const os = require('os');
  const handles = { QXSymWorkspaceHandle: ws, QXSymTagHandle: tag('I16') };
  const text = path.join(os.tmpdir(), 'qxsym-no-such-folder', 'x');
  const skip = new Set([
    'QXSym_Init',
    'QXSym_Shutdown',
    'QXSym_CloseWorkspace',
    'QXSym_CloseTag',
    'QXSym_FreeTagList',
    'QXSymServerAddress',
  ]);
  let reached = 0; // functions whose call went through to the library
  const names = Object.keys(m).filter((k) => typeof m[k] === 'function' && !skip.has(k));
  for (const name of names) {
    const args = new Array(m[name].length).fill(null);
    // Start from nulls and let each refusal say what the argument must be.
    let went = false;
    for (let attempt = 0; attempt < 20 && !went; ++attempt) {
      try {
        m[name](...args);
        went = true;
      } catch (e) {
        went = typeof e === 'string'; // a convenience function's library failure
        if (went) break;
        const count = /^Illegal number of arguments/.test(e.message) && args.push(null);
        const kind = /argument (\d+) of type '([^']+)'/.exec(e.message);
        if (count) continue;
        assert.ok(kind, `${name}: ${e.message || e}`);
        const type = kind[2];
        args[kind[1] - 1] =
          type in handles
            ? handles[type]
            : /Handle$/.test(type)
              ? 12345
              : /TCHAR|char/.test(type)
                ? text
                : /bool$/.test(type)
                  ? true
                  : 1;
      }
    }
    reached += went ? 1 : 0;
  }
  assert.strictEqual(reached, names.length);
  assert.strictEqual(m.QXSym_IsValidWorkspace(ws), m.symResOk);
});

test('a value beyond what one call moves is refused by the library, not allocated', () => {
  const big = tag('Big');
  assert.deepStrictEqual(m.QXSym_GetTagDataSize(big), [m.symResOk, 70000]);
  assert.throws(
    () => m.GetTagValue_string(big),
    (e) => e === 'ERROR: QXSym_GetTagValue_Ptr returned 10',
  );
  assert.throws(
    () => m.SetTagValue_string(big, 'x'),
    (e) => e === 'ERROR: QXSym_SetTagValue_Ptr returned 5',
  );
});
