'use strict';
// Turns the text a user typed into the value a tag of the given type takes,
// with the type's range checked. Shared by the page (before the confirmation
// step) and the server (before the write). type is the plain description of
// ws.type(): { name, kind, size, ... }.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else root.QXParse = factory();
})(typeof self !== 'undefined' ? self : this, function () {
  const REAL_MAX = 3.4028234663852886e38;

  function fail(message) {
    const e = new Error(message);
    e.parse = true;
    return e;
  }

  function integerRange(kind, size) {
    const bits = BigInt(8 * size);
    return kind === 'int' ? [-(2n ** (bits - 1n)), 2n ** (bits - 1n) - 1n] : [0n, 2n ** bits - 1n];
  }

  // Returns { value, json } where value is what the write API takes (BigInt
  // for 64-bit integers) and json the same value safe to send as JSON
  // (integers as decimal texts). Throws an Error with .parse set when the
  // text does not fit the type.
  function parseValue(type, text) {
    if (typeof text !== 'string') throw fail('the value must be given as text');
    const t = text.trim();
    switch (type.kind) {
      case 'bool': {
        const l = t.toLowerCase();
        if (l === 'true' || l === '1') return { value: true, json: true };
        if (l === 'false' || l === '0') return { value: false, json: false };
        throw fail(`'${t}' is not a BOOL: use TRUE, FALSE, 1 or 0`);
      }
      case 'int':
      case 'uint': {
        let v;
        if (/^[+-]?\d+$/.test(t)) v = BigInt(t);
        else if (/^16#[0-9a-f_]+$/i.test(t)) v = BigInt('0x' + t.slice(3).replace(/_/g, ''));
        else if (/^0x[0-9a-f]+$/i.test(t)) v = BigInt(t);
        else throw fail(`'${t}' is not an integer`);
        const [lo, hi] = integerRange(type.kind, type.size);
        if (v < lo || v > hi) throw fail(`${v} is outside ${type.name} (${lo} to ${hi})`);
        const value = type.size === 8 ? v : Number(v);
        return { value, json: v.toString() };
      }
      case 'real': {
        if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(t)) throw fail(`'${t}' is not a number`);
        const v = Number(t);
        if (!Number.isFinite(v) || (type.size === 4 && Math.abs(v) > REAL_MAX)) {
          throw fail(`${t} is outside ${type.name}`);
        }
        return { value: v, json: v };
      }
      case 'string': {
        if (/[^\u0000-\u00ff]/.test(text)) throw fail('characters beyond Latin-1');
        if (text.includes('\0')) throw fail('a zero character inside the text');
        if (text.length > type.size - 1) {
          throw fail(`${text.length} characters, ${type.name} holds ${type.size - 1}`);
        }
        return { value: text, json: text };
      }
      case 'struct':
      case 'functionBlock':
      case 'array': {
        let v;
        try {
          v = JSON.parse(t);
        } catch (e) {
          throw fail(`a ${type.kind === 'array' ? 'JSON array' : 'JSON object'} is needed`);
        }
        const value = fromJson(type, v, type.name);
        return { value, json: v };
      }
      default:
        throw fail(`values of ${type.name} cannot be written here`);
    }
  }

  // A parsed JSON value checked against the type, leaves converted as
  // parseValue does; members and elements may be left out.
  function fromJson(type, v, path) {
    switch (type.kind) {
      case 'array': {
        if (!Array.isArray(v)) throw fail(`${path}: expected an array`);
        const n = type.dims[0];
        if (v.length > n) throw fail(`${path}: ${v.length} elements, the dimension holds ${n}`);
        const rest = type.dims.slice(1);
        const inner = rest.length ? { ...type, dims: rest } : type.element;
        return v.map((x, i) => fromJson(inner, x, `${path}[${i}]`));
      }
      case 'struct':
      case 'functionBlock': {
        if (v === null || typeof v !== 'object' || Array.isArray(v)) {
          throw fail(`${path}: expected an object`);
        }
        const out = {};
        for (const [key, x] of Object.entries(v)) {
          const m = type.members.find((c) => c.name.toLowerCase() === key.toLowerCase());
          if (!m) throw fail(`${path}: ${type.name} has no member '${key}'`);
          out[m.name] = fromJson(m.type, x, `${path}.${m.name}`);
        }
        return out;
      }
      case 'string':
        if (typeof v !== 'string') throw fail(`${path}: expected a text`);
        return parseValue(type, v).value;
      default:
        if (typeof v !== 'string' && typeof v !== 'number' && typeof v !== 'boolean') {
          throw fail(`${path}: expected a ${type.name}`);
        }
        try {
          return parseValue(type, String(v)).value;
        } catch (e) {
          throw fail(`${path}: ${e.message}`);
        }
    }
  }

  return { parseValue };
});
