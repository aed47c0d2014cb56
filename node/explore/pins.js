'use strict';
// What the pins' subscription told, gathered into the pages' 'values'
// events. The subscription names each leaf by its path ('Counter',
// 'Cell.Speed', 'Cell.Levels[2]'); a pin's value is put together from the
// good values of its leaves, members by name (an element stays one member,
// 'Levels[2]'). A leaf that is stale or bad gets a null number, so the trend
// shows a gap there; a pin with a bad leaf says why in the pins' errors.

class PinBatch {
  // pins: the pinned names, as the subscription was given them;
  // errorBody(e): the JSON form of a leaf's error.
  constructor(pins, errorBody) {
    this.pins = pins;
    this.errorBody = errorBody;
    this.values = new Map(); // pin -> its value as last told
    this.bad = new Map(); // pin -> Map of its bad leaves to their errors
    this.pending = null;
  }

  // The pin a leaf belongs to: the longest pinned name that is the leaf's
  // path or begins it (case does not matter, as in tag names).
  pinOf(leaf) {
    const low = leaf.toLowerCase();
    let best = null;
    for (const pin of this.pins) {
      const p = pin.toLowerCase();
      const within = low === p || (low.startsWith(p) && '.['.includes(low[p.length]));
      if (within && (!best || p.length > best.length)) best = pin;
    }
    return best;
  }

  // Adds one told value; true when it starts a new batch (the caller then
  // arranges for take() once the poll's other values are in).
  add(c) {
    const first = !this.pending;
    if (first) this.pending = { t: 0, values: {}, numbers: {}, status: {}, time: {}, bools: {} };
    const b = this.pending;
    const ms = c.timestamp.getTime();
    b.t = Math.max(b.t, ms);
    b.time[c.name] = ms;
    b.status[c.name] = c.status;
    const pin = this.pinOf(c.name) || c.name;
    if (c.status === 'good') {
      this._setValue(pin, c.name.slice(pin.length), c.value);
      b.values[pin] = this.values.get(pin);
      const v = c.value;
      if (typeof v === 'number' || typeof v === 'bigint') b.numbers[c.name] = Number(v);
      // BOOLs are trended as 0 and 1, drawn as steps.
      if (typeof v === 'boolean') {
        b.numbers[c.name] = v ? 1 : 0;
        b.bools[c.name] = true;
      }
    } else {
      b.numbers[c.name] = null;
    }
    if (!this.bad.has(pin)) this.bad.set(pin, new Map());
    // A bad leaf stays bad while stale: only a good value clears it.
    if (c.status === 'bad') this.bad.get(pin).set(c.name, this.errorBody(c.error));
    else if (c.status === 'good') this.bad.get(pin).delete(c.name);
    return first;
  }

  // The batch gathered so far: { t (ms, the latest timestamp told), values
  // (pin -> value), numbers (leaf -> number, null while not good; BOOLs 0
  // or 1), bools (leaf -> true for BOOLs), status and time (leaf -> as told) }.
  take() {
    const b = this.pending;
    this.pending = null;
    return b;
  }

  // Brings errors (pin -> error) in line with the bad leaves told: a pin
  // with one says why, one whose leaves are all good again loses it. True
  // when errors changed.
  updateErrors(errors) {
    let changed = false;
    for (const [pin, leaves] of this.bad) {
      const want = leaves.size ? leaves.values().next().value : undefined;
      if (JSON.stringify(want) === JSON.stringify(errors[pin])) continue;
      changed = true;
      if (want) errors[pin] = want;
      else delete errors[pin];
    }
    return changed;
  }

  // rest: the leaf's path after the pin's name ('', '.Speed', '.Sub.Levels[2]').
  _setValue(pin, rest, value) {
    const keys = rest.split('.').filter(Boolean);
    if (!keys.length) {
      this.values.set(pin, value);
      return;
    }
    let at = this.values.get(pin);
    if (at === null || typeof at !== 'object') this.values.set(pin, (at = Object.create(null)));
    for (const k of keys.slice(0, -1)) {
      if (at[k] === null || typeof at[k] !== 'object') at[k] = Object.create(null);
      at = at[k];
    }
    at[keys[keys.length - 1]] = value;
  }
}

// The heartbeat of a subscription polled every tick ms: each leaf is told
// at least every few seconds, and never more often than it is polled.
function heartbeatOf(tick) {
  return Math.max(2000, tick);
}

module.exports = { PinBatch, heartbeatOf };
