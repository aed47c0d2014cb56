'use strict';
// Shared by the promise API's tests: the API, and qxsym-sim on a loopback
// port serving a model (model.json unless given).
const { spawn } = require('child_process');
const path = require('path');
const readline = require('readline');

const api = require('../../lib/api');

const MODEL = path.join(__dirname, 'model.json');

// Starts the simulator (port 0: a free one); resolves to { port, stop() }
// once it has announced its address. stop() ends it with signal (SIGTERM);
// signal(name) only sends one (SIGSTOP, SIGHUP).
// trace: requests run with --verbose and counts() tells how many symbol
// service requests arrived so far.
function startSim({ model = MODEL, port = 0, scan = 0, trace = false, args = [] } = {}) {
  const program = process.env.QXSYM_SIM;
  if (!program) throw new Error('QXSYM_SIM must name the qxsym-sim program');
  const child = spawn(
    program,
    [
      '--model',
      model,
      '--host',
      '127.0.0.1',
      '--port',
      String(port),
      '--scan',
      String(scan),
      ...(trace ? ['--verbose'] : []),
      ...args,
    ],
    { stdio: ['ignore', 'pipe', trace ? 'pipe' : 'inherit'] },
  );
  const codes = []; // command code of every symbol-service request
  if (trace) {
    readline.createInterface({ input: child.stderr }).on('line', (line) => {
      const m = /<- .* Y code=(\d+)/.exec(line);
      if (m) codes.push(Number(m[1]));
    });
  }
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  return new Promise((resolve, reject) => {
    child.once('error', reject);
    child.once('exit', (code) => reject(new Error('qxsym-sim exited with ' + code)));
    readline.createInterface({ input: child.stdout }).once('line', (line) => {
      const match = /^listening on 127\.0\.0\.1:(\d+)$/.exec(line);
      if (!match) return reject(new Error('unexpected first line: ' + line));
      resolve({
        port: Number(match[1]),
        codes,
        signal: (signal) => child.kill(signal),
        stop: (signal = 'SIGTERM') => {
          child.kill(signal);
          return exited;
        },
      });
    });
  });
}

// Resolves when emitter emits event (with its first argument).
function once(emitter, event) {
  return new Promise((resolve) => emitter.once(event, resolve));
}

// Expects promise to reject with a QXSymError of the named result.
async function rejectsWith(promise, result) {
  try {
    await promise;
  } catch (e) {
    if (!(e instanceof api.QXSymError)) throw e;
    if (e.result !== result) throw new Error(`expected ${result}, got ${e.message}`, { cause: e });
    return e;
  }
  throw new Error(`expected ${result}, but the call succeeded`);
}

// Symbol-service requests that sim (started with trace) received from the
// call made by op, which must not read a tag's value itself: a value read
// of barrier (looked up before) follows it and marks the end.
async function requestsOf(sim, ws, barrier, op) {
  const valueRead = 40;
  // Reads barrier and waits until its trace line came through the pipe;
  // answers that line's index.
  const mark = async () => {
    const from = sim.codes.length;
    await ws.read(barrier);
    const deadline = Date.now() + 5000;
    while (sim.codes.lastIndexOf(valueRead) < from && Date.now() < deadline) {
      await new Promise((resolve) => setTimeout(resolve, 5));
    }
    return sim.codes.lastIndexOf(valueRead);
  };
  const start = await mark();
  await op();
  const end = await mark();
  return sim.codes.slice(start + 1, end);
}

module.exports = { api, startSim, once, rejectsWith, requestsOf, MODEL };
