'use strict';
// The tag tree's model: tags grouped by the parts of their names, opened
// into members and elements on demand. No page elements here: the page
// (app.js) renders rows() and asks the server for what load() needs.
(function (root) {
  // A tree over names. sep: the separator of groups ('' : all tags at the
  // top); a filter (a function of the name) shows the matching tags flat,
  // each with its group path.
  class TagTree {
    constructor() {
      this.sep = '';
      this.names = [];
      this.match = null;
      this.tags = new Map(); // lower-case name -> its node, kept across rebuilds
      this.groups = new Map(); // group path -> its node
      this.roots = [];
    }

    tagNode(name) {
      const key = name.toLowerCase();
      let n = this.tags.get(key);
      if (!n) {
        n = { key: `t:${name}`, kind: 'tag', label: name, path: name, info: null, open: false };
        n.children = null;
        this.tags.set(key, n);
      }
      return n;
    }

    // Rebuilds the top of the tree from names, keeping what was open.
    rebuild(names, sep, match) {
      this.names = names;
      this.sep = sep || '';
      this.match = match || null;
      if (this.match || !this.sep) {
        const shown = this.match ? names.filter(this.match) : names;
        this.roots = shown.map((n) => {
          const node = this.tagNode(n);
          node.label = n;
          node.group = this.match && this.sep ? this.groupOf(n).join(` ${this.sep} `) : '';
          return node;
        });
        return;
      }
      const top = [];
      const seen = new Set();
      for (const name of names) {
        const parts = this.groupOf(name);
        let list = top;
        let prefix = '';
        for (const part of parts) {
          prefix = prefix ? prefix + this.sep + part : part;
          const g = this.groupNode(prefix, part);
          if (!seen.has(g)) {
            seen.add(g);
            g.children = [];
            g.count = 0;
            list.push(g);
          }
          g.count++;
          list = g.children;
        }
        const node = this.tagNode(name);
        node.label = parts.length ? name.split(this.sep).pop() : name;
        node.group = '';
        list.push(node);
      }
      this.roots = top;
    }

    // The group parts of a name: all but its last part.
    groupOf(name) {
      if (!this.sep) return [];
      const parts = name.split(this.sep);
      return parts.slice(0, -1).filter(Boolean);
    }

    groupNode(prefix, label) {
      let g = this.groups.get(prefix);
      if (!g) {
        g = { key: `g:${prefix}`, kind: 'group', label, path: null, open: false, count: 0 };
        this.groups.set(prefix, g);
      }
      return g;
    }

    // The rows in view order: open nodes followed by their children.
    rows() {
      const out = [];
      const walk = (list, depth, parent) => {
        for (const n of list) {
          n.depth = depth;
          n.parent = parent;
          out.push(n);
          if (n.open && n.children) walk(n.children, depth + 1, n);
        }
      };
      walk(this.roots, 0, null);
      return out;
    }

    // Whether a node can open: groups, and tags and members not known to be
    // leaves (a tag's kind is known once its row was described).
    opens(n) {
      if (n.kind === 'group') return true;
      if (n.kind === 'more') return false;
      return !(n.info && n.info.leaf);
    }

    // Children as the server told them ({ children, total, from }): the
    // nodes of the members or elements, and one 'more' row while a large
    // array has elements not fetched yet.
    setChildren(n, told) {
      const kids = (n.children || []).filter((c) => c.kind !== 'more');
      for (const c of told.children) {
        kids.push({
          key: `c:${c.path}`,
          kind: 'child',
          label: c.name,
          path: c.path,
          info: c,
          open: false,
          children: null,
        });
      }
      if (told.total > kids.length) {
        kids.push({
          key: `m:${n.path}`,
          kind: 'more',
          label: `${told.total - kids.length} more elements`,
          path: n.path,
          from: kids.length,
        });
      }
      n.children = kids;
    }
  }

  // A size in words: '1 byte', '17 bytes', '32 bytes, 8 elements of 4 bytes'.
  function sizeText(size, elements, elementSize) {
    const bytes = (b) => `${b} byte${b === 1 ? '' : 's'}`;
    if (elements === undefined) return bytes(size);
    return `${bytes(size)}, ${elements} element${elements === 1 ? '' : 's'} of ${bytes(elementSize)}`;
  }

  const api = { TagTree, sizeText };
  if (typeof module !== 'undefined') module.exports = api;
  else root.QXTree = api;
})(typeof window !== 'undefined' ? window : globalThis);
