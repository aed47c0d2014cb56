'use strict';
// The promise API: connect() to a controller's symbol service and use a
// Workspace with plain JavaScript values. qxsymbols_async.node runs the
// client core's calls off the JavaScript thread, checks their arguments and
// turns the core's values into JavaScript ones and back; this layer orders
// the calls (those of one workspace run one after the other, in call
// order), keeps groups and subscriptions, and reconnects.
const { EventEmitter } = require('events');

const native = require('./native');
const { QXSymError, codes, resultName, fromNative } = require('./errors');

// Results after which the connection is taken as lost (reconnect on).
const LOST = new Set([
  codes.symResConnectionLost,
  codes.symResSocketError,
  codes.symResTimeoutError,
]);

function invalid(message) {
  return new QXSymError(codes.symResInvalidParameter, message);
}

// Longest native wait for a poll (ms): bounds how long a pool thread is held.
const WAIT_MS = 1000;

// The add-on's arguments of a subscription after the session; deadband by
// name becomes one per name (0 for a name left out). The core checks the rest.
function subscribeArgs(names, interval, heartbeat, deadband) {
  if (!Array.isArray(names)) throw invalid('names must be an array of tag names');
  if (typeof deadband === 'number') return [names, interval, heartbeat, deadband, null];
  if (deadband === null || typeof deadband !== 'object') {
    throw invalid('deadband must be a number or an object of one per name');
  }
  const unknown = Object.keys(deadband).find((key) => !names.includes(key));
  if (unknown !== undefined) throw invalid(`deadband for '${unknown}', which is not subscribed`);
  const own = (name) => Object.prototype.hasOwnProperty.call(deadband, name);
  return [names, interval, heartbeat, 0, names.map((name) => (own(name) ? deadband[name] : 0))];
}

// A change event of the add-on as the iterator yields it.
function toChange(e) {
  return {
    name: e.path,
    value: e.value,
    previous: e.previous,
    timestamp: new Date(e.ms),
    micros: e.micros,
    timestampUs: e.timestampUs,
    status: e.status,
    error: e.result === codes.symResOk ? null : fromNative({ code: e.result }, `'${e.path}'`),
  };
}

// A listing's connections (the add-on checks them).
const connectionsOf = (options) =>
  options && options.connections !== undefined ? options.connections : 1;

class Workspace extends EventEmitter {
  constructor(options, opened) {
    super();
    this._options = options;
    this._opened(opened);
    this._tail = Promise.resolve();
    this._state = 'open'; // 'open', 'reconnecting', 'closed'
    this._generation = 0;
    this._groups = new Set();
    this._sleepers = new Set();
    const r = options.reconnect;
    this._reconnect = r
      ? { initialDelay: 200, maxDelay: 10000, factor: 2, ...(typeof r === 'object' ? r : {}) }
      : null;
  }

  _opened(opened) {
    this._handle = opened.session;
    this.version = opened.version.join('.');
    this.fullSupport = opened.fullSupport;
  }

  get connected() {
    return this._state === 'open';
  }

  // Runs job after every earlier call of this workspace; what names the
  // call in a failure's message. Fails fast while the workspace reconnects
  // or once it is closed.
  _run(job, what) {
    const gate = () => {
      if (this._state === 'closed')
        throw new QXSymError(codes.symResInvalidHandle, 'the workspace is closed');
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
        return await job(native());
      } catch (e) {
        const err = fromNative(e, what);
        if (err instanceof QXSymError && LOST.has(err.code)) this._lost(err, generation);
        throw err;
      }
    });
    this._tail = result.catch(() => {});
    return result;
  }

  // Global tags matching filter (a glob: '*' any run of characters, '?' one
  // character; empty: all), sorted by name, complete beyond one reply.
  tags(filter = '', options = {}) {
    return this._run(async (n) => {
      const found = await this._list(n, filter, true, null, connectionsOf(options));
      return found
        .sort((a, b) => (a.name < b.name ? -1 : a.name > b.name))
        .map((t) => ({
          name: t.name,
          type: t.type,
          size: t.size,
          flags: { readOnly: t.readOnly, bitAddress: t.bitAddress },
        }));
    }, `filter '${filter}'`);
  }

  // The names of the global tags matching filter, sorted. onBatch, when
  // given, receives the names as they are found. options.connections: up
  // to that many connections to the controller list at once.
  tagNames(filter = '', onBatch = null, options = {}) {
    if (onBatch !== null && typeof onBatch !== 'function') {
      return Promise.reject(invalid('onBatch must be a function or null'));
    }
    const list = (n) => this._list(n, filter, false, onBatch, connectionsOf(options));
    return this._run(async (n) => (await list(n)).map((t) => t.name).sort(), `filter '${filter}'`);
  }

  async _list(n, filter, details, onBatch, connections) {
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
    return this._run(async (n) => (await n.read(this._handle, [name]))[0], `'${name}'`);
  }

  // Writes value to a tag, member or element. Structures and arrays may be
  // given in part: what is left out keeps the controller's value.
  write(name, value) {
    return this._run((n) => n.write(this._handle, [{ path: name, value }]), `'${name}'`);
  }

  // A plain description of the type of a tag.
  type(name) {
    return this._run((n) => n.type(this._handle, name), `'${name}'`);
  }

  // The client core's layout of a tag, member or element: its size, its
  // number of values (valueCount) and its leaves, the values of a basic
  // type in it, each with its path, offset, size and array dimensions.
  layout(name) {
    return this._run((n) => n.describe(this._handle, name), `'${name}'`);
  }

  // The value a person typed for a tag, member or element, read and checked
  // by the client core's rules as a write would be; nothing is written.
  // A single value is the text itself: a literal such as 16#FF, TRUE or
  // 1.5e3, a STRING's text as it is. A structure or an array is JSON whose
  // strings may be such literals. Resolves with the value as understood,
  // ready for write().
  parse(name, text) {
    let json;
    try {
      json = JSON.parse(text);
    } catch (e) {
      json = undefined; // a single value needs none
    }
    return this._run(
      (n) => n.parse(this._handle, name, text, json, this._options.encoding),
      `'${name}'`,
    );
  }

  // The description of a tag and the texts of those of the named
  // attributes it has: { description, attributes: { name: text } }.
  // Attributes cannot be listed, only asked for by name (at most 32).
  texts(name, attributeNames = []) {
    return this._run((n) => n.texts(this._handle, name, attributeNames), `'${name}'`);
  }

  // A group of tags that are read and written in one exchange each.
  async group(names) {
    if (!Array.isArray(names) || names.length === 0 || names.some((n) => typeof n !== 'string')) {
      throw invalid('a group needs a non-empty array of tag names');
    }
    if (new Set(names.map((n) => n.toLowerCase())).size !== names.length) {
      throw new QXSymError(codes.symResHandleAlreadyExists, 'a tag appears twice in the group');
    }
    const group = new Group(this, names.slice());
    await this._run(() => group._create(), 'group');
    this._groups.add(group);
    return group;
  }

  // Changes of the given tags and of their leaves (members and elements,
  // each under its own path), polled by the client core every interval ms
  // (1000) with one group exchange: an async iterable of { name, value,
  // previous, timestamp, micros, timestampUs, status, error }. A value is
  // told on the first poll, when it moves by more than its deadband
  // (a number, or an object of one per name; 0: any change), once per
  // heartbeat ms (0: never) while it stays, once as 'stale' when the
  // controller stops answering and once as 'bad' when it cannot be read.
  // Ends when the loop is left or the workspace is closed; with reconnect
  // on, it subscribes again once the workspace is back.
  subscribe(names, options = {}) {
    const own = { sub: null, ended: false }; // the add-on's subscription; ended by return()
    const gen = this._subscription(names, options, own);
    // Unsubscribing first wakes a wait in progress, so return() never
    // waits for a change to come.
    const end = async () => {
      own.ended = true;
      const sub = own.sub;
      own.sub = null;
      if (sub) await native().unsubscribe(sub);
    };
    return {
      [Symbol.asyncIterator]() {
        return this;
      },
      next: () => gen.next(),
      return: async (value) => (await end(), gen.return(value)),
      throw: async (e) => (await end(), gen.throw(e)),
    };
  }

  async *_subscription(names, { interval = 1000, heartbeat = 0, deadband = 0 } = {}, own) {
    const args = subscribeArgs(names, interval, heartbeat, deadband);
    const live = () => this._state !== 'closed' && !own.ended;
    try {
      while (live()) {
        const generation = this._generation;
        own.sub = await this._run((n) => n.subscribe(this._handle, ...args), 'subscribe');
        while (live()) {
          const events = await native()
            .subscriptionWait(own.sub, WAIT_MS)
            .catch((e) => this._waitFailed(e, generation, own));
          if (!events) break; // ended, or the session went away
          for (const event of events) {
            if (!live()) return;
            if (event.kind === 'change') yield toChange(event);
            else this._tell(event, generation);
          }
        }
        if (own.sub) native().unsubscribe(own.sub);
        own.sub = null;
        if (own.ended || !(await this._back())) return;
      }
    } finally {
      const sub = own.sub;
      own.sub = null;
      if (sub) await native().unsubscribe(sub);
    }
  }

  // A wait ended with a failure: null when the subscription or the
  // workspace ended, or the session went away, meanwhile; else the failure.
  _waitFailed(e, generation, own) {
    const err = fromNative(e, 'subscription');
    if (this._state === 'closed' || own.ended || generation !== this._generation) return null;
    throw err;
  }

  // Resolves true once the workspace is open again, false once it is closed.
  _back() {
    if (this._state !== 'reconnecting') return Promise.resolve(this._state === 'open');
    return new Promise((resolve) => {
      const done = () => {
        this.off('reconnect', done).off('close', done);
        resolve(this._state === 'open');
      };
      this.on('reconnect', done).on('close', done);
    });
  }

  // The events of a poll besides its changes, as the workspace's own.
  _tell(event, generation) {
    const timestamp = new Date(event.ms);
    if (event.kind === 'cycle') {
      this.emit('cycle', { duration: event.durationMs, timestamp, status: event.status });
      if (event.result !== codes.symResOk && LOST.has(event.result)) {
        this._lost(fromNative({ code: event.result }, 'subscription'), generation);
      }
    } else if (event.kind === 'overrun') {
      this.emit('overrun', { late: event.lateMs, missed: event.missed, timestamp });
    } else if (event.kind === 'onlineChange') {
      this.emit('change', { timestamp });
    }
  }

  // Changes of the given tags, polled every interval ms (1000): yields
  // { name, value, previous } for each value that differs from the one
  // told before (every one on the first poll); a subscription without its
  // times and status. A value that cannot be read ends it with the reason;
  // while the controller does not answer nothing is yielded.
  async *watch(names, { interval = 1000 } = {}) {
    if (!(interval > 0)) throw invalid('interval must be a positive number');
    for await (const c of this.subscribe(names, { interval: Math.ceil(interval) })) {
      if (c.status === 'bad') throw c.error;
      if (c.status === 'good') yield { name: c.name, value: c.value, previous: c.previous };
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
    native()
      .close(old)
      .catch(() => {});
    this._reopen().catch(() => {});
  }

  async _reopen() {
    const { initialDelay, maxDelay, factor } = this._reconnect;
    for (
      let delay = initialDelay;
      this._state === 'reconnecting';
      delay = Math.min(delay * factor, maxDelay)
    ) {
      await this._sleep(delay);
      if (this._state !== 'reconnecting') return;
      const opened = await open(this._options).catch(() => null);
      if (!opened) continue;
      if (this._state !== 'reconnecting') return native().close(opened.session); // closed meanwhile
      this._opened(opened);
      try {
        // A group whose tags are gone fails its calls with the reason.
        for (const g of this._groups) {
          g._broken = await g._create().then(
            () => null,
            (e) => {
              const err = fromNative(e, 'group');
              if (LOST.has(err.code)) throw err;
              return err;
            },
          );
        }
      } catch (e) {
        await native()
          .close(this._handle)
          .catch(() => {});
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
    this._broken = null; // why the group could not be made again after a reconnect
  }

  // Reads the members once: each must be there (a job).
  async _create() {
    await native().read(this._ws._handle, this.names);
  }

  _check() {
    if (this._closed) throw new QXSymError(codes.symResInvalidHandle, 'the group is closed');
    if (this._broken) throw this._broken;
  }

  // Every member's value in one exchange: an object from name to value.
  read() {
    return this._ws._run(async (n) => {
      this._check();
      const values = await n.read(this._ws._handle, this.names);
      return Object.fromEntries(this.names.map((name, i) => [name, values[i]]));
    }, 'group read');
  }

  // Writes every member in one exchange; values must name each member.
  write(values) {
    return this._ws._run((n) => {
      this._check();
      if (values === null || typeof values !== 'object') throw invalid('values must be an object');
      const unknown = Object.keys(values).find((key) => !this.names.includes(key));
      if (unknown !== undefined) {
        throw new QXSymError(
          codes.symResInvalidGroupTag,
          `'${unknown}' is not a member of the group`,
        );
      }
      const missing = this.names.find((name) => !(name in values));
      if (missing !== undefined) throw invalid(`no value for member '${missing}'`);
      return n.write(
        this._ws._handle,
        this.names.map((name) => ({ path: name, value: values[name] })),
      );
    }, 'group write');
  }

  // Ends the group; its members stay known to the workspace.
  async close() {
    this._closed = true;
    this._ws._groups.delete(this);
  }
}

// The add-on checks the address, the time-out and the encoding.
function open({ host, port, timeout, encoding }) {
  return native().open(host, port, timeout, encoding);
}

// Opens a workspace on the symbol service at host:port. timeout is the
// reply time-out in ms (0 or absent: the library's default); encoding the
// controller's text encoding ('latin1', the default, 'utf8' or
// 'windows1252'); reconnect turns on reopening after a lost connection
// (true, or { initialDelay, maxDelay, factor }).
async function connect(options = {}) {
  const { host = '127.0.0.1', port, timeout = 0, reconnect = false, encoding = 'latin1' } = options;
  const settings = { host, port, timeout, reconnect, encoding };
  const started = Date.now();
  try {
    return new Workspace(settings, await open(settings));
  } catch (e) {
    // The core tells a controller that stays silent from one that refuses.
    const failed = e && typeof e.code === 'number' && !e.detail;
    const why = failed && native().result(e.code, Date.now() - started, timeout).message;
    throw fromNative(why ? { ...e, detail: why } : e, `${host}:${port}`);
  }
}

module.exports = { connect, Workspace, Group, QXSymError, codes, resultName };
