'use strict';
// Result codes by name, and the error the promise API throws; names,
// messages and advice are the client core's.
const native = require('./native');

// Every code the core names, in code order ('symRes?' past the last).
const NAMES = [];
for (let code = 0; native().result(code).name !== 'symRes?' && code < 1000; code++) {
  NAMES.push(native().result(code).name);
}
const codes = Object.freeze(Object.fromEntries(NAMES.map((name, code) => [name, code])));

function resultName(code) {
  return NAMES[code] || `result ${code}`;
}

// An error of the library or of the controller: code is the result code,
// result its name, advice what to do; the message starts with the name.
class QXSymError extends Error {
  constructor(code, detail) {
    super(`${resultName(code)} (${code})${detail ? ': ' + detail : ''}`);
    this.name = 'QXSymError';
    this.code = code;
    this.result = resultName(code);
    this.advice = native().result(code).advice;
  }
}

// Turns a rejection of the add-on ({ code, call, detail }) into a QXSymError.
function fromNative(err, what) {
  if (err instanceof QXSymError || !err || typeof err.code !== 'number') return err;
  const reason = err.detail || native().result(err.code).message;
  const e = new QXSymError(err.code, `${reason}${what ? ' (' + what + ')' : ''}`);
  e.call = err.call;
  return e;
}

module.exports = { QXSymError, codes, resultName, fromNative };
