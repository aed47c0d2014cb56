'use strict';
// The promise API: connect() to a controller's symbol service and use a
// Workspace with plain JavaScript values. It adapts the client core's
// values (qxsymbols_async.node runs the core's calls off the JavaScript
// thread); calls on one workspace run one after the other, in call order.
const { EventEmitter } = require('events');
const { isDeepStrictEqual } = require('util');

const native = require('./native');
const { QXSymError, codes, resultName, fromNative } = require('./errors');
const { decode, encode, describeType } = require('./codec');

// Results after which the connection is taken as lost (reconnect on).
const LOST = new Set([codes.symResConnectionLost, codes.symResSocketError, codes.symResTimeoutError]);
// The session's text encodings by name (the core's QXSymCoreEncoding).
const ENCODINGS = { latin1: 0, utf8: 1, windows1252: 2 };

// A name or filter travels as a C string: text without a zero character.
function checkText(text, what, allowEmpty = false) {
  if (typeof text !== 'string' || (!allowEmpty && text === '') || text.includes('\0')) {
    throw new QXSymError(codes.symResInvalidParameter, `${what} must be a non-empty string without zeros`);
  }
}

// The error of a failed item; a refused value names its path first.
function itemError(item, path, written = false) {
  const detail = item.message || native().result(item.result).message;
  if (!written || item.result !== codes.symResInvalidParameter) return new QXSymError(item.result, detail);
  const own = /^'([^']*)': /.exec(detail);
  return new QXSymError(item.result, own ? `value for ${detail}` : `value for '${path}': ${detail}`);
}

// The values of paths read together in one exchange; the first failure throws.
async function readSet(handle, paths) {
  const items = await native().read(handle, paths);
  items.forEach((item, i) => {
    if (item.result !== codes.symResOk) throw itemError(item, paths[i]);
  });
  return items.map(decode);
}

// Writes the items of all values together in one exchange.
async function writeItems(handle, items) {
  if (items.length === 0) return;
  const r = await native().write(handle, items);
  const failed = r.results.findIndex((x) => x.result === r.result);
  if (r.result !== codes.symResOk) throw itemError(r.results[failed] || r, items[Math.max(failed, 0)].path, true);
}

// A listing's connections (the core bounds them).
function listOptions(options) {
  const { connections = 1 } = options || {};
  if (!Number.isInteger(connections) || connections < 1) {
    throw new QXSymError(codes.symResInvalidParameter, 'connections must be a positive integer');
  }
  return connections;
}

class Workspace extends EventEmitter {
  constructor(options, opened) {
    super();
    this._options = options;
    this._opened(opened);
    this._tail = Promise.resolve();
    this._state = 'open';  // 'open', 'reconnecting', 'closed'
    this._generation = 0;
    this._groups = new Set();
    this._sleepers = new Set();
    const r = options.reconnect;
    this._reconnect = r ? { initialDelay: 200, maxDelay: 10000, factor: 2, ...(typeof r === 'object' ? r : {}) } : null;
  }

  _opened(opened) {
    this._handle = opened.session;
    this.version = opened.version.join('.');
    this.fullSupport = opened.fullSupport;
  }

  get connected() {
    return this._state === 'open';
  }

  // Runs job after every earlier call of this workspace. Fails fast while
  // the workspace reconnects or once it is closed.
  _run(job, what) {
    const gate = () => {
      if (this._state === 'closed') throw new QXSymError(codes.symResInvalidHandle, 'the workspace is closed');
      if (this._state === 'reconnecting') {
        throw new QXSymError(codes.symResConnectionLost, 'reconnecting to the controller');
      }
    };
    try {
      gate();
    } catch (e) {
      return Promise.reject(e);
    }
    const generation = this._generation;
    const result = this._tail.then(async () => {
      gate();
      try {
        return await job();
      } catch (e) {
        const err = fromNative(e, what);
        if (err instanceof QXSymError && LOST.has(err.code)) this._lost(err, generation);
        throw err;
      }
    });
    this._tail = result.catch(() => {});
    return result;
  }

  // Runs job with the arguments checked first (check throws on bad ones).
  _checked(check, job, what) {
    try {
      check();
    } catch (e) {
      return Promise.reject(e);
    }
    return this._run(job, what);
  }

  _describe(path) {
    return native().describe(this._handle, path);
  }

  // Global tags matching filter (a glob: '*' any run of characters, '?' one
  // character; empty: all), sorted by name, complete beyond one reply.
  tags(filter = '', options = {}) {
    let connections;
    return this._checked(() => {
      checkText(filter, 'filter', true);
      connections = listOptions(options);
    }, async () => {
      const found = await this._list(filter, true, null, connections);
      return found.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name)).map((t) => ({
        name: t.name, type: t.type, size: t.size, flags: { readOnly: t.readOnly, bitAddress: t.bitAddress },
      }));
    }, `filter '${filter}'`);
  }

  // The names of the global tags matching filter, sorted. onBatch, when
  // given, receives the names as they are found. options.connections: up
  // to that many connections to the controller list at once.
  tagNames(filter = '', onBatch = null, options = {}) {
    let connections;
    return this._checked(() => {
      checkText(filter, 'filter', true);
      if (onBatch !== null && typeof onBatch !== 'function') {
        throw new QXSymError(codes.symResInvalidParameter, 'onBatch must be a function or null');
      }
      connections = listOptions(options);
    }, async () => (await this._list(filter, false, onBatch, connections)).map((t) => t.name).sort(),
    `filter '${filter}'`);
  }

  async _list(filter, details, onBatch, connections) {
    const n = native();
    const listing = await n.listBegin(this._handle, filter, details, connections);
    const found = [];
    try {
      for (let done = false; !done;) {
        const r = await n.listNext(listing, details);
        found.push(...r.tags);
        if (onBatch && r.tags.length) onBatch(r.tags.map((t) => t.name));
        done = r.done;
      }
    } finally {
      await n.listEnd(listing);
    }
    return found;
  }

  // The value of a tag, member or element as a plain JavaScript value.
  read(name) {
    return this._checked(() => checkText(name, 'a tag name'),
                         async () => (await readSet(this._handle, [name]))[0], `'${name}'`);
  }

  // Writes value to a tag, member or element. Structures and arrays may be
  // given in part: what is left out keeps the controller's value.
  write(name, value) {
    return this._checked(() => checkText(name, 'a tag name'),
                         async () => writeItems(this._handle, encode(await this._describe(name), value)),
                         `'${name}'`);
  }

  // A plain description of the type of a tag.
  type(name) {
    return this._checked(() => checkText(name, 'a tag name'),
                         () => describeType(name, (p) => this._describe(p)), `'${name}'`);
  }

  // The description of a tag and the texts of those of the named
  // attributes it has: { description, attributes: { name: text } }.
  // Attributes cannot be listed, only asked for by name (at most 32).
  texts(name, attributeNames = []) {
    return this._checked(() => {
      checkText(name, 'a tag name');
      if (!Array.isArray(attributeNames) || attributeNames.length > 32) {
        throw new QXSymError(codes.symResInvalidParameter, 'up to 32 attribute names');
      }
      for (const a of attributeNames) checkText(a, 'an attribute name');
    }, () => native().texts(this._handle, name, attributeNames), `'${name}'`);
  }

  // A group of tags that are read and written in one exchange each.
  async group(names) {
    if (!Array.isArray(names) || names.length === 0) {
      throw new QXSymError(codes.symResInvalidParameter, 'a group needs a non-empty array of tag names');
    }
    for (const n of names) checkText(n, 'a tag name');
    if (new Set(names.map((n) => n.toLowerCase())).size !== names.length) {
      throw new QXSymError(codes.symResHandleAlreadyExists, 'a tag appears twice in the group');
    }
    const group = new Group(this, names.slice());
    await this._run(() => group._create(), 'group');
    this._groups.add(group);
    return group;
  }

  // Changes of the given tags, polled with one group read every interval
  // milliseconds: yields { name, value, previous } for each tag whose value
  // differs from the last read (every tag on the first read). Ends when the
  // loop is left or the workspace is closed. With reconnect on, reads while
  // disconnected are skipped.
  async *watch(names, { interval = 1000 } = {}) {
    if (!(interval > 0)) throw new QXSymError(codes.symResInvalidParameter, 'interval must be a positive number');
    const group = await this.group(names);
    const last = new Map();
    try {
      while (this._state !== 'closed') {
        const values = await group.read().catch((e) => {
          if (!(this._reconnect && e instanceof QXSymError && LOST.has(e.code))) throw e;
        });
        for (const name of values ? names : []) {
          const value = values[name];
          if (last.has(name) && isDeepStrictEqual(last.get(name), value)) continue;
          const previous = last.get(name);
          last.set(name, value);
          yield { name, value, previous };
        }
        await this._sleep(interval);
      }
    } finally {
      await group.close().catch(() => {});
    }
  }

  _sleep(ms) {
    return new Promise((resolve) => {
      const done = () => {
        clearTimeout(timer);
        this._sleepers.delete(done);
        resolve();
      };
      const timer = setTimeout(done, ms);
      this._sleepers.add(done);
    });
  }

  // Closes the workspace after the calls made before; its groups go with
  // it. Later calls fail with symResInvalidHandle.
  async close() {
    if (this._state === 'closed') return;
    const wait = this._tail;
    this._state = 'closed';
    for (const wake of [...this._sleepers]) wake();
    await wait;
    if (this._handle) await native().close(this._handle);
    this._groups.clear();
    this._handle = 0;
    this.emit('close');
  }

  // The connection is gone: with reconnect on, reopen in the background.
  _lost(err, generation) {
    if (!this._reconnect || this._state !== 'open' || generation !== this._generation) return;
    this._state = 'reconnecting';
    this._generation++;
    const old = this._handle;
    this._handle = 0;
    this.emit('disconnect', err);
    native().close(old).catch(() => {});
    this._reopen().catch(() => {});
  }

  async _reopen() {
    const { initialDelay, maxDelay, factor } = this._reconnect;
    for (let delay = initialDelay; this._state === 'reconnecting'; delay = Math.min(delay * factor, maxDelay)) {
      await this._sleep(delay);
      if (this._state !== 'reconnecting') return;
      const opened = await open(this._options).catch(() => null);
      if (!opened) continue;
      if (this._state !== 'reconnecting') return native().close(opened.session);  // closed meanwhile
      this._opened(opened);
      try {
        // A group whose tags are gone fails its calls with the reason.
        for (const g of this._groups) {
          g._broken = await g._create().then(() => null, (e) => {
            if (LOST.has(e.code)) throw e;
            return e;
          });
        }
      } catch (e) {
        await native().close(this._handle).catch(() => {});
        this._handle = 0;
        continue;
      }
      this._state = 'open';
      this.emit('reconnect');
      return;
    }
  }
}

class Group {
  constructor(ws, names) {
    this._ws = ws;
    this.names = names;
    this._closed = false;
    this._broken = null;  // why the group could not be made again after a reconnect
  }

  // Reads the members once: each must be there (a job).
  async _create() {
    await readSet(this._ws._handle, this.names);
  }

  _check() {
    if (this._closed) throw new QXSymError(codes.symResInvalidHandle, 'the group is closed');
    if (this._broken) throw this._broken;
  }

  // Every member's value in one exchange: an object from name to value.
  read() {
    return this._ws._run(async () => {
      this._check();
      const values = await readSet(this._ws._handle, this.names);
      return Object.fromEntries(this.names.map((name, i) => [name, values[i]]));
    }, 'group read');
  }

  // Writes every member in one exchange; values must name each member.
  write(values) {
    return this._ws._run(async () => {
      this._check();
      if (values === null || typeof values !== 'object') {
        throw new QXSymError(codes.symResInvalidParameter, 'values must be an object');
      }
      const unknown = Object.keys(values).find((key) => !this.names.includes(key));
      if (unknown !== undefined) {
        throw new QXSymError(codes.symResInvalidGroupTag, `'${unknown}' is not a member of the group`);
      }
      const items = [];
      for (const name of this.names) {
        if (!(name in values)) throw new QXSymError(codes.symResInvalidParameter, `no value for member '${name}'`);
        items.push(...encode(await this._ws._describe(name), values[name]));
      }
      await writeItems(this._ws._handle, items);
    }, 'group write');
  }

  // Ends the group; its members stay known to the workspace.
  async close() {
    this._closed = true;
    this._ws._groups.delete(this);
  }
}

function open({ host, port, timeout, encoding }) {
  return native().open(host, port, timeout, ENCODINGS[encoding]);
}

// Opens a workspace on the symbol service at host:port. timeout is the
// reply time-out in ms (0 or absent: the library's default); encoding the
// controller's text encoding ('latin1', the default, 'utf8' or
// 'windows1252'); reconnect turns on reopening after a lost connection
// (true, or { initialDelay, maxDelay, factor }).
async function connect(options = {}) {
  const { host = '127.0.0.1', port, timeout = 0, reconnect = false, encoding = 'latin1' } = options;
  if (typeof host !== 'string' || host === '' || host.length > 59 || /[^\u0021-\u007e]/.test(host)) {
    throw new QXSymError(codes.symResInvalidAddress, 'host must be a name of 1 to 59 characters');
  }
  if (!Number.isInteger(port) || port < 1 || port > 65535) {
    throw new QXSymError(codes.symResInvalidAddress, 'port must be an integer from 1 to 65535');
  }
  if (!Number.isInteger(timeout) || timeout < 0 || timeout > 65535) {
    throw new QXSymError(codes.symResInvalidParameter, 'timeout must be 0 to 65535 ms');
  }
  if (!Object.prototype.hasOwnProperty.call(ENCODINGS, encoding)) {
    throw new QXSymError(codes.symResInvalidParameter, `encoding must be one of ${Object.keys(ENCODINGS).join(', ')}`);
  }
  const settings = { host, port, timeout, reconnect, encoding };
  const started = Date.now();
  try {
    return new Workspace(settings, await open(settings));
  } catch (e) {
    // The core tells a controller that stays silent from one that refuses.
    const why = e && typeof e.code === 'number' && native().result(e.code, Date.now() - started, timeout).message;
    throw fromNative(why ? { ...e, detail: why } : e, `${host}:${port}`);
  }
}

module.exports = { connect, Workspace, Group, QXSymError, codes, resultName };
