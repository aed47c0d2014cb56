#!/usr/bin/env node
'use strict';
// Reads per second of one DINT tag through the promise API against the C
// API, on the same qxsym-sim and the same shared library.
//
//   node node/bench/api_reads.js [--build build-bench] [--count 20000]
//                                [--repetitions 3] [--doc FILE]
//
// Rows: the C program qxsym-bench-driver (QXSym_GetTagValue_Ptr in a loop);
// `await ws.read()` one after the other; 16 reads in flight on one
// workspace (they still go one at a time, in order); and a group of 10 tags
// read with group.read(), counted in tag values. With --doc, the table
// replaces the part of FILE between <!-- node:begin --> and <!-- node:end -->.
const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const readline = require('readline');

const ROOT = path.resolve(__dirname, '..', '..');
const TAG = 'CntDint';
const GROUP = [
  'CntDint',
  'CntInt',
  'CntUint',
  'CntUdint',
  'CntLint',
  'StatusByte',
  'StatusWord',
  'StatusDword',
  'TotalEnergy',
  'MachineState',
];

function args() {
  const a = { build: path.join(ROOT, 'build-bench'), count: 20000, repetitions: 3, doc: null };
  const argv = process.argv.slice(2);
  for (let i = 0; i < argv.length; i += 2) {
    const key = argv[i].replace(/^--/, '');
    if (!(key in a)) throw new Error(`unknown option ${argv[i]}`);
    a[key] = typeof a[key] === 'number' ? Number(argv[i + 1]) : argv[i + 1];
  }
  a.build = path.resolve(a.build);
  return a;
}

// Client and simulator on CPU 0, as in the main run of scripts/bench.sh.
function pinned() {
  if (require('os').cpus().length < 2) return false;
  return spawnSync('taskset', ['-cp', '0', String(process.pid)], { stdio: 'ignore' }).status === 0;
}

function startSim(build, pin) {
  const sim = path.join(build, 'sim', 'server', 'qxsym-sim');
  const simArgs = [
    '--model',
    path.join(ROOT, 'sim/models/demo.json'),
    '--port',
    '0',
    '--scan',
    '0',
  ];
  const child = pin
    ? spawn('taskset', ['-c', '0', sim, ...simArgs], { stdio: ['ignore', 'pipe', 'inherit'] })
    : spawn(sim, simArgs, { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    child.once('exit', (code) => reject(new Error(`qxsym-sim exited with ${code}`)));
    readline.createInterface({ input: child.stdout }).once('line', (line) => {
      const m = /^listening on .*:(\d+)$/.exec(line);
      if (!m) return reject(new Error(`qxsym-sim: ${line}`));
      resolve({ port: Number(m[1]), stop: () => child.kill('SIGTERM') });
    });
  });
}

function cpuSeconds(usage) {
  return (usage.user + usage.system) / 1e6;
}

// [reads per second, client CPU seconds per read] of await fn(count).
async function rate(fn, count) {
  await fn(Math.ceil(count / 20)); // warm up
  const t = process.hrtime.bigint();
  const cpu = process.cpuUsage();
  await fn(count);
  const seconds = Number(process.hrtime.bigint() - t) / 1e9;
  return [count / seconds, cpuSeconds(process.cpuUsage(cpu)) / count];
}

// The C program: time and children's CPU of N reads, less those of 0.
function cDriver(build, port, count) {
  const driver = path.join(build, 'bench', 'qxsym-bench-driver');
  const run = (n) => {
    const t = process.hrtime.bigint();
    const timed = fs.existsSync('/usr/bin/time'); // Debian: time
    const argv = [driver, '127.0.0.1', String(port), String(n), TAG];
    const r = timed
      ? spawnSync('/usr/bin/time', ['-f', '%U %S', ...argv], { encoding: 'utf8' })
      : spawnSync(argv[0], argv.slice(1), { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`qxsym-bench-driver failed: ${r.stderr}`);
    const seconds = Number(process.hrtime.bigint() - t) / 1e9;
    if (!timed) return [seconds, NaN];
    const [u, s] = r.stderr.trim().split('\n').pop().split(' ').map(Number);
    return [seconds, u + s];
  };
  run(0);
  const [tn, cn] = run(count);
  const [t0, c0] = run(0);
  return [count / (tn - t0), (cn - c0) / count];
}

const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function main() {
  const a = args();
  process.env.QXSYMBOLS_ASYNC_ADDON = path.join(a.build, 'node', 'async', 'qxsymbols_async.node');
  const { connect } = require('../lib/api');
  const pin = pinned();
  const sim = await startSim(a.build, pin);
  const rows = { c: [], read: [], inflight: [], group: [] };
  try {
    const ws = await connect({ port: sim.port });
    const group = await ws.group(GROUP);
    const read = async (n) => {
      for (let i = 0; i < n; i++) await ws.read(TAG);
    };
    const inflight = async (n) => {
      const depth = 16;
      for (let i = 0; i < n; i += depth) {
        await Promise.all(Array.from({ length: Math.min(depth, n - i) }, () => ws.read(TAG)));
      }
    };
    const groupRead = async (n) => {
      for (let i = 0; i < n / GROUP.length; i++) await group.read();
    };
    for (let r = 0; r < a.repetitions; r++) {
      rows.c.push(cDriver(a.build, sim.port, a.count));
      rows.read.push(await rate(read, a.count));
      rows.inflight.push(await rate(inflight, a.count));
      rows.group.push(await rate(groupRead, a.count * 5));
    }
    await ws.close();
  } finally {
    sim.stop();
  }
  const med = {};
  const cpu = {};
  for (const [k, v] of Object.entries(rows)) {
    med[k] = median(v.map((x) => x[0]));
    cpu[k] = median(v.map((x) => x[1]));
  }
  const labels = [
    ['c', 'C program, `QXSym_GetTagValue_Ptr` in a loop'],
    ['read', 'JavaScript, `await ws.read()` one after the other'],
    ['inflight', 'JavaScript, 16 `ws.read()` in flight on one workspace'],
    ['group', `JavaScript, \`group.read()\` of ${GROUP.length} tags (tag values per second)`],
  ];
  const load = fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
  const when = new Date().toISOString().slice(0, 16).replace('T', ' ');
  const out = [
    `Measured on ${when} UTC, Node.js ${process.version}, ` +
      `${pin ? 'client and simulator on CPU 0' : 'unpinned'}, load average ${load}; median of ` +
      `${a.repetitions} runs of ${a.count} reads of a DINT tag against \`qxsym-sim\` ` +
      '(acknowledgements on).',
    '',
    '| client | reads per second | µs per read | to the C program | client CPU µs per read |',
    '|---|---:|---:|---:|---:|',
    ...labels.map(
      ([k, label]) =>
        `| ${label} | ${med[k].toFixed(0)} | ${(1e6 / med[k]).toFixed(1)} | ` +
        `${(med[k] / med.c).toFixed(2)} | ${(cpu[k] * 1e6).toFixed(1)} |`,
    ),
    '',
    'Client CPU is user and system time of the client process (all its threads, the thread ' +
      'pool included) per read; for the group it is per tag value.',
  ].join('\n');
  console.log(out);
  if (a.doc) {
    const text = fs.readFileSync(a.doc, 'utf8');
    const re = /(<!-- node:begin[^>]*-->\n)[\s\S]*?(<!-- node:end -->)/;
    if (!re.test(text)) throw new Error(`${a.doc}: no node:begin/node:end markers`);
    fs.writeFileSync(
      a.doc,
      text.replace(re, (m, b, e) => `${b}\n${out}\n\n${e}`),
    );
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
