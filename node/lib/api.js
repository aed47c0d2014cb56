'use strict';
// The promise API: connect() to a controller's symbol service and use a
// Workspace with plain JavaScript values. Every exchange runs off the
// JavaScript thread in the add-on qxsymbols_async.node; calls on one
// workspace run one after the other, in the order they were made.
const { EventEmitter } = require('events');
const fs = require('fs');
const path = require('path');
const { isDeepStrictEqual } = require('util');

const { QXSymError, codes, resultName, fromNative } = require('./errors');
const { kindOf, decode, encode, describeType } = require('./codec');

function findAddon() {
  const candidates = [
    process.env.QXSYMBOLS_ASYNC_ADDON,
    path.join(__dirname, '..', 'build', 'qxsymbols_async.node'),
    path.join(__dirname, '..', 'build', 'async', 'qxsymbols_async.node'),
    path.join(__dirname, '..', '..', 'build', 'node', 'async', 'qxsymbols_async.node'),
  ].filter(Boolean);
  const found = candidates.find((file) => fs.existsSync(file));
  if (!found) {
    throw new Error('qxsymbols: qxsymbols_async.node not found (looked at ' +
                    candidates.join(', ') + '); build it or set QXSYMBOLS_ASYNC_ADDON');
  }
  return found;
}

let nativeModule = null;
function native() {
  if (!nativeModule) nativeModule = require(findAddon());
  return nativeModule;
}

// Results after which the connection is taken as lost (reconnect on).
const LOST = new Set([codes.symResConnectionLost, codes.symResSocketError,
                      codes.symResTimeoutError]);

// At most this many tags stay looked up per workspace; the oldest go first.
const TAG_CACHE_SIZE = 1000;
// Characters that tag names are made of; names match without regard to case.
// Digits come first: names end in numbers more often than in letters, and
// a filter's narrower filters stop being asked once they cover its count.
const NAME_CHARS = '0123456789abcdefghijklmnopqrstuvwxyz_';
// The largest value read or written in one piece.
const MAX_VALUE = 256 * 1024 * 1024;
// Bound on the list requests of one tags() call.
const MAX_LIST_REQUESTS = 100000;
// Bound on the connections one listing uses at once.
const MAX_LIST_CONNECTIONS = 8;

// Names and filters travel as 8-bit text of at most 259 characters; one
// that would be cut or changed on the way is refused, so it can never name
// another tag.
function checkText(text, what, allowEmpty = false) {
  if (typeof text !== 'string' || (!allowEmpty && text === '')) {
    throw new QXSymError(codes.symResInvalidParameter, `${what} must be a non-empty string`);
  }
  if (text.length > 259 || /[^\u0001-\u00ff]/.test(text)) {
    throw new QXSymError(codes.symResInvalidParameter,
                         `${what} '${text.slice(0, 40)}': at most 259 Latin-1 characters, no zero`);
  }
}

function lostError(detail) {
  return new QXSymError(codes.symResConnectionLost, detail);
}

// A value of a tag goes through the value commands when its type is basic
// or a string, else through the raw commands (the tag's whole memory).
function isComplex(entry) {
  const kind = kindOf(entry.type);
  return kind === 'array' || kind === 'struct' || kind === 'functionBlock';
}

// Narrower filters that together match what filter matches: one wildcard
// is spelled out one character at a time (a '*' may also stand for
// nothing): the first one (fromEnd false), or the last one, so that names
// sharing a long prefix but differing in their ends (Area01_Line02_Motor017)
// split at once. null when filter has no wildcard left.
function narrow(filter, fromEnd = false) {
  const f = filter === '' ? '*' : filter;
  const i = fromEnd ? Math.max(f.lastIndexOf('*'), f.lastIndexOf('?')) : f.search(/[*?]/);
  if (i < 0) return null;
  const head = f.slice(0, i);
  const tail = f.slice(i + 1);
  if (f[i] === '?') return [...NAME_CHARS].map((c) => head + c + tail);
  const spelled = [...NAME_CHARS].map((c) => (fromEnd ? head + '*' + c + tail : head + c + '*' + tail));
  // No tag has an empty name (and the empty filter would match them all).
  return head + tail === '' ? spelled : [head + tail, ...spelled];
}

// Whether the narrower filters of filter share no tag, so that their counts
// add up to filter's own: true when the filter has a single wildcard (the
// one spelled out). With more, one name can match several of them.
function splitsDisjointly(filter) {
  return (filter === '' ? '*' : filter).replace(/[^*?]/g, '').length === 1;
}

// The options of a listing: connections (1 to MAX_LIST_CONNECTIONS, 1 when
// absent).
function listOptions(options) {
  if (options === null || options === undefined) return { connections: 1 };
  const { connections = 1 } = options;
  if (typeof options !== 'object' || !Number.isInteger(connections) || connections < 1 ||
      connections > MAX_LIST_CONNECTIONS) {
    throw new QXSymError(codes.symResInvalidParameter,
                         `connections must be an integer from 1 to ${MAX_LIST_CONNECTIONS}`);
  }
  return { connections };
}

// The connections one listing asks over: the workspace's own, and up to n
// extra ones to the same controller that join as they come up, so that a
// controller slow to accept them never holds the listing up. They are opened
// one after the other and only while the last one succeeded: a controller
// that refuses or never answers costs one attempt, which ties up one worker
// thread at the most. end() closes them.
class ListConnections {
  constructor(own, options, n) {
    this.own = own;
    this.extra = [];
    this.ended = false;
    this.onJoin = null;  // set while a narrowing runs
    const openNext = (left) => {
      if (left === 0 || this.ended) return;
      native().open(options.host, options.port, options.timeout).then((r) => {
        if (this.ended) {
          native().close(r.workspace).catch(() => {});
          return;
        }
        this.extra.push(r.workspace);
        if (this.onJoin) this.onJoin(r.workspace);
        openNext(left - 1);
      }, () => {});
    };
    openNext(n);
  }

  // An extra connection that failed: closed, and used no more.
  retire(h) {
    const i = this.extra.indexOf(h);
    if (i >= 0) this.extra.splice(i, 1);
    native().close(h).catch(() => {});
  }

  end() {
    this.ended = true;
    return Promise.all(this.extra.splice(0).map((h) => native().close(h).catch(() => {})));
  }
}

// Asks the narrower filters of root until every one fits a reply, over all
// of pool's connections at once. A filter is narrowed from the end first;
// one that did not split (one narrower filter kept every tag) is narrowed
// from the other end. Narrower filters that share no tag stop being asked
// once their counts cover their parent's (prune). A failure on an extra
// connection retires it and hands its filter on; a failure on the
// workspace's own connection fails the listing.
function narrowAll(root, namesOnly, take, pool, prune) {
  const stack = [];  // { f, parent }, next on top
  const expand = (node) => {
    const children = narrow(node.f, node.fromEnd);
    if (!children) return;
    node.covered = 0;
    node.disjoint = prune && splitsDisjointly(node.f);
    for (let i = children.length - 1; i >= 0; i--) stack.push({ f: children[i], parent: node });
  };
  expand(root);
  const idle = [pool.own, ...pool.extra];
  let busy = 0;
  let requests = 0;
  let failure = null;
  return new Promise((resolve, reject) => {
    const pump = () => {
      while (!failure && idle.length && stack.length && requests < MAX_LIST_REQUESTS) {
        const task = stack.pop();
        const p = task.parent;
        if (p.disjoint && p.covered >= p.count) continue;
        const h = idle.pop();
        requests++;
        busy++;
        native().list(h, task.f, namesOnly).then((r) => {
          busy--;
          idle.push(h);
          p.covered += r.count;
          if (r.tags) {
            take(r.tags);
          } else if (r.count > 0) {
            expand({ f: task.f, count: r.count, fromEnd: r.count < p.count ? p.fromEnd : !p.fromEnd });
          }
          pump();
        }, (e) => {
          busy--;
          if (h === pool.own) {
            failure = failure || e;
          } else {
            stack.push(task);
            pool.retire(h);
          }
          pump();
        });
      }
      if (busy === 0) {
        pool.onJoin = null;  // settled: later connections wait for the next narrowing
        if (failure) reject(failure);
        else resolve();
      }
    };
    pool.onJoin = (h) => {
      idle.push(h);
      pump();
    };
    pump();
  });
}

class Workspace extends EventEmitter {
  constructor(options, opened) {
    super();
    this._options = options;
    this._handle = opened.workspace;
    this.version = opened.version.join('.');
    this.fullSupport = opened.result === codes.symResOk;
    this._tail = Promise.resolve();
    this._state = 'open';  // 'open', 'reconnecting', 'closed'
    this._generation = 0;
    this._tags = new Map();  // name -> lookup of the current generation
    this._groups = new Set();
    this._sleepers = new Set();
    const r = options.reconnect;
    this._reconnect = r ? {
      initialDelay: 200, maxDelay: 10000, factor: 2, ...(typeof r === 'object' ? r : {}),
    } : null;
  }

  get connected() {
    return this._state === 'open';
  }

  // Runs job after every earlier call of this workspace. Fails fast while
  // the workspace reconnects or once it is closed.
  _run(job, what) {
    const gate = () => {
      if (this._state === 'closed') {
        throw new QXSymError(codes.symResInvalidHandle, 'the workspace is closed');
      }
      if (this._state === 'reconnecting') throw lostError('reconnecting to the controller');
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

  // The looked-up tag for name (cached); inside a job only.
  async _entry(name) {
    checkText(name, 'a tag name');
    let entry = this._tags.get(name);
    if (entry) {
      this._tags.delete(name);  // most recently used last
      this._tags.set(name, entry);
      return entry;
    }
    entry = await native().lookup(this._handle, name, false);
    this._tags.set(name, entry);
    if (this._tags.size > TAG_CACHE_SIZE) {
      const [oldest, old] = this._tags.entries().next().value;
      this._tags.delete(oldest);
      native().closeTag(old.tag);
    }
    return entry;
  }

  // Global tags matching filter (a glob: '*' any run of characters, '?' one
  // character; empty: all), as plain objects. More than one reply holds is
  // gathered by narrowing the filter. options.connections: see tagNames().
  tags(filter = '', options = {}) {
    let opts;
    try {
      checkText(filter, 'filter', true);
      opts = listOptions(options);
    } catch (e) {
      return Promise.reject(e);
    }
    return this._run(async () => {
      const found = await this._gather(filter, false, null, opts.connections);
      return [...found.values()].sort((a, b) => (a.name < b.name ? -1 : a.name > b.name)).map(plainTag);
    }, `filter '${filter}'`);
  }

  // The names of the global tags matching filter, sorted; one exchange per
  // tag instead of the five of tags(), for browsing large models. onBatch,
  // when given, receives each reply's names as they arrive. With
  // options.connections above 1, a listing that does not fit one reply also
  // opens up to that many connections less one to the controller for its
  // duration and asks over all of them at once.
  tagNames(filter = '', onBatch = null, options = {}) {
    let opts;
    try {
      checkText(filter, 'filter', true);
      if (onBatch !== null && typeof onBatch !== 'function') {
        throw new QXSymError(codes.symResInvalidParameter, 'onBatch must be a function or null');
      }
      opts = listOptions(options);
    } catch (e) {
      return Promise.reject(e);
    }
    return this._run(async () => {
      const found = await this._gather(filter, true, onBatch, opts.connections);
      return [...found.keys()].sort();
    }, `filter '${filter}'`);
  }

  // The tags matching filter by name, narrowing the filter where one reply
  // cannot hold them (inside a job only).
  async _gather(filter, namesOnly, onBatch, connections) {
    const found = new Map();
    const take = (tags) => {
      for (const t of tags) found.set(t.name, t);
      if (onBatch && tags.length) onBatch(tags.map((t) => t.name));
    };
    const first = await native().list(this._handle, filter, namesOnly);
    if (first.tags) {
      take(first.tags);
      return found;
    }
    const pool = new ListConnections(this._handle, this._options, connections - 1);
    try {
      const root = () => ({ f: filter, count: first.count, fromEnd: true });
      await narrowAll(root(), namesOnly, take, pool, true);
      // Counts that added up without every name found (a source whose
      // filters overlap where a glob's would not): ask every narrower filter.
      if (found.size < first.count) await narrowAll(root(), namesOnly, take, pool, false);
    } finally {
      await pool.end();
    }
    if (found.size < first.count) {
      throw new QXSymError(codes.symResBufferOverflow,
                           `${first.count} tags match '${filter}' but only ${found.size} ` +
                           'could be listed through narrower filters');
    }
    return found;
  }

  // The value of a tag as a plain JavaScript value.
  read(name) {
    return this._run(async () => {
      const entry = await this._entry(name);
      const complex = isComplex(entry);
      const size = complex ? entry.fullSize : entry.dataSize;
      if (size > MAX_VALUE) {
        throw new QXSymError(codes.symResInvalidTagSize, `'${name}': ${size} bytes`);
      }
      const bytes = await native().read(entry.tag, size, complex);
      return decode(entry.type, bytes, 0, name);
    }, `'${name}'`);
  }

  // Writes value to a tag. Structures and arrays may be given in part: what
  // is left out keeps the controller's value (read first, then written back
  // whole).
  write(name, value) {
    return this._run(async () => {
      const entry = await this._entry(name);
      if (Math.max(entry.fullSize, entry.dataSize) > MAX_VALUE) {
        throw new QXSymError(codes.symResInvalidTagSize, `'${name}': ${entry.fullSize} bytes`);
      }
      if (isComplex(entry)) {
        const bytes = await native().read(entry.tag, entry.fullSize, true);
        encode(entry.type, value, bytes, 0, false, name);
        await native().write(entry.tag, bytes, true);
      } else {
        const bytes = Buffer.alloc(entry.dataSize);
        encode(entry.type, value, bytes, 0, true, name);
        await native().write(entry.tag, bytes, false);
      }
    }, `'${name}'`);
  }

  // A plain description of the type of a tag.
  type(name) {
    try {
      checkText(name, 'a tag name');
    } catch (e) {
      return Promise.reject(e);
    }
    return this._run(async () => {
      const entry = await native().lookup(this._handle, name, true);
      await native().closeTag(entry.tag);
      return describeType(entry.type);
    }, `'${name}'`);
  }

  // The description of a tag and the texts of those of the named
  // attributes it has: { description, attributes: { name: text } }.
  // Attributes cannot be listed, only asked for by name (at most 32).
  texts(name, attributeNames = []) {
    try {
      checkText(name, 'a tag name');
      if (!Array.isArray(attributeNames) || attributeNames.length > 32) {
        throw new QXSymError(codes.symResInvalidParameter, 'up to 32 attribute names');
      }
      for (const a of attributeNames) checkText(a, 'an attribute name');
    } catch (e) {
      return Promise.reject(e);
    }
    return this._run(() => native().texts(this._handle, name, attributeNames), `'${name}'`);
  }

  // A group of tags that are read and written in one exchange each.
  async group(names) {
    if (!Array.isArray(names) || names.length === 0) {
      throw new QXSymError(codes.symResInvalidParameter,
                           'a group needs a non-empty array of tag names');
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
    if (!(interval > 0)) {
      throw new QXSymError(codes.symResInvalidParameter, 'interval must be a positive number');
    }
    const group = await this.group(names);
    const last = new Map();
    try {
      while (this._state !== 'closed') {
        let values = null;
        try {
          values = await group.read();
        } catch (e) {
          if (!(this._reconnect && e instanceof QXSymError && LOST.has(e.code))) throw e;
        }
        if (values) {
          for (const name of names) {
            const value = values[name];
            if (last.has(name) && isDeepStrictEqual(last.get(name), value)) continue;
            const previous = last.get(name);
            last.set(name, value);
            yield { name, value, previous };
          }
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

  // Closes the workspace after the calls made before; its groups and tags
  // go with it. Later calls fail with symResInvalidHandle.
  async close() {
    if (this._state === 'closed') return;
    const wait = this._tail;
    this._state = 'closed';
    for (const wake of [...this._sleepers]) wake();
    await wait;
    await this._release(this._handle);
    this._groups.clear();
    this._handle = 0;
    this.emit('close');
  }

  // Releases groups, tags and the workspace handle (the generation ends).
  async _release(handle) {
    const groups = [...this._groups];
    const tags = [...this._tags.values()];
    this._tags.clear();
    const n = native();
    for (const g of groups) await g._release();
    await Promise.all(tags.map((t) => n.closeTag(t.tag)));
    if (handle) await n.close(handle);
  }

  // The connection is gone: with reconnect on, reopen in the background.
  _lost(err, generation) {
    if (!this._reconnect || this._state !== 'open' || generation !== this._generation) return;
    this._state = 'reconnecting';
    this._generation++;
    const old = this._handle;
    this._handle = 0;
    this.emit('disconnect', err);
    this._reopen(old).catch(() => {});
  }

  async _reopen(old) {
    const names = [...this._tags.keys()];
    await this._release(old).catch(() => {});
    const { initialDelay, maxDelay, factor } = this._reconnect;
    let delay = initialDelay;
    const o = this._options;
    while (this._state === 'reconnecting') {
      await this._sleep(delay);
      if (this._state !== 'reconnecting') return;
      let opened = null;
      try {
        opened = await native().open(o.host, o.port, o.timeout);
      } catch (e) {
        delay = Math.min(delay * factor, maxDelay);
        continue;
      }
      if (this._state !== 'reconnecting') {  // closed meanwhile
        await native().close(opened.workspace);
        return;
      }
      this._handle = opened.workspace;
      this.version = opened.version.join('.');
      try {
        // A group whose tags are gone fails its calls with the reason.
        for (const g of this._groups) {
          g._broken = null;
          await g._create().catch((e) => {
            if (LOST.has(e.code)) throw e;
            g._broken = e;
          });
        }
        // The tags in use are looked up again; one that is gone is dropped.
        for (const name of names) {
          try {
            this._tags.set(name, await native().lookup(this._handle, name, false));
          } catch (e) {
            if (LOST.has(e.code)) throw e;
          }
        }
      } catch (e) {
        await this._release(this._handle).catch(() => {});
        this._handle = 0;
        delay = Math.min(delay * factor, maxDelay);
        continue;
      }
      this._state = 'open';
      this.emit('reconnect');
      return;
    }
  }
}

function plainTag(t) {
  return { name: t.name, type: t.type, size: t.size,
           flags: { readOnly: t.readOnly, bitAddress: t.bitAddress } };
}

class Group {
  constructor(ws, names) {
    this._ws = ws;
    this.names = names;
    this._handle = 0;
    this._members = [];
    this._closed = false;
    this._broken = null;  // why the group could not be made again after a reconnect
  }

  // Looks the members up and makes the group at the controller (a job).
  async _create() {
    const n = native();
    const ws = this._ws;
    const members = [];
    try {
      for (const name of this.names) {
        const entry = await n.lookup(ws._handle, name, false);
        members.push(entry);
        if (kindOf(entry.type) === 'array') {
          throw new QXSymError(codes.symResInvalidGroupTag,
                               `'${name}' is an array: read arrays with ws.read()`);
        }
      }
      if (members.reduce((sum, m) => sum + m.dataSize, 0) > MAX_VALUE) {
        throw new QXSymError(codes.symResInvalidGroupSize, 'the members exceed 256 MiB');
      }
      this._handle = await n.groupCreate(ws._handle, members.map((m) => m.tag));
      this._members = members;
    } catch (e) {
      await Promise.all(members.map((m) => n.closeTag(m.tag)));
      throw e;
    }
  }

  async _release() {
    const n = native();
    const handle = this._handle;
    const members = this._members;
    this._handle = 0;
    this._members = [];
    if (handle) await n.groupDelete(handle);
    await Promise.all(members.map((m) => n.closeTag(m.tag)));
  }

  _check() {
    if (this._closed) throw new QXSymError(codes.symResInvalidHandle, 'the group is closed');
    if (this._broken) throw this._broken;
  }

  // Every member's value in one exchange: an object from name to value.
  read() {
    return this._ws._run(async () => {
      this._check();
      const m = this._members;
      const bytes = await native().groupRead(this._handle, m.map((e) => e.tag),
                                             m.map((e) => e.dataSize));
      const out = {};
      let at = 0;
      m.forEach((e, i) => {
        out[this.names[i]] = decode(e.type, bytes, at, this.names[i]);
        at += e.dataSize;
      });
      return out;
    }, 'group read');
  }

  // Writes every member in one exchange; values must name each member.
  write(values) {
    return this._ws._run(async () => {
      this._check();
      if (values === null || typeof values !== 'object') {
        throw new QXSymError(codes.symResInvalidParameter, 'values must be an object');
      }
      const m = this._members;
      const bytes = Buffer.alloc(m.reduce((sum, e) => sum + e.dataSize, 0));
      const known = new Set(this.names);
      for (const key of Object.keys(values)) {
        if (!known.has(key)) {
          throw new QXSymError(codes.symResInvalidGroupTag, `'${key}' is not a member of the group`);
        }
      }
      let at = 0;
      m.forEach((e, i) => {
        const name = this.names[i];
        if (!(name in values)) {
          throw new QXSymError(codes.symResInvalidParameter, `no value for member '${name}'`);
        }
        encode(e.type, values[name], bytes, at, true, name);
        at += e.dataSize;
      });
      await native().groupWrite(this._handle, m.map((e) => e.tag), m.map((e) => e.dataSize), bytes);
    }, 'group write');
  }

  // Removes the group at the controller.
  async close() {
    if (this._closed) return;
    this._closed = true;
    if (this._ws._state === 'closed') return;  // the workspace's close() releases it
    this._ws._groups.delete(this);
    await this._ws._run(() => this._release(), 'group close').catch(() => {});
  }
}

// Opens a workspace on the symbol service at host:port. timeout is the
// reply time-out in ms (0 or absent: the library's default); reconnect
// turns on reopening after a lost connection (true, or { initialDelay,
// maxDelay, factor }).
async function connect(options = {}) {
  const { host = '127.0.0.1', port, timeout = 0, reconnect = false } = options;
  if (typeof host !== 'string' || host === '' || host.length > 59 ||
      /[^\u0021-\u007e]/.test(host)) {
    throw new QXSymError(codes.symResInvalidAddress, 'host must be a name of 1 to 59 characters');
  }
  if (!Number.isInteger(port) || port < 1 || port > 65535) {
    throw new QXSymError(codes.symResInvalidAddress, 'port must be an integer from 1 to 65535');
  }
  if (!Number.isInteger(timeout) || timeout < 0 || timeout > 65535) {
    throw new QXSymError(codes.symResInvalidParameter, 'timeout must be 0 to 65535 ms');
  }
  let opened;
  const started = Date.now();
  try {
    opened = await native().open(host, port, timeout);
  } catch (e) {
    // A controller that takes the connection and stays silent fails the open
    // with symResSocketError once the handshakes and the open request have
    // each waited a whole time-out (10 s when 0); one that closes fails at once.
    const silent = e && e.code === codes.symResSocketError &&
                   Date.now() - started >= (timeout || 10000);
    throw fromNative(e, `${host}:${port}${silent ? ': the controller does not answer' : ''}`);
  }
  return new Workspace({ host, port, timeout, reconnect }, opened);
}

module.exports = { connect, Workspace, Group, QXSymError, codes, resultName };
