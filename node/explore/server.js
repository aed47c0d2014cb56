'use strict';
// The tag explorer's web server: serves the page in public/ and a small JSON
// API over one workspace of the promise API. Pinned tags are read by one
// subscription polled every tick; what it tells is pushed to every open page
// by server-sent events.
const http = require('http');
const https = require('https');
const net = require('net');
const fs = require('fs');
const crypto = require('crypto');
const path = require('path');
const { EventEmitter } = require('events');

const { PageStreams } = require('./streams');
const { PinBatch, heartbeatOf } = require('./pins');
const gate = require('./gate');
const { openFailure, addonFailure, escapeLog, clientOf } = require('./connection');

// The promise API needs the async add-on; without it the page is still
// served, and says why nothing can be reached.
let api = null;
let addonError = null;
try {
  api = require('../lib/api');
} catch (e) {
  addonError = e;
}
const { connect, codes, resultName, QXSymError } = api || {
  connect: null,
  codes: Object.freeze({}),
  resultName: (code) => `result ${code}`,
  QXSymError: class QXSymError extends Error {},
};
const tree = require('./tree');

const PUBLIC = path.join(__dirname, 'public');
const MAX_BODY = 64 * 1024;
const MAX_PINS = 64;
// Attributes cannot be listed, only asked for by name: these are the ones
// engineering tools commonly give tags.
const ATTRIBUTES = [
  'unit',
  'min',
  'max',
  'io',
  'area',
  'line',
  'plc',
  'opc',
  'archive',
  'format',
  'scale',
  'offset',
  'group',
  'comment',
];
const MIN_TICK = 50;
// How long after a change of the pins or the tick the new subscription starts.
const RESUBSCRIBE_MS = 100;
const MAX_TICK = 60000;
// An event stream whose socket buffer holds more than this is written no
// more until it drains (see streams.js); one stalled for longer than
// STALL_LIMIT ms is closed. At most MAX_PAGES streams are open at once.
const MAX_PENDING = 256 * 1024;
const STALL_LIMIT = 60000;
const MAX_PAGES = 32;
const CLOSE_WAIT = 1000;
// The largest value the explorer reads in one request: a tag's value shown,
// written or pinned, and all pinned tags together. Larger ones would hold the
// workspace, and every request behind it, for as long as they take.
const MAX_SHOWN = { bytes: 256 * 1024, values: 10000 };
// Tree rows asked for in one request, and the tags whose type and flags are
// kept (cleared on every connect: a program change may follow).
const MAX_NODES = 200;
const MAX_KNOWN = 50000;

// The files the page consists of, and where they come from.
function staticFiles() {
  const files = {
    '/': ['index.html', 'text/html; charset=utf-8'],
    '/app.js': ['app.js', 'text/javascript; charset=utf-8'],
    '/csv.js': ['csv.js', 'text/javascript; charset=utf-8'],
    '/tree.js': ['tree.js', 'text/javascript; charset=utf-8'],
    '/style.css': ['style.css', 'text/css; charset=utf-8'],
  };
  const out = {};
  for (const [url, [file, type]] of Object.entries(files))
    out[url] = { file: path.join(PUBLIC, file), type };
  // The chart library: vendored into public/vendor by the install step, or
  // straight from node_modules in a source checkout.
  const vendor = {
    '/vendor/uPlot.iife.min.js': ['uPlot.iife.min.js', 'text/javascript; charset=utf-8'],
    '/vendor/uPlot.min.css': ['uPlot.min.css', 'text/css; charset=utf-8'],
  };
  for (const [url, [file, type]] of Object.entries(vendor)) {
    let where = path.join(PUBLIC, 'vendor', file);
    if (!fs.existsSync(where)) {
      try {
        where = require.resolve(`uplot/dist/${file}`, { paths: [__dirname] });
      } catch (e) {
        where = null;
      }
    }
    if (where) out[url] = { file: where, type };
  }
  // Read once, at start: file reads would otherwise queue for the worker
  // threads that a slow controller's exchanges hold.
  for (const f of Object.values(out)) {
    try {
      f.data = fs.readFileSync(f.file);
    } catch (e) {
      f.data = null;
    }
  }
  return out;
}

// The path and query of a request's target; null unless it is a path.
function requestTarget(url) {
  if (typeof url !== 'string' || !url.startsWith('/')) return null;
  const q = url.indexOf('?');
  return {
    pathname: q < 0 ? url : url.slice(0, q),
    params: new URLSearchParams(q < 0 ? '' : url.slice(q + 1)),
  };
}

// How much a value holds, from the client core's layout of it.
function measureOf(layout) {
  return { bytes: layout.size, values: layout.valueCount };
}

// Refuses a value larger than the explorer reads at once; what names the
// value in the message ('Big' holds).
function checkMeasure(what, m) {
  if (m.bytes <= MAX_SHOWN.bytes && m.values <= MAX_SHOWN.values) return;
  const e = new QXSymError(
    codes.symResInvalidTagSize,
    `${what} ${m.values} values in ${m.bytes} bytes: the explorer reads at most ` +
      `${MAX_SHOWN.values} values and ${MAX_SHOWN.bytes} bytes at once`,
  );
  throw Object.assign(e, { status: 409 });
}

// JSON with BigInt values as decimal texts.
function toJson(value) {
  return JSON.stringify(value, (k, v) => (typeof v === 'bigint' ? v.toString() : v));
}

// A value as a person reads it: JSON with 64-bit integers written as the
// numbers they are (a marker no text holds stands in for them meanwhile).
const BIG = `big-${crypto.randomUUID()}:`;
function shownJson(value) {
  const marked = JSON.stringify(value, (k, v) => (typeof v === 'bigint' ? BIG + v : v));
  return marked
    .split(`"${BIG}`)
    .map((part, i) => (i ? part.replace('"', '') : part))
    .join('');
}

// A value for the terminal's log: a structure of thousands of values is
// told by its start.
const LOG_VALUE = 120;
function clip(text) {
  return text.length <= LOG_VALUE
    ? text
    : `${text.slice(0, LOG_VALUE)}... (${text.length} characters)`;
}

function errorBody(e) {
  if (e && typeof e.code === 'number' && e.result)
    return { code: e.code, result: e.result, message: e.message };
  return { message: e && e.message ? e.message : String(e) };
}

// Why name cannot be pinned, from the error that refused it.
function pinRefusal(name, e) {
  if (!(e instanceof QXSymError)) return e;
  const detail = e.message.replace(/^\w+ \(\d+\): /, '');
  return Object.assign(new QXSymError(e.code, `cannot pin '${name}': ${detail}`), { status: 409 });
}

class Explorer extends EventEmitter {
  // options: host, port (the controller), timeout, allowWrite, tick (ms),
  // token (the key; a random one when absent), tls ({ cert, key }: serve
  // https), log (takes one line for the terminal; default standard error),
  // connect (replaces the promise API's connect, for tests).
  constructor(options) {
    super();
    this.options = {
      timeout: 0,
      allowWrite: false,
      tick: 500,
      listConnections: 4,
      separator: '',
      ...options,
    };
    this.token = this.options.token || gate.newToken();
    this.log = this.options.log || ((line) => process.stderr.write(`qxsymbols: ${line}\n`));
    this.connection = { state: 'connecting', reason: null, advice: null };
    this.known = new Map(); // lower-case tag name -> promise of { listed, type }
    this.watches = 0; // open selection streams
    this.ws = null;
    this.state = 'connecting'; // 'connecting', 'connected', 'disconnected', 'closed'
    this.tagList = null;
    this.tagListDone = false;
    this.tagListError = null;
    this.listedAt = 0;
    this.connectedAt = 0;
    this.pins = [];
    this.pinLayouts = new Map(); // lower-case name -> the client core's layout of a pin
    this.pinErrors = {}; // pinned name -> why it is not read
    this.pinChanges = Promise.resolve();
    this.sub = null; // the pins' subscription
    this.turn = 0;
    this.ending = Promise.resolve(); // resolves once the last subscription ended
    this.tick = this.options.tick;
    this.paused = false;
    this.streams = new PageStreams({
      maxPages: MAX_PAGES,
      maxPending: MAX_PENDING,
      stallLimit: STALL_LIMIT,
      catchUp: (event) =>
        event === 'state'
          ? this._event('state', this._stateBody())
          : this._event('tags', { resync: true }),
    });
    this.files = staticFiles();
    this.timer = null;
    const handler = (req, res) => {
      this._handle(req, res).catch((e) => this._fail(res, e));
    };
    const tls = this.options.tls;
    this.server = tls
      ? https.createServer({ cert: tls.cert, key: tls.key }, handler)
      : http.createServer(handler);
  }

  // The page's address, key included (what the command prints).
  address() {
    const a = this.server.address();
    const host = a.address.includes(':') ? `[${a.address}]` : a.address;
    return `${this.options.tls ? 'https' : 'http'}://${host}:${a.port}/?token=${encodeURIComponent(this.token)}`;
  }

  // Listens on host:port (port 0: any) and starts connecting.
  async listen(host = '127.0.0.1', port = 8080) {
    this.listenHost = host.toLowerCase();
    await new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, host, () => {
        this.server.off('error', reject);
        resolve();
      });
    });
    this._connectLoop();
    const a = this.server.address();
    return { host: a.address, port: a.port };
  }

  async close() {
    this.state = 'closed';
    clearTimeout(this.timer);
    this._unsubscribe();
    this.streams.closeAll();
    await new Promise((resolve) => this.server.close(resolve));
    this.server.closeAllConnections?.();
    // The workspace closes after the calls already made; a slow controller
    // does not hold the explorer up for longer than CLOSE_WAIT.
    if (this.ws) {
      await Promise.race([
        this.ws.close().catch(() => {}),
        new Promise((r) => setTimeout(r, CLOSE_WAIT).unref()),
      ]);
    }
  }

  // ---- the controller ----------------------------------------------------

  async _connectLoop() {
    const o = this.options;
    const open = o.connect || connect;
    if (!open) {
      this._setConnection('failed', addonFailure(addonError));
      return this._setState('connecting', new Error(this.connection.reason));
    }
    let delay = 250;
    while (this.state !== 'closed') {
      const started = Date.now();
      try {
        const ws = await open({ host: o.host, port: o.port, timeout: o.timeout, reconnect: true });
        if (this.state === 'closed') {
          await ws.close();
          return;
        }
        this.ws = ws;
        ws.on('disconnect', (err) => {
          this._setConnection('connecting', this._lostReason(err));
          this._setState('disconnected', err);
        });
        ws.on('reconnect', () => this._connected());
        this._connected();
        return;
      } catch (e) {
        const why = this._openFailure(e, Date.now() - started);
        this._setConnection('failed', why);
        this._setState('connecting', e);
        await new Promise((r) => setTimeout(r, delay));
        delay = Math.min(delay * 2, 5000);
      }
    }
  }

  // (Re)connected: the pins' subscription goes on (the workspace subscribes
  // again and tells every value anew) or, the first time, starts.
  _connected() {
    this.connectedAt = Date.now();
    this._setConnection('connected', { reason: null, advice: null });
    this.known.clear();
    this._setState('connected');
    if (!this.sub) this._schedule();
    this._loadTags();
  }

  // Lists the tag names, pushing each reply's names to the pages as they
  // arrive (from: the list's length before them), so a large model shows
  // its first tags at once.
  async _loadTags() {
    const at = this.connectedAt;
    this.tagList = [];
    this.tagListDone = false;
    this.tagListError = null;
    this._broadcast('tags', { from: 0, names: [], done: false });
    try {
      const all = await this.ws.tagNames(
        '',
        (names) => {
          if (at !== this.connectedAt) return;
          const from = this.tagList.length;
          this.tagList.push(...names);
          this._broadcast('tags', { from, names, done: false });
        },
        { connections: this.options.listConnections },
      );
      if (at !== this.connectedAt) return;
      this.tagList = all;
    } catch (e) {
      if (at !== this.connectedAt) return;
      this.tagListError = errorBody(e);
    }
    this.tagListDone = true;
    this.listedAt = Date.now();
    this._broadcast('tags', {
      from: this.tagList.length,
      names: [],
      done: true,
      error: this.tagListError,
      ms: this.listedAt - this.connectedAt,
    });
  }

  _setState(state, err) {
    if (this.state === 'closed') return;
    this.state = state;
    this.lastError = err ? errorBody(err) : null;
    this._broadcast('state', this._stateBody());
  }

  _openFailure(e, elapsed) {
    if (!api) return { reason: e.message, advice: null };
    const native = require('../lib/native');
    const o = this.options;
    return openFailure(e, { host: o.host, elapsed, timeout: o.timeout, native, codes });
  }

  // A lost connection in the core's words (the error's message names the call).
  _lostReason(err) {
    if (!err || typeof err.code !== 'number')
      return { reason: String(err && err.message), advice: null };
    const info = require('../lib/native')().result(err.code);
    return { reason: info.message, advice: info.advice };
  }

  // The connection's state in words; the terminal hears of each new reason
  // once, and of the connection coming back after one.
  _setConnection(state, { reason, advice }) {
    const was = this.connection;
    this.connection = { state, reason, advice };
    const o = this.options;
    if (reason && reason !== was.reason) {
      const tail = advice ? ` (${advice})` : '';
      this.log(escapeLog(`cannot reach ${o.host}:${o.port}: ${reason}${tail}`));
    } else if (state === 'connected' && was.reason) {
      this.log(escapeLog(`connected to ${o.host}:${o.port}`));
    }
  }

  _stateBody() {
    const o = this.options;
    return {
      state: this.state,
      connection: this.connection,
      connectedAt: this.connectedAt,
      controller: `${o.host}:${o.port}`,
      version: this.ws ? this.ws.version : null,
      allowWrite: !!o.allowWrite,
      error: this.lastError || null,
      pins: this.pins,
      pinErrors: this.pinErrors,
      tick: this.tick,
      paused: this.paused,
      groupError: null,
      separator: o.separator,
    };
  }

  // ---- pins ---------------------------------------------------------------

  // Replaces the pinned tags, one change after the other. Each tag not
  // pinned yet must read in a group on its own, and all of them together
  // must stay within what the explorer reads at once; otherwise the pins
  // stay as they were and the reason is thrown.
  setPins(names) {
    if (
      !Array.isArray(names) ||
      names.length > MAX_PINS ||
      names.some((n) => typeof n !== 'string' || n === '' || n.length > 259)
    ) {
      return Promise.reject(
        Object.assign(new Error(`pins: up to ${MAX_PINS} tag names`), { status: 400 }),
      );
    }
    const change = this.pinChanges.then(() => this._changePins(names));
    this.pinChanges = change.catch(() => {});
    return change;
  }

  async _changePins(names) {
    const unique = [];
    const seen = new Set();
    for (const n of names) {
      if (!seen.has(n.toLowerCase())) unique.push(n);
      seen.add(n.toLowerCase());
    }
    const layouts = new Map();
    for (const n of unique) {
      const key = n.toLowerCase();
      layouts.set(key, this.pinLayouts.get(key) || (await this._checkPin(n)));
    }
    const total = { bytes: 0, values: 0 };
    for (const layout of layouts.values()) {
      total.bytes += layout.size;
      total.values += layout.valueCount;
    }
    checkMeasure('the pinned tags would hold', total);
    this.pins = unique;
    this.pinLayouts = layouts;
    this.pinErrors = Object.fromEntries(
      Object.entries(this.pinErrors).filter(([n]) => seen.has(n.toLowerCase())),
    );
    this._broadcast('state', this._stateBody());
    this._schedule();
  }

  // A tag can be pinned when it is not an array (its elements are pinned
  // one by one, by their declared indices), its value is not too large to
  // show and it reads in a group of its own: resolves with its layout, or
  // throws why not.
  async _checkPin(name) {
    try {
      const ws = this._needWorkspace();
      const layout = await ws.layout(name);
      if (layout.dims.length) {
        throw new QXSymError(
          codes.symResInvalidGroupTag,
          `'${name}' is an array: pin its elements, such as ${name}[${layout.lower.join(',')}]`,
        );
      }
      checkMeasure(`'${name}' holds`, measureOf(layout));
      const group = await ws.group([name]);
      try {
        await group.read();
      } finally {
        await group.close();
      }
      return layout;
    } catch (e) {
      throw pinRefusal(name, e);
    }
  }

  setTick(tick, paused) {
    if (tick !== undefined) {
      if (!Number.isInteger(tick) || tick < MIN_TICK || tick > MAX_TICK) {
        throw Object.assign(new Error(`tick must be ${MIN_TICK} to ${MAX_TICK} ms`), {
          status: 400,
        });
      }
      this.tick = tick;
    }
    if (paused !== undefined) this.paused = !!paused;
    this._broadcast('state', this._stateBody());
    this._schedule();
  }

  // Ends the pins' subscription and, after delay ms, starts a new one of
  // the pins as they are then: changes in quick succession make one.
  _schedule(delay = RESUBSCRIBE_MS) {
    clearTimeout(this.timer);
    this._unsubscribe();
    if (this.state === 'closed') return;
    this.timer = setTimeout(() => this._subscribe(), delay);
  }

  _unsubscribe() {
    const sub = this.sub;
    this.sub = null;
    if (sub) this.ending = this.ending.then(() => sub.return()).catch(() => {});
  }

  // One subscription of the pins, polled every tick, with a heartbeat so
  // each leaf is heard from every few seconds. It goes on through lost
  // connections and online changes (the workspace subscribes again); one
  // that fails is started again a tick later.
  async _subscribe() {
    if (this.sub || this.paused || this.state !== 'connected' || !this.pins.length) return;
    if (!this.streams.size) return;
    // One subscription at a time: the last one has ended before the next
    // starts, and of the calls waiting for that the latest starts it.
    const turn = ++this.turn;
    await this.ending;
    if (turn !== this.turn || this.sub || this.paused || this.state !== 'connected') return;
    if (!this.pins.length) return;
    const pins = this.pins;
    const sub = this.ws.subscribe(pins, { interval: this.tick, heartbeat: heartbeatOf(this.tick) });
    this.sub = sub;
    const batch = new PinBatch(pins, errorBody);
    try {
      for await (const c of sub) {
        if (sub !== this.sub) break;
        if (batch.add(c)) setImmediate(() => this._flush(sub, batch));
      }
    } catch (e) {
      if (sub !== this.sub) return;
      this.sub = null;
      // Lost connections start it again once connected (see _connected).
      if (this.state !== 'connected') return;
      this._broadcast('readError', errorBody(e));
      this.timer = setTimeout(() => this._subscribe(), this.tick);
      return;
    }
    if (sub === this.sub) this.sub = null;
  }

  // Pushes what a poll told (the changes gathered since the last push) to
  // every page; a pin that turned bad or good again changes the state.
  _flush(sub, batch) {
    if (sub !== this.sub) return;
    const body = batch.take();
    if (batch.updateErrors(this.pinErrors)) this._broadcast('state', this._stateBody());
    this._broadcast('values', body);
  }

  // ---- HTTP ---------------------------------------------------------------

  _event(event, body) {
    return `event: ${event}\ndata: ${toJson(body)}\n\n`;
  }

  _broadcast(event, body) {
    this.streams.send(event, this._event(event, body));
    this.emit(event, body);
  }

  _send(res, status, body) {
    const text = toJson(body);
    res.writeHead(status, {
      'Content-Type': 'application/json; charset=utf-8',
      'Cache-Control': 'no-store',
    });
    res.end(text);
  }

  _fail(res, e) {
    if (res.headersSent) {
      res.destroy();
      return;
    }
    const status = e.status || (e.code !== undefined && e.result ? 409 : 500);
    this._send(res, status, { error: errorBody(e) });
  }

  async _body(req) {
    if (!/^application\/json\b/.test(req.headers['content-type'] || '')) {
      throw Object.assign(new Error('requests must be sent as application/json'), { status: 415 });
    }
    const chunks = [];
    let size = 0;
    for await (const c of req) {
      size += c.length;
      if (size > MAX_BODY) throw Object.assign(new Error('request too large'), { status: 413 });
      chunks.push(c);
    }
    try {
      return JSON.parse(Buffer.concat(chunks).toString('utf8'));
    } catch (e) {
      throw Object.assign(new Error('the request is not JSON'), { status: 400 });
    }
  }

  _needWorkspace() {
    if (this.state !== 'connected') {
      const e = new Error(`not connected to the controller (${this.state})`);
      e.code = codes.symResConnectionLost;
      e.result = resultName(e.code);
      throw e;
    }
    return this.ws;
  }

  // Requests must name the explorer by an address or by the name it was
  // told to listen on: a page whose own name was pointed at this address
  // (DNS rebinding) is refused instead of reaching the controller.
  _hostAllowed(req) {
    let name;
    try {
      name = new URL(`http://${req.headers.host || ''}`).hostname.replace(/^\[|\]$/g, '');
    } catch (e) {
      return false;
    }
    return net.isIP(name) !== 0 || name === 'localhost' || name === this.listenHost;
  }

  async _handle(req, res) {
    if (!this._hostAllowed(req)) {
      return this._send(res, 403, {
        error: { message: 'unknown host name: open the explorer by its address' },
      });
    }
    const target = requestTarget(req.url);
    if (!target)
      return this._send(res, 400, { error: { message: 'the request must name a path' } });
    const verdict = gate.admit(req, target, { token: this.token, tls: !!this.options.tls });
    if (!verdict.pass) return gate.answer(res, verdict, (...a) => this._send(...a));
    const { pathname, params } = target;
    if (req.method === 'GET' && Object.hasOwn(this.files, pathname))
      return this._static(res, this.files[pathname]);
    switch (`${req.method} ${pathname}`) {
      case 'GET /api/state':
        return this._send(res, 200, this._stateBody());
      case 'GET /api/tags':
        return this._tags(res);
      case 'GET /api/tag':
        return this._tag(res, params.get('name') || '');
      case 'GET /api/events':
        return this._eventStream(req, res);
      case 'GET /api/nodes':
        return this._send(res, 200, await this._nodes(params.getAll('name')));
      case 'GET /api/children':
        return this._send(res, 200, await this._children(params.get('path') || '', params));
      case 'GET /api/watch':
        return this._watch(req, res, params.get('name') || '');
      case 'POST /api/pins': {
        await this.setPins((await this._body(req)).names);
        return this._send(res, 200, this._stateBody());
      }
      case 'POST /api/tick': {
        const b = await this._body(req);
        this.setTick(b.tick, b.paused);
        return this._send(res, 200, this._stateBody());
      }
      case 'POST /api/check':
        return this._send(res, 200, await this._understood(await this._body(req)));
      case 'POST /api/write':
        return this._write(res, await this._body(req));
      default:
        return this._send(res, 404, {
          error: { message: `no such resource: ${pathname.slice(0, 100)}` },
        });
    }
  }

  _static(res, { file, type, data }) {
    if (!data)
      return this._send(res, 500, { error: { message: `cannot read ${path.basename(file)}` } });
    res.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-cache' });
    res.end(data);
  }

  _tags(res) {
    this._send(res, 200, {
      names: this.tagList || [],
      done: !!this.tagListDone,
      error: this.tagListError,
      ms: this.tagListDone ? this.listedAt - this.connectedAt : undefined,
    });
  }

  // A tag's name (members and elements included); patterns are refused, so
  // one request never lists more than the tag itself.
  _checkName(name) {
    if (typeof name !== 'string' || name === '' || name.length > 259 || /[*?]/.test(name)) {
      const code = codes.symResInvalidParameter;
      throw Object.assign(new Error('a tag name without * or ?, of 1 to 259 characters'), {
        status: 400,
        code,
        result: resultName(code),
      });
    }
  }

  async _tag(res, name) {
    this._checkName(name);
    const ws = this._needWorkspace();
    const listed = (await ws.tags(name)).find((t) => t.name.toLowerCase() === name.toLowerCase());
    const type = await ws.type(name);
    const body = {
      name: listed ? listed.name : name,
      tagType: listed ? listed.type : type.name,
      size: listed ? listed.size : type.size,
      flags: listed ? listed.flags : null,
      type,
    };
    try {
      checkMeasure(`'${name}' holds`, measureOf(await ws.layout(name)));
      body.value = await ws.read(name);
    } catch (e) {
      body.valueError = errorBody(e);
    }
    try {
      Object.assign(body, await ws.texts(name, ATTRIBUTES));
    } catch (e) {
      body.infoError = errorBody(e);
    }
    this._send(res, 200, body);
  }

  // The value a write request's text stands for, read and checked by the
  // client core as the write will be: { name, typeName, value, shown }
  // (shown: the value as the page puts it before the person). Throws
  // why it cannot be written (a refused text with status 400).
  async _understood(b) {
    if (!this.options.allowWrite) {
      throw Object.assign(new Error('writes are off: start the explorer with --allow-write'), {
        status: 403,
      });
    }
    if (!b || typeof b.name !== 'string' || typeof b.text !== 'string') {
      throw Object.assign(new Error('a write needs name and text'), { status: 400 });
    }
    this._checkName(b.name);
    const ws = this._needWorkspace();
    // A member or element is as writable as the tag it belongs to.
    const [tag] = tree.splitPath(b.name);
    const listed = (await ws.tags(tag)).find((t) => t.name.toLowerCase() === tag.toLowerCase());
    if (listed && listed.flags.readOnly) {
      throw Object.assign(
        new QXSymError(codes.symResReadOnlyTag, `'${listed.name}' is read-only`),
        { status: 409 },
      );
    }
    const layout = await ws.layout(b.name);
    checkMeasure(`'${b.name}' holds`, measureOf(layout));
    try {
      const value = await ws.parse(b.name, b.text);
      return { name: b.name, typeName: layout.typeName, value, shown: shownJson(value) };
    } catch (e) {
      throw e instanceof QXSymError && e.code === codes.symResInvalidParameter
        ? Object.assign(e, { status: 400 })
        : e;
    }
  }

  // Writes the value the text stands for; every write, and every refused
  // one, is told to the terminal with who asked for it.
  async _write(res, b) {
    const who = clientOf(res.req);
    const shownName = b && typeof b.name === 'string' ? b.name : '?';
    let done = false;
    try {
      const { name, value } = await this._understood(b);
      const was = await this.ws.read(name);
      await this.ws.write(name, value);
      done = true;
      const [now, before] = [clip(shownJson(value)), clip(shownJson(was))];
      this.log(escapeLog(`write ${name} = ${now} (was ${before}) by ${who}`));
      this._send(res, 200, { name, value: await this.ws.read(name) });
    } catch (e) {
      if (!done) this.log(escapeLog(`write of ${shownName} refused for ${who}: ${e.message}`));
      throw e;
    }
  }

  // ---- the tag tree and the selection -------------------------------------

  // A tag's listing and type, asked once per connection.
  _known(name) {
    const key = name.toLowerCase();
    let p = this.known.get(key);
    if (!p) {
      const ws = this._needWorkspace();
      p = Promise.all([ws.tags(name), ws.type(name)]).then(([tags, type]) => ({
        listed: tags.find((t) => t.name.toLowerCase() === key) || null,
        type,
      }));
      if (this.known.size >= MAX_KNOWN) this.known.clear();
      this.known.set(key, p);
      p.catch(() => this.known.delete(key));
    }
    return p;
  }

  // The tree's rows of the named tags: { nodes } with one row each, or
  // { path, error } for a tag that cannot be described.
  async _nodes(names) {
    if (names.length > MAX_NODES) {
      throw Object.assign(new Error(`at most ${MAX_NODES} names at once`), { status: 400 });
    }
    for (const n of names) this._checkName(n);
    const nodes = await Promise.all(
      names.map(async (name) => {
        try {
          const { listed, type } = await this._known(name);
          const shown = listed ? listed.name : name;
          const ro = !!(listed && listed.flags.readOnly);
          return tree.nodeOf(shown, shown, type, ro, this.options.allowWrite);
        } catch (e) {
          return { path: name, error: errorBody(e) };
        }
      }),
    );
    return { nodes };
  }

  // The children of a tag, member or element: members, or elements by
  // their declared indices (from: the first element's number, for paging).
  async _children(path, params) {
    this._checkName(path);
    const from = Number(params.get('from') || 0);
    if (!Number.isInteger(from) || from < 0) {
      throw Object.assign(new Error('from must be a whole number'), { status: 400 });
    }
    const [tag, rest] = tree.splitPath(path);
    const { listed, type } = await this._known(tag);
    let at;
    try {
      at = tree.resolve(type, tree.parsePath(rest));
    } catch (e) {
      const code = codes.symResSymbolNotFound;
      throw Object.assign(e, { status: 400, code, result: resultName(code) });
    }
    const readOnly = !!(listed && listed.flags.readOnly);
    const shown = (listed ? listed.name : tag) + rest;
    return {
      path: shown,
      ...tree.childrenOf(shown, at, { readOnly, allowWrite: this.options.allowWrite, from }),
    };
  }

  // The selected tag or member, told as it changes by a subscription of
  // its own for as long as the page holds this stream open: 'values'
  // events as the pins' ones. A page that does not read misses values
  // rather than making them pile up.
  _watch(req, res, name) {
    this._checkName(name);
    const ws = this._needWorkspace();
    if (this.watches >= MAX_PAGES) {
      return this._send(res, 503, { error: { message: `${MAX_PAGES} selections are watched` } });
    }
    this.watches++;
    res.writeHead(200, {
      'Content-Type': 'text/event-stream',
      'Cache-Control': 'no-store',
      Connection: 'keep-alive',
    });
    res.write('retry: 2000\n\n');
    const sub = ws.subscribe([name], { interval: this.tick, heartbeat: heartbeatOf(this.tick) });
    const batch = new PinBatch([name], errorBody);
    let open = true;
    const end = () => {
      if (!open) return;
      open = false;
      this.watches--;
      sub.return().catch(() => {});
      res.end();
    };
    req.on('close', end);
    (async () => {
      for await (const c of sub) {
        if (!open) break;
        if (!batch.add(c)) continue;
        setImmediate(() => {
          const body = batch.take();
          if (open && res.writableLength < MAX_PENDING) res.write(this._event('values', body));
        });
      }
    })()
      .catch((e) => open && res.write(this._event('readError', errorBody(e))))
      .finally(end);
  }

  _eventStream(req, res) {
    if (!this.streams.open(req, res, `retry: 1000\n${this._event('state', this._stateBody())}`)) {
      return this._send(res, 503, {
        error: { message: `${MAX_PAGES} pages are open already: close one` },
      });
    }
    if (!this.sub) this._schedule();
  }
}

function isLoopback(host) {
  return host === 'localhost' || host === '::1' || /^127\./.test(host);
}

module.exports = { Explorer, isLoopback, MAX_SHOWN };
