'use strict';
// Turns the bytes of a tag into plain JavaScript values and back, following
// the type tree that the add-on's lookup() delivers: basic types as numbers
// and booleans (BigInt for 64-bit integers), strings (one byte per
// character, Latin-1), arrays as arrays (nested per dimension), structures
// and function blocks as plain objects keyed by member name.
const { QXSymError, codes } = require('./errors');

const IS_BASIC = 1;
const IS_STRING = 4;
const IS_ARRAY = 8;
const IS_STRUCT = 16;
const IS_FB = 32;
const IS_NUMERIC = 64;
const IS_SIGNED = 128;
const IS_INTEGER = 256;

// The kind of a type node: 'bool', 'int', 'uint', 'real', 'string',
// 'struct', 'functionBlock', 'array', or 'unknown'.
function kindOf(node) {
  const p = node.properties;
  if (p & IS_ARRAY) return 'array';
  if (p & IS_FB) return 'functionBlock';
  if (p & IS_STRUCT) return 'struct';
  if (p & IS_STRING) return 'string';
  if (p & IS_INTEGER) {
    if (![1, 2, 4, 8].includes(node.size)) return 'unknown';
    return p & IS_SIGNED ? 'int' : 'uint';
  }
  if (p & IS_NUMERIC) return node.size === 4 || node.size === 8 ? 'real' : 'unknown';
  if (p & IS_BASIC && node.size === 1) return 'bool';
  return 'unknown';
}

function invalid(path, what) {
  return new QXSymError(codes.symResInvalidParameter, `value for '${path}': ${what}`);
}

function unusable(node, path) {
  return new QXSymError(codes.symResInvalidTagType,
                        `'${path}': the layout of type '${node.name}' is not known`);
}

function checkLayout(node, path) {
  if (node.layoutUnknown || kindOf(node) === 'unknown') throw unusable(node, path);
}

// Elements of an array, counted over its dimensions.
function elementCount(node) {
  return node.dims.reduce((a, b) => a * b, 1);
}

function decode(node, buf, off, path) {
  checkLayout(node, path);
  if (off + node.size > buf.length) {
    throw new QXSymError(codes.symResInvalidTagSize,
                         `'${path}': ${node.name} of ${node.size} bytes beyond the value read`);
  }
  switch (kindOf(node)) {
    case 'bool':
      return buf[off] !== 0;
    case 'int':
      switch (node.size) {
        case 1: return buf.readInt8(off);
        case 2: return buf.readInt16LE(off);
        case 4: return buf.readInt32LE(off);
        default: return buf.readBigInt64LE(off);
      }
    case 'uint':
      switch (node.size) {
        case 1: return buf.readUInt8(off);
        case 2: return buf.readUInt16LE(off);
        case 4: return buf.readUInt32LE(off);
        default: return buf.readBigUInt64LE(off);
      }
    case 'real':
      return node.size === 4 ? buf.readFloatLE(off) : buf.readDoubleLE(off);
    case 'string': {
      const bytes = buf.subarray(off, off + node.size);
      const end = bytes.indexOf(0);
      return bytes.toString('latin1', 0, end < 0 ? bytes.length : end);
    }
    case 'array': {
      const element = node.children[0];
      let at = off;
      const build = (dim) => {
        const out = new Array(node.dims[dim]);
        for (let i = 0; i < out.length; i++) {
          if (dim + 1 < node.dims.length) {
            out[i] = build(dim + 1);
          } else {
            out[i] = decode(element, buf, at, path + '[]');
            at += element.size;
          }
        }
        return out;
      };
      return build(0);
    }
    default: {  // struct, functionBlock
      const out = {};
      for (const c of node.children) out[c.member] = decode(c, buf, off + c.offset, `${path}.${c.member}`);
      return out;
    }
  }
}

const INT_RANGE = {
  int: (size) => [-(2n ** BigInt(8 * size - 1)), 2n ** BigInt(8 * size - 1) - 1n],
  uint: (size) => [0n, 2n ** BigInt(8 * size) - 1n],
};

function toInteger(node, kind, value, path) {
  let v;
  if (typeof value === 'bigint') {
    v = value;
  } else if (typeof value === 'number' && Number.isInteger(value)) {
    if (!Number.isSafeInteger(value)) throw invalid(path, 'integer beyond 2^53: pass a BigInt');
    v = BigInt(value);
  } else if (typeof value === 'boolean') {
    v = value ? 1n : 0n;
  } else {
    throw invalid(path, `expected an integer for ${node.name}, got ${describeValue(value)}`);
  }
  const [lo, hi] = INT_RANGE[kind](node.size);
  if (v < lo || v > hi) throw invalid(path, `${v} is outside ${node.name} (${lo} to ${hi})`);
  return v;
}

function describeValue(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an array';
  return typeof value === 'string' ? `the string '${value}'` : `${typeof value} ${String(value)}`;
}

// Writes value into buf at off. strict: every member and element must be
// given; otherwise what is left out keeps the bytes already in buf.
function encode(node, value, buf, off, strict, path) {
  checkLayout(node, path);
  if (off + node.size > buf.length) {
    throw new QXSymError(codes.symResInvalidTagSize,
                         `'${path}': ${node.name} of ${node.size} bytes beyond the tag's value`);
  }
  const kind = kindOf(node);
  switch (kind) {
    case 'bool':
      if (value === true || value === 1) buf[off] = 1;
      else if (value === false || value === 0) buf[off] = 0;
      else throw invalid(path, `expected a boolean, got ${describeValue(value)}`);
      return;
    case 'int':
    case 'uint': {
      const v = toInteger(node, kind, value, path);
      if (node.size === 8) {
        if (kind === 'int') buf.writeBigInt64LE(v, off);
        else buf.writeBigUInt64LE(v, off);
      } else {
        const n = Number(v);
        if (kind === 'int') buf.writeIntLE(n, off, node.size);
        else buf.writeUIntLE(n, off, node.size);
      }
      return;
    }
    case 'real':
      if (typeof value !== 'number') throw invalid(path, `expected a number, got ${describeValue(value)}`);
      if (node.size === 4) buf.writeFloatLE(value, off);
      else buf.writeDoubleLE(value, off);
      return;
    case 'string': {
      if (typeof value !== 'string') throw invalid(path, `expected a string, got ${describeValue(value)}`);
      if (/[^\u0000-\u00ff]/.test(value)) throw invalid(path, 'characters beyond Latin-1');
      if (value.includes('\0')) throw invalid(path, 'a zero character inside the text');
      if (value.length > node.size - 1) {
        throw invalid(path, `${value.length} characters, ${node.name} holds ${node.size - 1}`);
      }
      buf.fill(0, off, off + node.size);
      buf.write(value, off, 'latin1');
      return;
    }
    case 'array': {
      const element = node.children[0];
      const fill = (v, dim, start, where) => {
        if (!Array.isArray(v)) throw invalid(where, `expected an array, got ${describeValue(v)}`);
        const n = node.dims[dim];
        if (v.length > n || (strict && v.length !== n)) {
          throw invalid(where, `${v.length} elements, the dimension holds ${n}`);
        }
        const stride = node.dims.slice(dim + 1).reduce((a, b) => a * b, 1) * element.size;
        for (let i = 0; i < v.length; i++) {
          const at = start + i * stride;
          if (dim + 1 < node.dims.length) fill(v[i], dim + 1, at, `${where}[${i}]`);
          else encode(element, v[i], buf, at, strict, `${where}[${i}]`);
        }
      };
      fill(value, 0, off, path);
      return;
    }
    default: {  // struct, functionBlock
      if (value === null || typeof value !== 'object' || Array.isArray(value)) {
        throw invalid(path, `expected an object, got ${describeValue(value)}`);
      }
      const byName = new Map(node.children.map((c) => [c.member.toLowerCase(), c]));
      const given = new Set();
      for (const [key, v] of Object.entries(value)) {
        const c = byName.get(key.toLowerCase());
        if (!c) throw invalid(path, `${node.name} has no member '${key}'`);
        given.add(c);
        encode(c, v, buf, off + c.offset, strict, `${path}.${c.member}`);
      }
      if (strict) {
        const missing = node.children.filter((c) => !given.has(c)).map((c) => c.member);
        if (missing.length) throw invalid(path, `missing member(s) ${missing.join(', ')}`);
      }
    }
  }
}

// The plain description of a type node that ws.type() hands out.
function describeType(node) {
  const kind = kindOf(node);
  const out = { name: node.name, kind, size: node.size };
  if (kind === 'array') {
    out.dims = node.dims.slice();
    out.element = describeType(node.children[0]);
  } else if (kind === 'struct' || kind === 'functionBlock') {
    out.members = node.children.map((c) => ({
      name: c.member, offset: c.offset, type: describeType(c),
    }));
  }
  if (node.layoutUnknown) out.layoutKnown = false;
  return out;
}

module.exports = { kindOf, decode, encode, describeType, elementCount };
