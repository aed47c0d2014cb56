'use strict';
// The open pages' event streams (server-sent events), each bounded: a page
// that stops reading never makes the server's memory grow. While a stream's
// socket holds more than maxPending unsent bytes nothing more is written to
// it: values are skipped (the next tick brings new ones), and the events a
// page must not miss (state, tags) are remembered by type only. Once the
// stream drains, the page receives the latest of each of those instead of
// the backlog. A stream stalled for longer than stallLimit ms is closed; the
// page's EventSource opens a new one when it reads again.

const PING_MS = 15000;

class PageStreams {
  // options: maxPages, maxPending (bytes), stallLimit (ms); catchUp(event)
  // returns the text that replaces the missed events of that type.
  constructor({ maxPages, maxPending, stallLimit, catchUp }) {
    this.maxPages = maxPages;
    this.maxPending = maxPending;
    this.stallLimit = stallLimit;
    this.catchUp = catchUp;
    this.streams = new Set();
    this.ping = null;
  }

  get size() {
    return this.streams.size;
  }

  // Starts an event stream on res with first as its first text. False when
  // maxPages streams are open already (res is left untouched).
  open(req, res, first) {
    if (this.streams.size >= this.maxPages) return false;
    res.writeHead(200, {
      'Content-Type': 'text/event-stream',
      'Cache-Control': 'no-store',
      Connection: 'keep-alive',
    });
    res.write(first);
    const s = { res, missed: new Set(), stalledAt: 0 };
    this.streams.add(s);
    res.on('drain', () => this._drained(s));
    res.on('error', () => this._drop(s));
    req.on('close', () => this._drop(s));
    if (!this.ping) {
      this.ping = setInterval(() => this.send(null, ': ping\n\n'), PING_MS);
      this.ping.unref();
    }
    return true;
  }

  // Writes text to every stream; event is its type (null: a ping).
  send(event, text) {
    for (const s of this.streams) this._write(s, event, text);
  }

  closeAll() {
    for (const s of this.streams) s.res.end();
    this.streams.clear();
    clearInterval(this.ping);
    this.ping = null;
  }

  _write(s, event, text) {
    if (s.res.writableLength <= this.maxPending) {
      s.stalledAt = 0;
      s.res.write(text);
      return;
    }
    const now = Date.now();
    if (!s.stalledAt) s.stalledAt = now;
    if (now - s.stalledAt > this.stallLimit) {
      s.res.destroy();
      this._drop(s);
      return;
    }
    if (event === 'state' || event === 'tags') s.missed.add(event);
  }

  _drained(s) {
    if (!this.streams.has(s) || s.res.writableLength > this.maxPending) return;
    s.stalledAt = 0;
    const missed = [...s.missed];
    s.missed.clear();
    for (const event of missed) s.res.write(this.catchUp(event));
  }

  _drop(s) {
    this.streams.delete(s);
    if (this.streams.size === 0 && this.ping) {
      clearInterval(this.ping);
      this.ping = null;
    }
  }
}

module.exports = { PageStreams };
