#!/usr/bin/env node
'use strict';
// qxsymbols COMMAND ...: the package's command-line entry.
//   qxsymbols explore --host H --port P [--listen ADDR:PORT] [--allow-write]
//                     [--tick MS] [--timeout MS] [--list-connections N] [--separator S]
//                     [--token-file FILE] [--cert FILE --key FILE]
const fs = require('fs');
const { parseArgs } = require('util');

const { MIN_TOKEN } = require('../explore/gate');

const USAGE = `usage: qxsymbols explore --host HOST --port PORT [--listen ADDR:PORT] [--allow-write]
                         [--tick MS] [--timeout MS] [--list-connections N] [--separator S]
                         [--token-file FILE] [--cert FILE --key FILE]

  --host, --port   the controller's symbol service (default: $QXSYM_HOST and
                   $QXSYM_PORT, as for qxsym)
  --listen         where the explorer's page is served (default 127.0.0.1:8080);
                   an address other than loopback makes it reachable from other machines
  --allow-write    allow writing tag values from the page (off by default)
  --tick           refresh period of pinned tags in ms (default 500)
  --timeout        reply time-out towards the controller in ms (default: the library's)
  --list-connections
                   connections to the controller that listing a large model may use
                   at once, 1 to 8 (default 4; 1 lists over the explorer's own alone)
  --separator      groups the tag tree by the parts of the names between it, such as
                   _ or . (default none: every tag at the top; the page can change it)
  --token-file     the page's key, the file's first line (at least ${MIN_TOKEN} characters);
                   by default a random key is made at each start
  --cert, --key    serve https with this certificate and private key (PEM files)

  The printed address carries the key (?token=...); opening it sets a cookie,
  scripts send 'Authorization: Bearer KEY'. The key is needed on loopback too:
  any web page the browser visits could otherwise send requests to the explorer.
  Every write, and every refused one, is logged on standard error with the
  client's address.
`;

function fail(message) {
  process.stderr.write(`qxsymbols: ${message}\n${USAGE}`);
  process.exit(2);
}

function integer(text, name, lo, hi) {
  if (!/^\d+$/.test(text || '') || Number(text) < lo || Number(text) > hi) {
    fail(`--${name} must be an integer from ${lo} to ${hi}`);
  }
  return Number(text);
}

// 'ADDR:PORT', '[v6]:PORT' or 'PORT' -> { host, port }
function parseListen(text) {
  const m = /^(?:\[([^\]]+)\]|([^:]*)):(\d+)$/.exec(text) || /^()()(\d+)$/.exec(text);
  if (!m) fail(`--listen must be ADDR:PORT, got '${text}'`);
  return { host: m[1] || m[2] || '127.0.0.1', port: integer(m[3], 'listen port', 0, 65535) };
}

// The explore command's options, or a usage error.
function exploreArgs(argv) {
  try {
    return parseArgs({
      args: argv,
      options: {
        host: { type: 'string' },
        port: { type: 'string' },
        listen: { type: 'string' },
        'allow-write': { type: 'boolean' },
        tick: { type: 'string' },
        timeout: { type: 'string' },
        'list-connections': { type: 'string' },
        'token-file': { type: 'string' },
        cert: { type: 'string' },
        key: { type: 'string' },
        separator: { type: 'string' },
        help: { type: 'boolean', short: 'h' },
      },
    }).values;
  } catch (e) {
    return fail(e.message);
  }
}

async function explore(argv) {
  const args = exploreArgs(argv);
  if (args.help) {
    process.stdout.write(USAGE);
    return;
  }
  // The controller's address, like qxsym's: the options first, then the
  // environment.
  args.host = args.host || process.env.QXSYM_HOST;
  args.port = args.port || process.env.QXSYM_PORT;
  if (!args.host) fail('--host (or QXSYM_HOST) is required');
  if (!args.port) fail('--port (or QXSYM_PORT) is required');
  if (args.separator !== undefined && !/^[^\sA-Za-z0-9]{1,4}$/.test(args.separator))
    fail('--separator must be 1 to 4 characters other than letters, digits and spaces');
  const token = args['token-file'] ? readToken(args['token-file']) : undefined;
  const tls = readTls(args.cert, args.key);
  const { Explorer, isLoopback } = require('../explore/server');
  const listen = parseListen(args.listen || '127.0.0.1:8080');
  let explorer;
  try {
    explorer = newExplorer(Explorer, args, { token, tls });
  } catch (e) {
    fail(`cannot serve https with --cert and --key: ${e.message}`);
  }
  let bound;
  try {
    bound = await explorer.listen(listen.host, listen.port);
  } catch (e) {
    process.stderr.write(
      `qxsymbols: cannot listen on ${args.listen || '127.0.0.1:8080'}: ${e.message}\n`,
    );
    process.exit(1);
  }
  process.stdout.write(
    `explorer on ${explorer.address()} for ${args.host}:${args.port}` +
      `${args['allow-write'] ? ' (writes allowed)' : ''}\n`,
  );
  if (!isLoopback(listen.host)) {
    const shown = bound.host.includes(':') ? `[${bound.host}]` : bound.host;
    process.stderr.write(
      `qxsymbols: warning: listening on ${shown}:${bound.port}, not on loopback: ` +
        "anyone who reaches this address and has the key can browse the controller's tags" +
        `${args['allow-write'] ? ' and write them' : ''}${tls ? '' : '; without --cert the key travels in clear'}\n`,
    );
  }
  const stop = () =>
    explorer.close().then(
      () => process.exit(0),
      () => process.exit(1),
    );
  process.once('SIGINT', stop);
  process.once('SIGTERM', stop);
}

function newExplorer(Explorer, args, { token, tls }) {
  return new Explorer({
    token,
    tls,
    host: args.host,
    port: integer(args.port, 'port', 1, 65535),
    allowWrite: !!args['allow-write'],
    tick: args.tick ? integer(args.tick, 'tick', 50, 60000) : 500,
    timeout: args.timeout ? integer(args.timeout, 'timeout', 0, 65535) : 0,
    listConnections: args['list-connections']
      ? integer(args['list-connections'], 'list-connections', 1, 8)
      : 4,
    separator: args.separator || '',
  });
}

// The key from the first line of file; refused when unreadable or short.
function readToken(file) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (e) {
    fail(`cannot read --token-file ${file}: ${e.message}`);
  }
  const token = text.split(/\r?\n/)[0].trim();
  if (token === '') fail(`--token-file ${file}: the first line is empty`);
  // The key goes into a cookie and an address as it stands.
  if (token.length < MIN_TOKEN || !/^[A-Za-z0-9._~+/=-]+$/.test(token)) {
    fail(
      `--token-file ${file}: the key must be at least ${MIN_TOKEN} characters of ` +
        'letters, digits and . _ ~ + / = -',
    );
  }
  return token;
}

// { cert, key } from --cert and --key (both or neither), or undefined.
function readTls(cert, key) {
  if (!cert && !key) return undefined;
  if (!cert || !key) fail('--cert and --key go together');
  const read = (file, what) => {
    try {
      return fs.readFileSync(file);
    } catch (e) {
      return fail(`cannot read ${what} ${file}: ${e.message}`);
    }
  };
  return { cert: read(cert, '--cert'), key: read(key, '--key') };
}

const [command, ...rest] = process.argv.slice(2);
if (command === 'explore') explore(rest);
else if (command === '--help' || command === '-h' || command === undefined)
  process.stdout.write(USAGE);
else fail(`unknown command '${command}'`);
