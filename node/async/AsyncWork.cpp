// The async add-on's plumbing (AsyncWork.h).
#include "AsyncWork.h"

#include <memory>

namespace qxsym::js {

bool Throw(napi_env env, const char* message) {
  napi_throw_type_error(env, nullptr, message);
  return false;
}

bool Args(napi_env env, napi_callback_info info, size_t want, napi_value* argv) {
  size_t argc = want;
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc < want) return Throw(env, "qxsymbols_async: too few arguments");
  return true;
}

bool GetUint(napi_env env, napi_value v, uint32_t* out, const char* what) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_number) return Throw(env, what);
  return napi_get_value_uint32(env, v, out) == napi_ok;
}

bool GetString(napi_env env, napi_value v, std::string* out, const char* what) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_string) return Throw(env, what);
  size_t length = 0;
  if (napi_get_value_string_utf8(env, v, nullptr, 0, &length) != napi_ok) return false;
  out->assign(length + 1, '\0');
  napi_get_value_string_utf8(env, v, &(*out)[0], out->size(), &length);
  out->resize(length);
  // An inner zero would cut the text short and could name something else.
  if (out->find('\0') != std::string::npos) return Throw(env, what);
  return true;
}

bool GetStrings(napi_env env, napi_value v, std::vector<std::string>* out, const char* what) {
  bool is_array = false;
  uint32_t n = 0;
  if (napi_is_array(env, v, &is_array) != napi_ok || !is_array) return Throw(env, what);
  napi_get_array_length(env, v, &n);
  out->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value e;
    napi_get_element(env, v, i, &e);
    if (!GetString(env, e, &(*out)[i], what)) return false;
  }
  return true;
}

napi_value Num(napi_env env, double v) {
  napi_value r;
  napi_create_double(env, v, &r);
  return r;
}

napi_value Str(napi_env env, const std::string& s) {
  napi_value r;
  napi_create_string_utf8(env, s.data(), s.size(), &r);
  return r;
}

napi_value Bool(napi_env env, bool v) {
  napi_value r;
  napi_get_boolean(env, v, &r);
  return r;
}

void Set(napi_env env, napi_value obj, const char* key, napi_value v) {
  napi_set_named_property(env, obj, key, v);
}

napi_value Array(napi_env env, size_t n) {
  napi_value r;
  napi_create_array_with_length(env, n, &r);
  return r;
}

void Put(napi_env env, napi_value array, size_t i, napi_value v) {
  napi_set_element(env, array, static_cast<uint32_t>(i), v);
}

namespace {

void Execute(napi_env, void* data) {
  auto* w = static_cast<Work*>(data);
  try {
    w->result = w->run(*w);
  } catch (...) {  // std::bad_alloc while copying: answered as a code
    w->result = symResMemoryAllocError;
  }
}

void Complete(napi_env env, napi_status, void* data) {
  std::unique_ptr<Work> w(static_cast<Work*>(data));
  napi_delete_async_work(env, w->work);
  if (w->result == symResOk) {
    napi_value value = w->done ? w->done(env) : nullptr;
    if (value == nullptr) napi_get_undefined(env, &value);
    napi_resolve_deferred(env, w->deferred, value);
    return;
  }
  napi_value error;
  napi_create_error(env, nullptr, Str(env, std::string(w->call) + " failed"), &error);
  Set(env, error, "code", Num(env, w->result));
  Set(env, error, "call", Str(env, w->call));
  Set(env, error, "detail", Str(env, w->message));
  napi_reject_deferred(env, w->deferred, error);
}

}  // namespace

napi_value Start(napi_env env, const char* call, std::function<QXSymResult(Work&)> run,
                 std::function<napi_value(napi_env)> done) {
  auto w = std::make_unique<Work>();
  w->call = call;
  w->run = std::move(run);
  w->done = std::move(done);
  napi_value promise, name;
  napi_create_promise(env, &w->deferred, &promise);
  napi_create_string_utf8(env, "qxsymbols", NAPI_AUTO_LENGTH, &name);
  napi_create_async_work(env, nullptr, name, Execute, Complete, w.get(), &w->work);
  napi_queue_async_work(env, w->work);
  w.release();
  return promise;
}

OwnedValue CopyValue(const QXSymCoreValue& v, bool wide) {
  OwnedValue o;
  o.kind = v.kind;
  o.wide = wide;
  o.boolean = v.boolean != 0;
  o.i = v.i;
  o.u = v.u;
  o.f = v.f;
  if (v.data != nullptr) o.data.assign(reinterpret_cast<const char*>(v.data), v.length);
  return o;
}

void CopyLayout(const QXSymCoreLayout& c, OwnedLayout* out) {
  out->path = c.path;
  out->type_name = c.type_name;
  out->size = c.size;
  out->type_properties = c.type_properties;
  out->dims.assign(c.dims, c.dims + c.num_dims);
  out->lower.assign(c.lower, c.lower + c.num_dims);
  out->leaves.resize(c.leaf_count);
  for (uint32_t k = 0; k < c.leaf_count; ++k) {
    const QXSymCoreLeaf& l = c.leaves[k];
    OwnedLeaf& o = out->leaves[k];
    o.path = l.path;
    o.offset = l.offset;
    o.size = l.size;
    o.tyvar = l.tyvar;
    o.element_size = l.element_size;
    o.count = l.count;
    o.dims.assign(l.dims, l.dims + l.num_dims);
    o.lower.assign(l.lower, l.lower + l.num_dims);
  }
}

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
  napi_value o;
  napi_create_object(env, &o);
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
  napi_value o, leaves = Array(env, layout.leaves.size());
  napi_create_object(env, &o);
  Set(env, o, "path", Str(env, layout.path));
  Set(env, o, "typeName", Str(env, layout.type_name));
  Set(env, o, "size", Num(env, layout.size));
  Set(env, o, "functionBlock", Bool(env, (layout.type_properties & QXSymTypeIsFunctionBlock) != 0));
  SetDims(env, o, layout.dims, layout.lower);
  for (size_t k = 0; k < layout.leaves.size(); ++k)
    Put(env, leaves, k, LeafToJs(env, layout.leaves[k]));
  Set(env, o, "leaves", leaves);
  return o;
}

namespace {

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
  napi_value number;
  napi_value global, ctor;
  napi_get_global(env, &global);
  napi_get_named_property(env, global, "Number", &ctor);
  if (napi_call_function(env, global, ctor, 1, &v, &number) != napi_ok) return false;
  out->kind = QXSymCoreFloat;
  return napi_get_value_double(env, number, &out->f) == napi_ok;
}

}  // namespace

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

QXSymCoreValue ToCore(const OwnedValue& v) {
  QXSymCoreValue c{};
  c.kind = v.kind;
  c.boolean = v.boolean ? 1 : 0;
  c.i = v.i;
  c.u = v.u;
  c.f = v.f;
  c.data = reinterpret_cast<const uint8_t*>(v.data.data());
  c.length = static_cast<uint32_t>(v.data.size());
  return c;
}

}  // namespace qxsym::js
