'use strict';
// Plain JavaScript values of a tag from the client core's flat layout and
// back: the leaves (paths, basic types, array dimensions with declared
// bounds) become nested objects keyed by member name and arrays nested per
// dimension; 64-bit integers are BigInts, bytes Buffers. The value rules
// themselves (ranges, texts, lengths) are the core's.
const { QXSymError, codes } = require('./errors');

// The core's value kinds (QXSymCoreValueKind) as TypeInfo kinds.
const KINDS = ['unknown', 'bool', 'int', 'uint', 'real', 'string', 'unknown'];

// The steps from a layout's path to one of its leaves: { member } or { index }.
function steps(from, path) {
  const out = [];
  const re = /\.([^.[]+)|\[([^\]]*)\]/gy;
  re.lastIndex = from.length;
  for (let m; re.lastIndex < path.length && (m = re.exec(path));) {
    if (m[1] !== undefined) out.push({ member: m[1] });
    else for (const index of m[2].split(',')) out.push({ index: index.trim() });
  }
  return out;
}

// The layout as a tree: { leaf } | { members: [{ name, node }], byName } |
// { elements: [{ label, node }], byLabel }, in the layout's order.
function treeOf(layout) {
  const root = {};
  for (const leaf of layout.leaves) {
    let node = root;
    for (const s of steps(layout.path, leaf.path)) {
      const [list, index, key, label] = s.member !== undefined
        ? ['members', 'byName', s.member.toLowerCase(), s.member] : ['elements', 'byLabel', s.index, s.index];
      if (!node[list]) [node[list], node[index]] = [[], new Map()];
      if (!node[index].has(key)) {
        node[index].set(key, { name: label, label, node: {} });
        node[list].push(node[index].get(key));
      }
      node = node[index].get(key).node;
    }
    node.leaf = leaf;
  }
  return root;
}

// Flat values, last index fastest, nested per dimension.
function nest(flat, dims, at = 0, d = 0) {
  const stride = dims.slice(d + 1).reduce((a, b) => a * b, 1);
  return Array.from({ length: dims[d] }, (_, i) =>
    (d + 1 < dims.length ? nest(flat, dims, at + i * stride, d + 1) : flat[at + i]));
}

function assemble(node, values, cursor = { at: 0 }) {
  if (node.leaf) {
    const flat = values.slice(cursor.at, (cursor.at += node.leaf.count));
    return node.leaf.dims.length ? nest(flat, node.leaf.dims) : flat[0];
  }
  if (node.elements) return node.elements.map((e) => assemble(e.node, values, cursor));
  return Object.fromEntries((node.members || []).map((m) => [m.name, assemble(m.node, values, cursor)]));
}

// The value of a read item.
function decode(item) {
  return assemble(treeOf(item.layout), item.values);
}

function describeValue(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an array';
  return typeof value === 'string' ? `the string '${value}'` : `${typeof value} ${String(value)}`;
}

function invalid(path, what) {
  return new QXSymError(codes.symResInvalidParameter, `value for '${path}': ${what}`);
}

function isLeafValue(v) {
  return ['boolean', 'number', 'bigint', 'string'].includes(typeof v) || Buffer.isBuffer(v);
}

// Puts the elements of an array leaf given in v (maybe in part) into out;
// true when every element was given.
function putArrayLeaf(leaf, v, out) {
  const flat = [];
  const walk = (value, d, index) => {
    if (!Array.isArray(value)) throw invalid(leaf.path, `expected an array, got ${describeValue(value)}`);
    if (value.length > leaf.dims[d]) {
      throw new QXSymError(codes.symResInvalidArrayIndex,
                           `value for '${leaf.path}': ${value.length} elements, the dimension holds ${leaf.dims[d]}`);
    }
    value.forEach((e, i) => {
      if (e === undefined) return;  // left out
      const at = [...index, leaf.lower[d] + i];
      if (d + 1 < leaf.dims.length) return walk(e, d + 1, at);
      if (!isLeafValue(e)) throw invalid(leaf.path, `expected a value, got ${describeValue(e)}`);
      flat.push({ path: `${leaf.path}[${at.join(',')}]`, values: [e] });
    });
  };
  walk(v, 0, []);
  if (flat.length === leaf.count) {
    out.push({ path: leaf.path, values: flat.map((f) => f.values[0]) });
    return true;
  }
  out.push(...flat);
  return false;
}

// Puts what value gives of node into out as write items; true when it gives
// all of node.
function put(node, value, where, out) {
  if (node.leaf && node.leaf.dims.length) return putArrayLeaf(node.leaf, value, out);
  if (node.leaf) {
    if (!isLeafValue(value)) throw invalid(node.leaf.path, `expected a value, got ${describeValue(value)}`);
    out.push({ path: node.leaf.path, values: [value] });
    return true;
  }
  if (node.elements) {
    if (!Array.isArray(value)) throw invalid(where, `expected an array, got ${describeValue(value)}`);
    if (value.length > node.elements.length) {
      throw new QXSymError(codes.symResInvalidArrayIndex,
                           `value for '${where}': ${value.length} elements, the array holds ${node.elements.length}`);
    }
    const given = value.map((v, i) => v !== undefined &&  // undefined: left out
                            put(node.elements[i].node, v, `${where}[${node.elements[i].label}]`, out));
    return given.filter(Boolean).length === node.elements.length;
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value) || Buffer.isBuffer(value)) {
    throw invalid(where, `expected an object, got ${describeValue(value)}`);
  }
  let complete = 0;
  for (const [key, v] of Object.entries(value)) {
    const m = node.byName.get(key.toLowerCase());
    if (!m) throw new QXSymError(codes.symResSymbolNotFound, `'${where}.${key}': no such member`);
    if (put(m.node, v, `${where}.${m.name}`, out)) complete++;
  }
  return complete === node.members.length;
}

// The write items for value at layout: one item when it gives the whole
// value, else one per leaf or element given.
function encode(layout, value) {
  const out = [];
  if (put(treeOf(layout), value, layout.path, out) && out.length > 1) {
    return [{ path: layout.path, values: out.flatMap((i) => i.values) }];
  }
  return out;
}

// The plain description of the type at path (describe: path -> layout).
async function describeType(path, describe) {
  const layout = await describe(path);
  const tree = treeOf(layout);
  const out = { name: layout.typeName, kind: 'struct', size: layout.size };
  if (tree.leaf) {
    const leaf = tree.leaf;
    out.kind = KINDS[leaf.kind];
    if (!leaf.dims.length) return out;
    const element = /^ARRAY\s*\[.*\]\s*OF\s+(.+)$/i.exec(layout.typeName);
    return { ...out, kind: 'array', dims: leaf.dims, lower: leaf.lower,
             element: { name: element ? element[1] : '', kind: KINDS[leaf.kind], size: leaf.elementSize } };
  }
  if (tree.elements) {
    const { dims, lower } = layout;
    return { ...out, kind: 'array', dims, lower, element: await describeType(`${path}[${lower.join(',')}]`, describe) };
  }
  if (layout.functionBlock) out.kind = 'functionBlock';
  const firstLeaf = (n) => (n.leaf || firstLeaf((n.members || n.elements)[0].node));
  out.members = [];
  for (const m of tree.members) {
    out.members.push({ name: m.name, offset: firstLeaf(m.node).offset,
                       type: await describeType(`${path}.${m.name}`, describe) });
  }
  return out;
}

module.exports = { decode, encode, describeType, KINDS };
