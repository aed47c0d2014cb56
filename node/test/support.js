'use strict';
// Shared by the add-on's tests: the module, and qxsym-sim on a free
// loopback port serving test/model.json.
const { spawn } = require('child_process');
const path = require('path');
const readline = require('readline');

const m = require('..');

const MODEL = path.join(__dirname, 'model.json');

// Starts the simulator; resolves to { port, stop() } once it has announced
// its address.
function startSim(extraArgs = []) {
  const program = process.env.QXSYM_SIM;
  if (!program) throw new Error('QXSYM_SIM must name the qxsym-sim program');
  const child = spawn(
    program,
    ['--model', MODEL, '--host', '127.0.0.1', '--port', '0', '--scan', '0', ...extraArgs],
    { stdio: ['ignore', 'pipe', 'inherit'] },
  );
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    child.once('error', reject);
    child.once('exit', (code) => reject(new Error('qxsym-sim exited with ' + code)));
    lines.once('line', (line) => {
      const match = /^listening on 127\.0\.0\.1:(\d+)$/.exec(line);
      if (!match) return reject(new Error('unexpected first line: ' + line));
      resolve({
        port: Number(match[1]),
        pid: child.pid,
        stop: async () => {
          child.kill('SIGTERM');
          return exited;
        },
      });
    });
  });
}

function address(port, timeout = 2000) {
  const a = new m.QXSymServerAddress();
  a.protocol = m.symProtGDB_TCP;
  a.ip = '127.0.0.1';
  a.port = port;
  a.timeout = timeout;
  return a;
}

// Opens a workspace on the simulator at port; the library must be started.
function openWorkspace(port, timeout) {
  const [result, ws] = m.QXSym_OpenWorkspace(0, address(port, timeout));
  if (result !== m.symResOk) throw new Error('QXSym_OpenWorkspace returned ' + result);
  return ws;
}

function getTag(ws, name) {
  const [result, tag] = m.QXSym_GetGlobalTag(ws, name);
  if (result !== m.symResOk) throw new Error('QXSym_GetGlobalTag(' + name + ') returned ' + result);
  return tag;
}

module.exports = { m, startSim, address, openWorkspace, getTag };
