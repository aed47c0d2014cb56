'use strict';
// Why the controller cannot be reached, in words the page and the terminal
// show: { reason, advice }. The texts are the client core's where it has
// them; it cannot tell a refused connection by its code alone, so that one
// is named here.
const net = require('net');

const REFUSED = {
  reason: 'the controller refused the connection',
  advice: 'is it running, and is the port right?',
};

// err: what connect() threw; elapsed: how long the open took (ms); timeout
// the open's time-out (0: the library's); native: the add-on.
function openFailure(err, { host, elapsed, timeout, native, codes }) {
  if (!err || typeof err.code !== 'number') {
    return { reason: String((err && err.message) || err), advice: null };
  }
  const core = native().result(err.code, elapsed, timeout);
  const plain = native().result(err.code).message;
  if (err.code === codes.symResInvalidAddress && net.isIP(host)) return REFUSED;
  if (err.code === codes.symResSocketError && core.message === plain) return REFUSED;
  if (err.code === codes.symResSocketError) {
    // No answer within the time-out: the advice of a time-out.
    return { reason: core.message, advice: native().result(codes.symResTimeoutError).advice };
  }
  return { reason: core.message, advice: core.advice };
}

// The add-on would not load: nothing can be reached, the page still shows why.
function addonFailure(err) {
  const detail = String((err && err.message) || err).split('\n')[0];
  return {
    reason: `the add-on qxsymbols_async.node was not found or did not load (${detail})`,
    advice: 'build it (ninja qxsymbols_async) or set QXSYMBOLS_ASYNC_ADDON to its path',
  };
}

// Text for the terminal: control characters as \xNN, so a name or a message
// cannot start a line of its own or move the cursor.
function escapeLog(text) {
  // eslint-disable-next-line no-control-regex
  return String(text).replace(/[\x00-\x1f\x7f-\x9f\u2028\u2029]/g, (c) => {
    const n = c.charCodeAt(0);
    return n > 0xff ? `\\u${n.toString(16)}` : `\\x${n.toString(16).padStart(2, '0')}`;
  });
}

// The client's address from its socket, IPv4 ones without the ::ffff: prefix.
function clientOf(req) {
  const a = (req && req.socket && req.socket.remoteAddress) || '?';
  return a.replace(/^::ffff:/i, '');
}

module.exports = { openFailure, addonFailure, escapeLog, clientOf, REFUSED };
