// The async add-on's plumbing (AsyncWork.h).
#include "AsyncWork.h"

#include <cmath>
#include <memory>

namespace qxsym::js {

bool Refuse(napi_env env, QXSymResult code, const std::string& message) {
  napi_value error;
  napi_create_error(env, nullptr, Str(env, message), &error);
  Set(env, error, "code", Num(env, code));
  Set(env, error, "detail", Str(env, message));
  napi_throw(env, error);
  return false;
}

bool Throw(napi_env env, const std::string& message) {
  return Refuse(env, symResInvalidParameter, message);
}

bool Args(napi_env env, napi_callback_info info, size_t want, napi_value* argv) {
  size_t argc = want;
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc < want) return Throw(env, "qxsymbols_async: too few arguments");
  return true;
}

bool GetInt(napi_env env, napi_value v, double low, double high, double* out) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_number) return false;
  napi_get_value_double(env, v, out);
  return std::floor(*out) == *out && *out >= low && *out <= high;
}

bool GetUint(napi_env env, napi_value v, uint32_t* out, const char* what) {
  double d = 0;
  if (!GetInt(env, v, 0, 4294967295.0, &d)) return Throw(env, what);
  *out = static_cast<uint32_t>(d);
  return true;
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

namespace {
constexpr const char* kPathRule = "a tag name must be a non-empty string without zeros";
}

bool GetPath(napi_env env, napi_value v, std::string* out) {
  if (!GetString(env, v, out, kPathRule)) return false;
  return !out->empty() || Throw(env, kPathRule);
}

bool GetPaths(napi_env env, napi_value v, std::vector<std::string>* out) {
  if (!GetStrings(env, v, out, kPathRule)) return false;
  for (const std::string& p : *out) {
    if (p.empty()) return Throw(env, kPathRule);
  }
  return true;
}

bool GetEncoding(napi_env env, napi_value v, uint32_t* out) {
  static const char* const kNames[] = {"latin1", "utf8", "windows1252"};
  const char* rule = "encoding must be one of latin1, utf8, windows1252";
  std::string name;
  if (!GetString(env, v, &name, rule)) return false;
  for (uint32_t e = 0; e < 3; ++e) {
    if (name == kNames[e]) {
      *out = e;
      return true;
    }
  }
  return Throw(env, rule);
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

napi_value Object(napi_env env) {
  napi_value r;
  napi_create_object(env, &r);
  return r;
}

napi_value Undefined(napi_env env) {
  napi_value r;
  napi_get_undefined(env, &r);
  return r;
}

void Set(napi_env env, napi_value obj, const char* key, napi_value v) {
  napi_set_named_property(env, obj, key, v);
}

void Define(napi_env env, napi_value obj, const std::string& key, napi_value v) {
  napi_property_descriptor d{};
  d.name = Str(env, key);
  d.value = v;
  d.attributes =
      static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  napi_define_properties(env, obj, 1, &d);
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
    if (value == nullptr) value = Undefined(env);
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

}  // namespace qxsym::js
