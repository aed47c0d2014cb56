'use strict';
// The explorer page: a virtualised tag list with a filter, the selected
// tag's type and value, pinned tags with live values and a trend chart.
(function () {
  const $ = (id) => document.getElementById(id);
  const ROW = 22;
  const MAX_WINDOW_S = 900;
  const MAX_POINTS = 20000;

  const state = { server: null, tags: [], rows: [], selected: null, detail: null, pending: null };
  const tree = new QXTree.TagTree();
  // series: path -> array aligned with t; last: path -> its latest number,
  // null while the leaf is stale or bad (a gap in the trend).
  const history = { t: [], series: new Map(), last: new Map(), bools: new Set() };
  // The pinned leaves' data view: path -> { value, time, status }.
  const leaves = new Map();
  const MAX_LEAVES = 500;
  let chart = null;
  let chartKeys = '';
  let redraw = false;
  const SHOWN_SERIES = 4;
  const shownSeries = new Set();
  const hiddenSeries = new Set();
  const compact = (v) =>
    Math.abs(v) >= 1e5 || (v !== 0 && Math.abs(v) < 1e-3)
      ? v.toExponential(2)
      : String(+v.toPrecision(6));

  // The page's own query (such as an access token) goes with every request.
  function url(path) {
    const q = location.search.slice(1);
    return q ? `${path}${path.includes('?') ? '&' : '?'}${q}` : path;
  }

  async function api(path, body) {
    const init =
      body === undefined
        ? {}
        : {
            method: 'POST',
            headers: { 'Content-Type': 'application/json' },
            body: JSON.stringify(body),
          };
    const res = await fetch(url(path), init);
    const data = await res.json().catch(() => ({ error: { message: `HTTP ${res.status}` } }));
    if (!res.ok) throw Object.assign(new Error(data.error && data.error.message), data.error || {});
    return data;
  }

  function errorText(e) {
    return e.result
      ? `${e.result}: ${e.message.replace(new RegExp(`^${e.result}( \\(\\d+\\))?:? ?`), '')}`
      : e.message;
  }

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function show(value) {
    return typeof value === 'string' ? JSON.stringify(value) : JSON.stringify(value);
  }

  // ---- connection state --------------------------------------------------

  function setState(s) {
    const first = !state.server;
    const was = state.server && state.server.state;
    state.server = s;
    const conn = $('conn');
    conn.dataset.state = s.state;
    conn.className = `conn ${s.state}`;
    conn.textContent =
      s.state === 'connected'
        ? `connected${s.version ? ' (' + s.version + ')' : ''}`
        : s.state === 'disconnected'
          ? 'disconnected: reconnecting...'
          : s.state === 'unreachable'
            ? 'explorer unreachable'
            : 'connecting...';
    if (s.error && s.state !== 'connected') conn.title = errorText(s.error);
    // Why the controller cannot be reached, in words, with what to do.
    const c = s.connection;
    if (c && c.state === 'failed' && s.state !== 'connected') {
      conn.textContent = `cannot reach the controller: ${c.reason}`;
      if (c.advice) conn.title = c.advice;
    }
    showBanner(s);
    if (first && s.separator && $('sep').value === '') {
      if (![...$('sep').options].some((o) => o.value === s.separator))
        $('sep').append(new Option(`${s.separator}`, s.separator));
      $('sep').value = s.separator;
      applyFilter(true);
    }
    $('controller').textContent =
      `controller ${s.controller}${s.allowWrite ? ' - writes allowed' : ''}`;
    if (document.activeElement !== $('tick')) $('tick').value = s.tick;
    $('pause').textContent = s.paused ? 'Resume' : 'Pause';
    $('groupError').textContent = s.groupError
      ? `Pinned tags cannot be read together: ${errorText(s.groupError)}`
      : '';
    renderPins();
    if (state.detail) $('pin').textContent = s.pins.includes(state.detail.name) ? 'Unpin' : 'Pin';
    // The chart shows pinned tags only: unpinned ones leave it.
    let pruned = false;
    for (const k of [...history.series.keys()]) {
      if (pinOf(s.pins, k)) continue;
      pruned = history.series.delete(k);
      history.last.delete(k);
    }
    if (pruned) drawChart();
    if (first || (was !== 'connected' && s.state === 'connected')) {
      if (state.selected) select(state.selected, state.selectedNode);
    }
  }

  // Why the explorer is not connected: the reason the server gives, else
  // its last error, else the state itself.
  function showBanner(s) {
    const banner = $('banner');
    banner.hidden = s.state === 'connected';
    if (banner.hidden) return;
    const reason = (s.connection && s.connection.reason) || (s.error && errorText(s.error));
    const what =
      s.state === 'unreachable'
        ? 'The explorer itself cannot be reached (it stopped, or the network is down)'
        : `Not connected to the controller ${s.controller} (${s.state})`;
    banner.textContent = reason ? `${what}: ${reason}` : `${what}.`;
  }

  function connectEvents() {
    const events = new EventSource(url('api/events'));
    events.addEventListener('state', (m) => setState(JSON.parse(m.data)));
    events.addEventListener('tags', (m) => onTags(JSON.parse(m.data)));
    events.addEventListener('values', (m) => onValues(JSON.parse(m.data)));
    events.addEventListener('readError', (m) => {
      $('groupError').textContent = `Reading the pins failed: ${errorText(JSON.parse(m.data))}`;
    });
    // A stream opened again (the explorer closed one the page had stopped
    // reading) may have missed tag batches.
    let opened = false;
    events.onopen = () => {
      if (opened) loadTags();
      opened = true;
    };
    events.onerror = () => {
      if (state.server && events.readyState !== EventSource.OPEN) {
        setState({ ...state.server, state: 'unreachable', error: null });
      }
    };
  }

  // ---- tag tree ------------------------------------------------------------

  // The list arrives in batches (tags events); from is the server's list
  // length before a batch: a gap means a missed batch, so the whole list is
  // fetched again.
  async function loadTags() {
    try {
      const r = await api('api/tags');
      state.tags = r.names.slice();
      tagsDone(r);
    } catch (e) {
      $('count').textContent = `tag list: ${errorText(e)}`;
    }
  }

  // resync: the page missed batches while it was not reading.
  function onTags(m) {
    if (m.resync) return loadTags();
    if (m.from === 0 && !m.done) state.tags = [];
    if (m.from > state.tags.length) return loadTags();
    state.tags.push(...m.names.slice(state.tags.length - m.from));
    if (m.done) tagsDone(m);
    else if (!state.listTimer)
      state.listTimer = setTimeout(() => {
        state.listTimer = null;
        applyFilter(true);
      }, 100);
  }

  function tagsDone(m) {
    state.listDone = m.done;
    state.listMs = m.ms;
    state.listError = m.error;
    if (m.done) state.tags.sort();
    const t0 = performance.now();
    applyFilter(true);
    if (m.done) {
      // How long the complete list took to become the tree's rows.
      document.body.dataset.treeMs = (performance.now() - t0).toFixed(1);
      document.body.dataset.listedAt = String(Date.now());
    }
  }

  // A filter with * or ? is a glob over the whole name; plain text matches
  // anywhere in the name. Both without regard to case.
  function matcher(filter) {
    const f = filter.trim().toLowerCase();
    if (!f) return null;
    if (/[*?]/.test(f)) {
      const re = new RegExp(
        '^' +
          f
            .replace(/[.+^${}()|[\]\\]/g, '\\$&')
            .replace(/\*/g, '.*')
            .replace(/\?/g, '.') +
          '$',
      );
      return (name) => re.test(name.toLowerCase());
    }
    return (name) => name.toLowerCase().includes(f);
  }

  function applyFilter(keepScroll) {
    const match = matcher($('filter').value);
    tree.rebuild(state.tags, $('sep').value, match);
    const shown = match ? tree.roots.length : state.tags.length;
    $('count').textContent =
      `${shown} of ${state.tags.length} tags` +
      (!state.listDone
        ? ' (listing...)'
        : state.listMs !== undefined
          ? ` (listed in ${state.listMs} ms)`
          : '') +
      (state.listError ? ` - ${errorText(state.listError)}` : '');
    if (keepScroll !== true) $('list').scrollTop = 0;
    refreshRows();
  }

  function refreshRows() {
    state.rows = tree.rows();
    $('spacer').style.height = `${state.rows.length * ROW}px`;
    renderRows();
  }

  function rowOf(n, i) {
    const info = n.info;
    const row = el('div', 'row' + (n.key === state.cursor ? ' cursor' : ''));
    if (n.path && n.path === state.selected) row.classList.add('selected');
    row.style.top = `${i * ROW}px`;
    row.dataset.key = n.key;
    if (n.path && n.kind !== 'more') row.dataset.name = n.path;
    row.dataset.kind = n.kind;
    const name = el('span', 'name');
    name.style.paddingLeft = `${n.depth * 14}px`;
    const opens = tree.opens(n);
    name.append(el('span', 'toggle', opens ? (n.open ? '\u25be' : '\u25b8') : ''), n.label);
    if (n.group) name.append(el('span', 'group', ` ${n.group}`));
    row.append(name);
    if (n.kind === 'group') {
      row.append(el('span', 'type', `${n.count} tags`), el('span', 'size'), el('span', 'ro'));
    } else if (info && !info.error) {
      row.append(
        el('span', 'type', info.typeName),
        el('span', 'size', String(info.size)),
        el('span', 'ro', info.readOnly ? 'RO' : ''),
      );
    } else if (info && info.error) row.append(el('span', 'type error', info.error.result || '?'));
    return row;
  }

  // Only the rows in view exist in the page; tags in view that are not
  // described yet are asked for, once.
  function renderRows() {
    const list = $('list');
    const rows = state.rows;
    const first = Math.max(0, Math.floor(list.scrollTop / ROW) - 5);
    const last = Math.min(rows.length, Math.ceil((list.scrollTop + list.clientHeight) / ROW) + 5);
    for (const r of [...list.querySelectorAll('.row')]) r.remove();
    const frag = document.createDocumentFragment();
    const missing = [];
    for (let i = first; i < last; i++) {
      frag.append(rowOf(rows[i], i));
      if (rows[i].kind === 'tag' && !rows[i].info && !rows[i].asked) missing.push(rows[i]);
    }
    list.append(frag);
    if (missing.length) describe(missing);
    if (last > first && !document.body.dataset.firstRowsAt)
      document.body.dataset.firstRowsAt = String(Date.now());
  }

  async function describe(nodes) {
    for (const n of nodes) n.asked = true;
    const q = nodes.map((n) => `name=${encodeURIComponent(n.path)}`).join('&');
    try {
      const r = await api(`api/nodes?${q}`);
      r.nodes.forEach((info, i) => (nodes[i].info = info));
    } catch (e) {
      for (const n of nodes) n.asked = false;
      return;
    }
    renderRows();
  }

  // Opens or closes a node; a tag or member asks the server for its
  // children the first time.
  async function toggle(n, open = !n.open) {
    if (n.kind === 'more') return more(n);
    if (!tree.opens(n) || n.open === open) return;
    n.open = open;
    if (open && !n.children && n.kind !== 'group') {
      n.loading = true;
      try {
        tree.setChildren(n, await api(`api/children?path=${encodeURIComponent(n.path)}`));
      } catch (e) {
        n.open = false;
        $('count').textContent = `${n.path}: ${errorText(e)}`;
      }
      n.loading = false;
    }
    refreshRows();
    document.body.dataset.openedAt = String(performance.now());
  }

  async function more(n) {
    const parent = n.parent;
    const r = await api(`api/children?path=${encodeURIComponent(n.path)}&from=${n.from}`);
    tree.setChildren(parent, r);
    refreshRows();
  }

  function moveCursor(by) {
    const rows = state.rows;
    if (!rows.length) return;
    let i = rows.findIndex((r) => r.key === state.cursor);
    i = Math.max(0, Math.min(rows.length - 1, (i < 0 ? -1 : i) + by));
    state.cursor = rows[i].key;
    showCursor(i);
  }

  // Scrolls the cursor's row (number i) into view.
  function showCursor(i) {
    const list = $('list');
    if (i * ROW < list.scrollTop) list.scrollTop = i * ROW;
    else if ((i + 1) * ROW > list.scrollTop + list.clientHeight)
      list.scrollTop = (i + 1) * ROW - list.clientHeight;
    renderRows();
  }

  function cursorNode() {
    return state.rows.find((r) => r.key === state.cursor) || null;
  }

  // Up and down move the cursor, right opens (or steps into), left closes
  // (or steps out), Enter selects.
  function onKey(ev) {
    const n = cursorNode();
    if (ev.key === 'ArrowDown') moveCursor(1);
    else if (ev.key === 'ArrowUp') moveCursor(-1);
    else if (ev.key === 'ArrowRight' && n) {
      if (tree.opens(n) && !n.open) toggle(n, true);
      else moveCursor(1);
    } else if (ev.key === 'ArrowLeft' && n) {
      if (n.open) toggle(n, false);
      else if (n.parent) {
        state.cursor = n.parent.key;
        showCursor(state.rows.indexOf(n.parent));
      }
    } else if (ev.key === 'Enter' && n) {
      if (n.kind === 'group' || n.kind === 'more') toggle(n);
      else select(n.path, n);
    } else return;
    ev.preventDefault();
  }

  // ---- the selected tag ----------------------------------------------------

  function valueTree(value, type) {
    const box = el('div');
    const leaf = (v) =>
      el(
        'span',
        'v',
        typeof v === 'string' && type && type.kind !== 'string' && /^-?\d+$/.test(v) ? v : show(v),
      );
    if (
      type &&
      (type.kind === 'struct' || type.kind === 'functionBlock') &&
      value &&
      typeof value === 'object'
    ) {
      for (const m of type.members) {
        const node = el('div', 'node');
        const sub = value[m.name];
        node.append(el('span', 'k', `${m.name}: `));
        if (
          m.type.kind === 'struct' ||
          m.type.kind === 'functionBlock' ||
          m.type.kind === 'array'
        ) {
          node.append(el('span', 't', m.type.name), valueTree(sub, m.type));
        } else node.append(leaf(sub));
        box.append(node);
      }
    } else if (Array.isArray(value)) {
      // Elements go by their declared indices, one dimension at a time.
      const many = type && type.dims && type.dims.length > 1;
      const inner = many
        ? { ...type, dims: type.dims.slice(1), lower: type.lower.slice(1) }
        : type && type.element;
      const first = type && type.lower ? type.lower[0] : 0;
      value.forEach((v, i) => {
        const node = el('div', 'node');
        node.append(el('span', 'k', `[${first + i}]: `));
        if (Array.isArray(v) || (v && typeof v === 'object')) node.append(valueTree(v, inner));
        else node.append(leaf(v));
        box.append(node);
      });
    } else box.append(leaf(value));
    return box;
  }

  function typeTree(type, label) {
    const node = el('div', 'node');
    node.append(
      el('span', 'k', label ? `${label}: ` : ''),
      el('span', 'v', type.name),
      el('span', 't', ` ${type.kind}, ${QXTree.sizeText(type.size)}`),
    );
    if (type.dims) node.append(el('span', 't', `, dims ${type.dims.join(' x ')}`));
    if (type.offset !== undefined) node.append(el('span', 't', ` @${type.offset}`));
    if (type.members)
      for (const m of type.members) node.append(typeTree({ ...m.type, offset: m.offset }, m.name));
    if (type.element) node.append(typeTree(type.element, 'element'));
    return node;
  }

  // What the selected node is, in words: size (arrays: element count and
  // size) and flags; node: its tree row, which knows a member's tag's flags.
  function showFacts(d, node) {
    const t = d.type;
    const elements = t.dims ? t.dims.reduce((a, b) => a * b, 1) : undefined;
    $('tagSize').textContent = QXTree.sizeText(t.size, elements, t.element && t.element.size);
    const info = node && node.info;
    const readOnly = d.flags ? d.flags.readOnly : !!(info && info.readOnly);
    const flags = [readOnly ? 'read-only' : 'read/write'];
    if (d.flags && d.flags.bitAddress) flags.push('bit address');
    $('tagFlags').textContent = flags.join(', ');
    const leaf = !['struct', 'functionBlock', 'array'].includes(t.kind);
    return leaf && !readOnly && !!(state.server && state.server.allowWrite);
  }

  async function select(name, node) {
    state.selected = name;
    state.selectedNode = node || tree.tags.get(name.toLowerCase()) || null;
    renderRows();
    let d;
    try {
      d = await api(`api/tag?name=${encodeURIComponent(name)}`);
    } catch (e) {
      $('nothing').hidden = false;
      $('tag').hidden = true;
      $('nothing').textContent = `${name}: ${errorText(e)}`;
      return;
    }
    if (state.selected !== name) return;
    state.detail = d;
    $('nothing').hidden = true;
    $('tag').hidden = false;
    $('tagName').textContent = d.name;
    $('tagType').textContent = d.type.name || d.tagType;
    const writable = showFacts(d, state.selectedNode);
    $('tagDescr').textContent = d.description || (d.infoError ? errorText(d.infoError) : '-');
    const attrs = d.attributes ? Object.entries(d.attributes) : [];
    $('tagAttrs').textContent = attrs.length
      ? attrs.map(([k, v]) => `${k} = ${v}`).join(', ')
      : '-';
    const value = $('tagValue');
    value.replaceChildren(
      d.valueError ? el('span', 'error', errorText(d.valueError)) : valueTree(d.value, d.type),
    );
    $('typeTree').replaceChildren(typeTree(d.type));
    $('pin').textContent = state.server && state.server.pins.includes(d.name) ? 'Unpin' : 'Pin';
    $('write').hidden = !writable;
    $('noWrite').textContent = writable ? '' : whyNoWrite(d);
    $('confirm').hidden = true;
    $('writeResult').textContent = '';
    $('writeText').value = '';
    state.current = d.value;
    if (!d.valueError) watch(d);
  }

  function whyNoWrite(d) {
    if (!(state.server && state.server.allowWrite))
      return 'Writes are off (start the explorer with --allow-write).';
    if (['struct', 'functionBlock', 'array'].includes(d.type.kind))
      return 'Open it and select a member or element to write it.';
    return 'Read-only: it cannot be written.';
  }

  // The selection's own subscription: its value, time and status as they
  // change, for as long as it stays selected.
  function watch(d) {
    if (state.watch) state.watch.close();
    const live = $('live-status');
    live.className = 'status';
    delete live.dataset.status;
    live.textContent = 'waiting for the first value...';
    const events = new EventSource(url(`api/watch?name=${encodeURIComponent(d.name)}`));
    state.watch = events;
    events.addEventListener('values', (m) => {
      if (state.watch !== events || state.detail !== d) return;
      const v = JSON.parse(m.data);
      const statuses = Object.values(v.status);
      const status = statuses.includes('bad')
        ? 'bad'
        : statuses.includes('stale')
          ? 'stale'
          : 'good';
      live.className = `status ${status}`;
      live.dataset.status = status;
      live.textContent = `${status} at ${new Date(v.t).toLocaleTimeString()}`;
      if (d.name in v.values) {
        state.current = v.values[d.name];
        $('tagValue').replaceChildren(valueTree(v.values[d.name], d.type));
        $('tagValue').classList.toggle('stale', status !== 'good');
      }
    });
    events.addEventListener('readError', (m) => {
      live.className = 'status bad';
      live.textContent = errorText(JSON.parse(m.data));
    });
  }

  // ---- writes ----------------------------------------------------------------

  // The server reads the typed text by the client core's rules, as the
  // write will: the confirmation shows the value as it was understood, or
  // the refusal says why. A reply for a tag no longer selected is dropped.
  async function onWrite(ev) {
    ev.preventDefault();
    const d = state.detail;
    const text = $('writeText').value;
    const result = $('writeResult');
    result.className = '';
    result.textContent = '';
    state.pending = null;
    $('confirm').hidden = true;
    let understood;
    try {
      understood = await api('api/check', { name: d.name, text });
    } catch (e) {
      if (state.detail !== d) return;
      result.className = 'error';
      result.textContent = errorText(e);
      return;
    }
    if (state.detail !== d) return;
    state.pending = { name: d.name, text };
    $('confirmText').textContent =
      `Write ${understood.shown} to ${d.name} (${understood.typeName})?`;
    $('confirmNow').textContent = `now ${show(state.current)}, then ${understood.shown}`;
    $('confirm').hidden = false;
  }

  async function confirmWrite() {
    const p = state.pending;
    state.pending = null;
    $('confirm').hidden = true;
    if (!p) return;
    const result = $('writeResult');
    try {
      const r = await api('api/write', p);
      result.className = 'ok';
      result.textContent = `written: ${JSON.stringify(r.value)}`;
      if (state.selected === p.name && state.detail) {
        $('tagValue').replaceChildren(valueTree(r.value, state.detail.type));
      }
    } catch (e) {
      result.className = 'error';
      result.textContent = `refused: ${errorText(e)}`;
    }
  }

  // ---- pins, live values and the chart ----------------------------------------

  // A refused change leaves the pins as they are and says why, until the
  // next change.
  async function setPins(pins) {
    try {
      await api('api/pins', { names: pins });
      $('pinRefused').textContent = '';
    } catch (e) {
      $('pinRefused').textContent = errorText(e);
    }
  }

  // A pinned tag that cannot be read shows why in its value cell.
  function renderPins() {
    const body = $('pins').tBodies[0];
    const pins = state.server ? state.server.pins : [];
    const errors = (state.server && state.server.pinErrors) || {};
    const have = [...body.rows].map((r) => r.dataset.name).join('\n');
    if (have !== pins.join('\n')) rebuildPins(body, pins);
    for (const tr of body.rows) {
      const e = errors[tr.dataset.name];
      tr.cells[1].classList.toggle('error', !!e);
      if (e) tr.cells[1].textContent = tr.cells[1].title = errorText(e);
      else if (tr.dataset.failed) tr.cells[1].textContent = tr.cells[1].title = '';
      tr.dataset.failed = e ? '1' : '';
    }
  }

  function rebuildPins(body, pins) {
    body.replaceChildren(
      ...pins.map((name) => {
        const tr = el('tr');
        tr.dataset.name = name;
        const unpin = el('button', '', 'x');
        unpin.title = 'Unpin';
        unpin.onclick = () => setPins(pins.filter((p) => p !== name));
        const b = el('td');
        b.append(unpin);
        tr.append(el('td', '', name), el('td', 'value', ''), b);
        return tr;
      }),
    );
  }

  // A pin's value cell: its latest value, marked stale while any of its
  // leaves is (the value shown is the last one read).
  function showPinValues(m) {
    const status = m.status || {};
    for (const tr of $('pins').tBodies[0].rows) {
      const name = tr.dataset.name;
      const low = name.toLowerCase();
      const told = Object.keys(status).filter(
        (k) =>
          k.toLowerCase().startsWith(low) &&
          (k.length === name.length || /^[.[]/.test(k.slice(name.length))),
      );
      if (told.some((k) => status[k] === 'stale')) tr.cells[1].classList.add('stale');
      else if (told.length) tr.cells[1].classList.remove('stale');
      if (name in m.values) {
        tr.cells[1].textContent = show(m.values[name]);
        tr.cells[1].title = tr.cells[1].textContent;
      }
    }
  }

  // The pin a leaf belongs to: the longest pinned name that is its path or
  // begins it ('Line' and 'Line.Main' hold 'Line.Main.Speed').
  function pinOf(pins, path) {
    const low = path.toLowerCase();
    let pin = null;
    for (const p of pins) {
      const q = p.toLowerCase();
      const within = low === q || (low.startsWith(q) && '.['.includes(low[q.length]));
      if (within && (!pin || p.length > pin.length)) pin = p;
    }
    return pin;
  }

  // A leaf's value within its pin's value ('.Main.Speed' of Line).
  function leafValue(values, path) {
    const pin = pinOf(state.server ? state.server.pins : [], path);
    if (!pin || !(pin in values)) return undefined;
    let v = values[pin];
    for (const k of path.slice(pin.length).split('.').filter(Boolean)) {
      if (v === null || typeof v !== 'object') return undefined;
      v = v[k];
    }
    return v;
  }

  function showLeaves(m) {
    for (const [path, status] of Object.entries(m.status)) {
      const was = leaves.get(path) || {};
      const v = status === 'good' ? leafValue(m.values, path) : undefined;
      leaves.set(path, { value: v === undefined ? was.value : v, time: m.time[path], status });
    }
    const pins = state.server ? state.server.pins : [];
    for (const k of [...leaves.keys()]) if (!pinOf(pins, k)) leaves.delete(k);
    const rows = [...leaves].slice(0, MAX_LEAVES).map(([path, l]) => {
      const tr = el('tr', l.status);
      tr.dataset.path = path;
      tr.append(
        el('td', '', path),
        el('td', 'value', l.value === undefined ? '' : show(l.value)),
        el('td', '', l.time ? new Date(l.time).toLocaleTimeString() : ''),
        el('td', 'status', l.status),
      );
      return tr;
    });
    $('leaves').tBodies[0].replaceChildren(...rows);
  }

  // Leaves not told in a message keep their latest number; stale and bad
  // ones are told as null and stay gaps until they are good again.
  function onValues(m) {
    showPinValues(m);
    showLeaves(m);
    for (const k of Object.keys(m.bools || {})) history.bools.add(k);
    $('groupError').textContent = '';
    // The history keeps the longest window; older points go.
    const n = history.t.length;
    const t = Math.max(m.t / 1000, n ? history.t[n - 1] : 0);
    for (const [path, v] of Object.entries(m.numbers)) {
      if (v !== null && !history.series.has(path))
        history.series.set(path, new Array(n).fill(null));
      history.last.set(path, v);
    }
    history.t.push(t);
    for (const [path, arr] of history.series) arr.push(history.last.get(path) ?? null);
    let drop = 0;
    while (
      drop < history.t.length &&
      (history.t[drop] < t - MAX_WINDOW_S || history.t.length - drop > MAX_POINTS)
    )
      drop++;
    if (drop) {
      history.t.splice(0, drop);
      for (const arr of history.series.values()) arr.splice(0, drop);
    }
    for (const [path, arr] of history.series) {
      if (arr.every((v) => v === null)) history.series.delete(path);
    }
    if (!redraw) {
      redraw = true;
      requestAnimationFrame(drawChart);
    }
  }

  function visible() {
    const window = Number($('window').value);
    const end = history.t.length ? history.t[history.t.length - 1] : 0;
    let from = 0;
    while (from < history.t.length && history.t[from] < end - window) from++;
    return from;
  }

  const SERIES_COLORS = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b'];
  SERIES_COLORS.push('#e377c2', '#17becf');

  // The chart's options for these series: see drawChart.
  function chartOptions(keys, width) {
    const on = (k, i) => shownSeries.has(k) || (!hiddenSeries.has(k) && i < SHOWN_SERIES);
    // Each series has a scale of its own (so one huge value does not
    // flatten the rest) and an axis in its colour while shown; BOOLs are
    // steps between 0 and 1.
    const scales = { x: { time: true } };
    keys.forEach((k, i) => {
      scales[`s${i}`] = history.bools.has(k) ? { range: [-0.1, 1.1] } : { auto: true };
    });
    let sides = 0;
    return {
      width,
      height: 260,
      scales,
      // The first series are drawn; the legend turns the others on.
      series: [
        {},
        ...keys.map((k, i) => ({
          label: k,
          scale: `s${i}`,
          stroke: SERIES_COLORS[i % SERIES_COLORS.length],
          width: 1.5,
          spanGaps: false,
          show: on(k, i),
          ...(history.bools.has(k) ? { paths: uPlot.paths.stepped({ align: 1 }) } : {}),
        })),
      ],
      axes: [
        {},
        ...keys.map((k, i) => ({
          scale: `s${i}`,
          show: on(k, i),
          side: on(k, i) && sides++ % 2 ? 1 : 3,
          stroke: SERIES_COLORS[i % SERIES_COLORS.length],
          grid: { show: i === 0 },
          size: 60,
          values: (u, ticks) => ticks.map(compact),
        })),
      ],
      hooks: {
        setSeries: [
          (u, i, opts) => {
            const k = keys[i - 1];
            if (!k || opts.show === undefined) return;
            (opts.show ? shownSeries : hiddenSeries).add(k);
            (opts.show ? hiddenSeries : shownSeries).delete(k);
            // The axes follow the series shown: drawn anew.
            setTimeout(() => {
              chartKeys = '';
              drawChart();
            });
          },
        ],
      },
      legend: { live: false },
    };
  }

  function drawChart() {
    redraw = false;
    // Pinned tags' own values first, then members and elements.
    const depth = (k) => (/[.[]/.test(k) ? 1 : 0);
    const keys = [...history.series.keys()].sort((a, b) => depth(a) - depth(b));
    const from = visible();
    const data = [history.t.slice(from), ...keys.map((k) => history.series.get(k).slice(from))];
    $('points').textContent = `${data[0].length} points, ${keys.length} series`;
    $('chart').dataset.points = String(data[0].length);
    if (typeof uPlot === 'undefined') return;
    const box = $('chart');
    const width = Math.max(200, box.clientWidth);
    if (!chart || chartKeys !== keys.join('\n') || chart.width !== width) {
      if (chart) chart.destroy();
      chart = new uPlot(chartOptions(keys, width), data, box);
      chart.root.dataset.steps = keys.filter((k) => history.bools.has(k)).join('\n');
      chartKeys = keys.join('\n');
    } else chart.setData(data);
  }

  function csv() {
    return QXCsv.toCsv(history.t, history.series);
  }

  function downloadCsv() {
    const url = URL.createObjectURL(new Blob([csv()], { type: 'text/csv' }));
    const a = el('a');
    a.href = url;
    a.download = `qxsymbols-trend-${new Date().toISOString().replace(/[:.]/g, '-')}.csv`;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
  }

  // ---- wiring ------------------------------------------------------------------

  $('filter').addEventListener('input', () => applyFilter());
  $('list').addEventListener('scroll', renderRows);
  window.addEventListener('resize', () => {
    renderRows();
    drawChart();
  });
  $('list').addEventListener('click', (ev) => {
    const row = ev.target.closest('.row');
    if (!row) return;
    const n = state.rows.find((r) => r.key === row.dataset.key);
    if (!n) return;
    state.cursor = n.key;
    if (ev.target.closest('.toggle') || n.kind === 'group' || n.kind === 'more') toggle(n);
    else select(n.path, n);
  });
  $('list').addEventListener('dblclick', (ev) => {
    const row = ev.target.closest('.row');
    const n = row && state.rows.find((r) => r.key === row.dataset.key);
    if (n && n.kind !== 'group') toggle(n);
  });
  $('list').addEventListener('keydown', onKey);
  $('sep').onchange = () => applyFilter();
  $('pin').onclick = () => {
    const pins = state.server ? state.server.pins : [];
    const name = state.detail.name;
    setPins(pins.includes(name) ? pins.filter((p) => p !== name) : [...pins, name]);
  };
  $('tick').onchange = () =>
    api('api/tick', { tick: Number($('tick').value) }).catch((e) => {
      $('groupError').textContent = errorText(e);
    });
  $('pause').onclick = () => state.server && api('api/tick', { paused: !state.server.paused });
  $('window').onchange = drawChart;
  $('csv').onclick = downloadCsv;
  $('write').addEventListener('submit', onWrite);
  $('confirmYes').onclick = confirmWrite;
  $('confirmNo').onclick = () => {
    state.pending = null;
    $('confirm').hidden = true;
  };

  // For the browser tests: the trend's data and the tree's nodes.
  window.explorer = {
    csv,
    select,
    series: (k) => history.series.get(k),
    toggle: (key) => toggle(state.rows.find((r) => r.key === key)),
    rows: () => state.rows.length,
  };
  connectEvents();
  loadTags();
})();
