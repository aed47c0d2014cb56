'use strict';
// The tag tree's children: a tag's or member's type walked down a path
// ('Line.Main', 'RecipeBook[2]', 'Grid[0,1]') into its members, or into its
// elements by their declared indices. Pure functions over the TypeInfo the
// promise API gives, so the tree never reads a value.

// At most this many children are told in one answer (a large array is
// paged with from).
const MAX_CHILDREN = 1000;

// The steps after a tag's name: ['.', 'Main'] and ['[', [0, 1]] pairs.
// Throws on a path that is not members and integer indices.
function parsePath(rest) {
  const steps = [];
  const re = /\.([A-Za-z_][A-Za-z0-9_]*)|\[\s*(-?\d+(?:\s*,\s*-?\d+)*)\s*\]/y;
  let at = 0;
  while (at < rest.length) {
    re.lastIndex = at;
    const m = re.exec(rest);
    if (!m) throw new Error(`not a member or element path: '${rest.slice(at, at + 40)}'`);
    steps.push(m[1] !== undefined ? ['.', m[1]] : ['[', m[2].split(',').map(Number)]);
    at = re.lastIndex;
  }
  return steps;
}

// The tag a path belongs to and the rest of it: 'Line.Main' -> ['Line', '.Main'].
function splitPath(path) {
  const i = path.search(/[.[]/);
  return i < 0 ? [path, ''] : [path.slice(0, i), path.slice(i)];
}

function isArray(type) {
  return type.kind === 'array' && Array.isArray(type.dims) && type.dims.length > 0;
}

// The type at the end of steps, or throws where the path leaves the type.
function resolve(type, steps) {
  let t = type;
  for (const [kind, what] of steps) {
    if (kind === '.') {
      const m = (t.members || []).find((x) => x.name.toLowerCase() === what.toLowerCase());
      if (!m) throw new Error(`${t.name} has no member '${what}'`);
      t = m.type;
    } else {
      if (!isArray(t) || what.length !== t.dims.length)
        throw new Error(`${t.name} is not an array of ${what.length} dimension(s)`);
      what.forEach((i, d) => {
        if (i < t.lower[d] || i >= t.lower[d] + t.dims[d])
          throw new Error(`index ${i} is outside ${t.name}`);
      });
      t = t.element;
    }
  }
  return t;
}

// How many values a type holds (elements of arrays multiplied out).
function elementCount(type) {
  return isArray(type) ? type.dims.reduce((a, b) => a * b, 1) : 1;
}

// The declared index of the n-th element (last dimension fastest).
function indexAt(type, n) {
  const idx = new Array(type.dims.length);
  for (let d = type.dims.length - 1; d >= 0; d--) {
    idx[d] = type.lower[d] + (n % type.dims[d]);
    n = Math.floor(n / type.dims[d]);
  }
  return idx;
}

// One row of the tree: what the page shows and whether it opens.
function nodeOf(name, path, type, readOnly, allowWrite) {
  const leaf = !(type.kind === 'struct' || type.kind === 'functionBlock' || isArray(type));
  const node = { name, path, typeName: type.name, kind: type.kind, size: type.size, readOnly };
  node.leaf = leaf;
  node.writable = leaf && !readOnly && !!allowWrite;
  if (isArray(type)) {
    node.elements = elementCount(type);
    node.elementSize = type.element ? type.element.size : 0;
  }
  return node;
}

// The children of the node at path (type: its type): members, or elements
// from..from+MAX_CHILDREN. { children, total, from }.
function childrenOf(path, type, { readOnly = false, allowWrite = false, from = 0 } = {}) {
  if (isArray(type)) {
    const total = elementCount(type);
    const start = Math.max(0, Math.min(from, total));
    const end = Math.min(total, start + MAX_CHILDREN);
    const children = [];
    for (let n = start; n < end; n++) {
      const label = `[${indexAt(type, n).join(',')}]`;
      children.push(nodeOf(label, path + label, type.element, readOnly, allowWrite));
    }
    return { children, total, from: start };
  }
  const members = type.members || [];
  const children = members.map((m) =>
    nodeOf(m.name, `${path}.${m.name}`, m.type, readOnly, allowWrite),
  );
  return { children, total: children.length, from: 0 };
}

module.exports = {
  parsePath,
  splitPath,
  resolve,
  childrenOf,
  nodeOf,
  indexAt,
  elementCount,
  MAX_CHILDREN,
};
