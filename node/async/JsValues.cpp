// Values between the client core and JavaScript (JsValues.h).
#include "JsValues.h"

#include "AsyncWork.h"

namespace qxsym::js {
namespace {

// A value given for a write is copied whole before its layout is known:
// these bound the copy. No layout of the core holds more values or is
// nested more deeply than either.
constexpr size_t kMaxGivenParts = size_t{1} << 20;
constexpr int kMaxGivenDepth = 64;

// A BigInt as a signed or unsigned 64-bit value; one beyond both travels
// as the nearest double, which every integer type refuses as out of range.
bool BigIntFromJs(napi_env env, napi_value v, OwnedValue* out) {
  bool lossless = false;
  if (napi_get_value_bigint_int64(env, v, &out->i, &lossless) != napi_ok) return false;
  if (lossless) {
    out->kind = QXSymCoreSigned;
    return true;
  }
  if (napi_get_value_bigint_uint64(env, v, &out->u, &lossless) != napi_ok) return false;
  if (lossless) {
    out->kind = QXSymCoreUnsigned;
    return true;
  }
  napi_value number, global, ctor;
  napi_get_global(env, &global);
  napi_get_named_property(env, global, "Number", &ctor);
  if (napi_call_function(env, global, ctor, 1, &v, &number) != napi_ok) return false;
  out->kind = QXSymCoreFloat;
  return napi_get_value_double(env, number, &out->f) == napi_ok;
}

// Flat values from `at`, last index fastest, nested per dimension.
napi_value NestDims(napi_env env, const std::vector<OwnedValue>& values, size_t at,
                    const std::vector<uint32_t>& dims, size_t d) {
  size_t stride = 1;
  for (size_t k = d + 1; k < dims.size(); ++k) stride *= dims[k];
  napi_value list = Array(env, dims[d]);
  for (size_t i = 0; i < dims[d]; ++i) {
    const size_t from = at + i * stride;
    if (d + 1 < dims.size()) {
      Put(env, list, i, NestDims(env, values, from, dims, d + 1));
    } else if (from < values.size()) {
      Put(env, list, i, ValueToJs(env, values[from]));
    }
  }
  return list;
}

napi_value NodeToJs(napi_env env, const ValueShape& shape, const ValueShape::Node& node,
                    const std::vector<OwnedValue>& values) {
  using Kind = ValueShape::Node::Kind;
  if (node.kind == Kind::kLeaf) {
    const size_t at = shape.FirstValue(static_cast<size_t>(node.leaf));
    const OwnedLeaf& leaf = shape.Leaf(node);
    if (!leaf.dims.empty()) return NestDims(env, values, at, leaf.dims, 0);
    return at < values.size() ? ValueToJs(env, values[at]) : Undefined(env);
  }
  if (node.kind == Kind::kArray) {
    napi_value list = Array(env, node.children.size());
    for (size_t i = 0; i < node.children.size(); ++i)
      Put(env, list, i, NodeToJs(env, shape, node.children[i], values));
    return list;
  }
  napi_value record = Object(env);
  for (const auto& child : node.children)
    Define(env, record, child.name, NodeToJs(env, shape, child, values));
  return record;
}

struct Budget {
  size_t parts = 0;
};

bool GivenOf(napi_env env, napi_value v, Given* out, Budget* budget, int depth);

bool ListOf(napi_env env, napi_value v, Given* out, Budget* budget, int depth) {
  uint32_t n = 0;
  napi_get_array_length(env, v, &n);
  if (n > kMaxGivenParts - budget->parts) {
    return Throw(env, "a value of more than " + std::to_string(kMaxGivenParts) + " parts");
  }
  out->kind = Given::Kind::kList;
  out->items.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value e;
    if (napi_get_element(env, v, i, &e) != napi_ok) return false;
    if (!GivenOf(env, e, &out->items[i], budget, depth + 1)) return false;
  }
  return true;
}

bool RecordOf(napi_env env, napi_value v, Given* out, Budget* budget, int depth) {
  napi_value keys;
  uint32_t n = 0;
  if (napi_get_all_property_names(
          env, v, napi_key_own_only,
          static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols),
          napi_key_numbers_to_strings, &keys) != napi_ok) {
    return false;
  }
  napi_get_array_length(env, keys, &n);
  if (n > kMaxGivenParts - budget->parts) {
    return Throw(env, "a value of more than " + std::to_string(kMaxGivenParts) + " parts");
  }
  out->kind = Given::Kind::kRecord;
  out->members.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value key, e;
    napi_get_element(env, keys, i, &key);
    if (!GetString(env, key, &out->members[i].first, "member names must be texts")) return false;
    if (napi_get_property(env, v, key, &e) != napi_ok) return false;
    if (!GivenOf(env, e, &out->members[i].second, budget, depth + 1)) return false;
  }
  return true;
}

bool GivenOf(napi_env env, napi_value v, Given* out, Budget* budget, int depth) {
  if (depth > kMaxGivenDepth) {
    return Throw(env, "a value nested more than " + std::to_string(kMaxGivenDepth) + " deep");
  }
  if (++budget->parts > kMaxGivenParts) {
    return Throw(env, "a value of more than " + std::to_string(kMaxGivenParts) + " parts");
  }
  napi_valuetype t;
  bool is = false;
  if (napi_typeof(env, v, &t) != napi_ok) return false;
  switch (t) {
    case napi_undefined:
      return true;
    case napi_null:
      out->kind = Given::Kind::kOther;
      out->other = "null";
      return true;
    case napi_object:
      if (napi_is_buffer(env, v, &is) == napi_ok && is) break;
      if (napi_is_array(env, v, &is) == napi_ok && is) return ListOf(env, v, out, budget, depth);
      if (napi_is_typedarray(env, v, &is) == napi_ok && is) {
        out->kind = Given::Kind::kOther;
        out->other = "a typed array (give a Buffer or an array)";
        return true;
      }
      return RecordOf(env, v, out, budget, depth);
    case napi_boolean:
    case napi_number:
    case napi_bigint:
    case napi_string:
      break;
    default:
      out->kind = Given::Kind::kOther;
      out->other = t == napi_function ? "a function" : "a symbol";
      return true;
  }
  out->kind = Given::Kind::kValue;
  return ValueFromJs(env, v, &out->value);
}

}  // namespace

napi_value ValueToJs(napi_env env, const OwnedValue& v) {
  napi_value r = nullptr;
  switch (v.kind) {
    case QXSymCoreBool:
      return Bool(env, v.boolean);
    case QXSymCoreSigned:
      if (!v.wide) return Num(env, static_cast<double>(v.i));
      napi_create_bigint_int64(env, v.i, &r);
      return r;
    case QXSymCoreUnsigned:
      if (!v.wide) return Num(env, static_cast<double>(v.u));
      napi_create_bigint_uint64(env, v.u, &r);
      return r;
    case QXSymCoreFloat:
      return Num(env, v.f);
    case QXSymCoreText:
      return Str(env, v.data);
    case QXSymCoreBytes: {
      void* copy = nullptr;
      napi_create_buffer_copy(env, v.data.size(), v.data.data(), &copy, &r);
      return r;
    }
    default:
      napi_get_null(env, &r);
      return r;
  }
}

bool ValueFromJs(napi_env env, napi_value v, OwnedValue* out) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok) return false;
  bool is_buffer = false;
  switch (t) {
    case napi_boolean:
      out->kind = QXSymCoreBool;
      return napi_get_value_bool(env, v, &out->boolean) == napi_ok;
    case napi_number:
      out->kind = QXSymCoreFloat;
      return napi_get_value_double(env, v, &out->f) == napi_ok;
    case napi_bigint:
      return BigIntFromJs(env, v, out);
    case napi_string: {
      size_t length = 0;
      if (napi_get_value_string_utf8(env, v, nullptr, 0, &length) != napi_ok) return false;
      out->data.assign(length + 1, '\0');
      napi_get_value_string_utf8(env, v, &out->data[0], out->data.size(), &length);
      out->data.resize(length);
      out->kind = QXSymCoreText;
      return true;
    }
    default:
      napi_is_buffer(env, v, &is_buffer);
      if (is_buffer) {
        void* data = nullptr;
        size_t length = 0;
        if (napi_get_buffer_info(env, v, &data, &length) != napi_ok) return false;
        out->data.assign(static_cast<const char*>(data), length);
        out->kind = QXSymCoreBytes;
      }
      return true;
  }
}

napi_value NestedToJs(napi_env env, const ValueShape& shape,
                      const std::vector<OwnedValue>& values) {
  return NodeToJs(env, shape, shape.root(), values);
}

bool GivenFromJs(napi_env env, napi_value v, Given* out) {
  Budget budget;
  return GivenOf(env, v, out, &budget, 0);
}

napi_value GivenToJs(napi_env env, const Given& g) {
  switch (g.kind) {
    case Given::Kind::kValue:
      return ValueToJs(env, g.value);
    case Given::Kind::kList: {
      napi_value list = Array(env, g.items.size());
      for (size_t i = 0; i < g.items.size(); ++i) {
        if (g.items[i].kind != Given::Kind::kNone) Put(env, list, i, GivenToJs(env, g.items[i]));
      }
      return list;
    }
    case Given::Kind::kRecord: {
      napi_value record = Object(env);
      for (const auto& [key, value] : g.members) Define(env, record, key, GivenToJs(env, value));
      return record;
    }
    default:
      return Undefined(env);
  }
}

namespace {

// Sets o.dims and o.lower: elements and declared lower bound per dimension.
void SetDims(napi_env env, napi_value o, const std::vector<uint32_t>& d,
             const std::vector<int64_t>& l) {
  napi_value dims = Array(env, d.size()), lower = Array(env, l.size());
  for (size_t k = 0; k < d.size() && k < l.size(); ++k) {
    Put(env, dims, k, Num(env, d[k]));
    Put(env, lower, k, Num(env, static_cast<double>(l[k])));
  }
  Set(env, o, "dims", dims);
  Set(env, o, "lower", lower);
}

napi_value LeafToJs(napi_env env, const OwnedLeaf& l) {
  napi_value o = Object(env);
  Set(env, o, "path", Str(env, l.path));
  Set(env, o, "offset", Num(env, l.offset));
  Set(env, o, "size", Num(env, l.size));
  Set(env, o, "tyvar", Num(env, l.tyvar));
  Set(env, o, "kind", Num(env, QXSymCore_KindOf(l.tyvar)));
  Set(env, o, "elementSize", Num(env, l.element_size));
  Set(env, o, "count", Num(env, l.count));
  SetDims(env, o, l.dims, l.lower);
  return o;
}

}  // namespace

napi_value LayoutToJs(napi_env env, const OwnedLayout& layout) {
  napi_value o = Object(env), leaves = Array(env, layout.leaves.size());
  Set(env, o, "path", Str(env, layout.path));
  Set(env, o, "typeName", Str(env, layout.type_name));
  Set(env, o, "size", Num(env, layout.size));
  Set(env, o, "valueCount", Num(env, layout.value_count));
  Set(env, o, "functionBlock", Bool(env, (layout.type_properties & QXSymTypeIsFunctionBlock) != 0));
  SetDims(env, o, layout.dims, layout.lower);
  for (size_t k = 0; k < layout.leaves.size(); ++k)
    Put(env, leaves, k, LeafToJs(env, layout.leaves[k]));
  Set(env, o, "leaves", leaves);
  return o;
}

}  // namespace qxsym::js
