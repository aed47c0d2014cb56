'use strict';
// Processes the explorer's tests run: the simulator and the explorer's own
// command, both on loopback, and a headless Chromium from Debian.
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const readline = require('readline');

const ROOT = path.join(__dirname, '..', '..', '..');
const SIM = process.env.QXSYM_SIM || path.join(ROOT, 'build', 'sim', 'server', 'qxsym-sim');
const CHROMIUM = process.env.QXSYM_CHROMIUM || '/usr/bin/chromium';
const BIN = path.join(__dirname, '..', '..', 'bin', 'qxsymbols.js');

// Starts program and resolves with the child and the first line of its
// standard output that matches pattern (its match).
function startLine(program, args, pattern, env = process.env) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'], env });
  let stderr = '';
  child.stderr.on('data', (d) => {
    stderr += d;
  });
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    const timer = setTimeout(
      () => fail(new Error(`${path.basename(program)} did not start`)),
      10000,
    );
    function fail(e) {
      clearTimeout(timer);
      child.kill('SIGKILL');
      reject(new Error(`${e.message}\n${stderr}`));
    }
    child.once('exit', (code) => fail(new Error(`${path.basename(program)} exited with ${code}`)));
    lines.on('line', (line) => {
      const m = pattern.exec(line);
      if (!m) return;
      clearTimeout(timer);
      child.removeAllListeners('exit');
      child.stderrText = () => stderr;
      resolve({ child, match: m });
    });
  });
}

async function startSim({ port = 0, model, scan, extra = [] } = {}) {
  const args = ['--host', '127.0.0.1', '--port', String(port), ...extra];
  if (model) args.push('--model', model);
  if (scan !== undefined) args.push('--scan', String(scan));
  const { child, match } = await startLine(SIM, args, /^listening on [^:]+:(\d+)$/);
  return { child, port: Number(match[1]) };
}

// env: the explorer's environment (default: this process's).
async function startExplorer(simPort, extra = [], env = process.env) {
  const args = [
    BIN,
    'explore',
    '--host',
    '127.0.0.1',
    '--port',
    String(simPort),
    '--listen',
    '127.0.0.1:0',
    '--tick',
    '100',
    '--timeout',
    '1000',
    ...extra,
  ];
  const { child, match } = await startLine(
    process.execPath,
    args,
    /^explorer on ((https?:\/\/[^/\s]+)\/\?token=(\S+))/,
    env,
  );
  const [, link, origin, token] = match;
  KEYS.set(origin, decodeURIComponent(token));
  // url: the explorer's root, for requests that carry the key in a header;
  // link: the printed address, key included.
  return { child, url: `${origin}/`, link, token: KEYS.get(origin) };
}

// The keys of the explorers started, by origin.
const KEYS = new Map();

// The header that gives a request to the explorer at url its key.
function auth(url) {
  const key = KEYS.get(new URL(url).origin);
  return key ? { Authorization: `Bearer ${key}` } : {};
}

// Writes a simulator model of the given tags (and types) to a temporary
// file, removed when the test process ends; returns its path.
function writeModel(tags, types = []) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-explore-model-'));
  process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'model.json');
  fs.writeFileSync(file, JSON.stringify({ name: 'explorer test model', types, tags }));
  return file;
}

// The resident memory of a process in bytes (Linux).
function residentBytes(pid) {
  const m = /^VmRSS:\s+(\d+) kB$/m.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
  return Number(m[1]) * 1024;
}

function stop(child, signal = 'SIGTERM') {
  if (!child || child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    child.once('exit', resolve);
    child.kill(signal);
  });
}

// A headless Chromium with a fresh profile; close() removes the profile.
async function launchBrowser() {
  const { chromium } = require('playwright-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qxsym-explore-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1400, height: 820 },
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

function haveBrowser() {
  try {
    require.resolve('playwright-core');
  } catch (e) {
    return 'playwright-core is not installed (npm ci in node/explore)';
  }
  return fs.existsSync(CHROMIUM) ? null : `no browser at ${CHROMIUM}`;
}

module.exports = {
  startSim,
  startExplorer,
  auth,
  stop,
  writeModel,
  residentBytes,
  launchBrowser,
  haveBrowser,
  SIM,
  ROOT,
};
