// The async add-on's plumbing: argument checks on the JavaScript thread, a
// piece of work run on the thread pool, and the conversions of the client
// core's results to JavaScript values.
#pragma once

#include <QXSymCore.h>
#include <node_api.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxsym::js {

// ---- Arguments (JavaScript thread only) ----------------------------------

// Each throws a TypeError naming `what` and answers false when v is not of
// its kind.
bool Throw(napi_env env, const char* message);
bool Args(napi_env env, napi_callback_info info, size_t want, napi_value* argv);
bool GetUint(napi_env env, napi_value v, uint32_t* out, const char* what);
// A text without a zero character (it travels as a C string), as UTF-8.
bool GetString(napi_env env, napi_value v, std::string* out, const char* what);
bool GetStrings(napi_env env, napi_value v, std::vector<std::string>* out, const char* what);

// ---- Results (JavaScript thread only) --------------------------------------

napi_value Num(napi_env env, double v);
napi_value Str(napi_env env, const std::string& s);
napi_value Bool(napi_env env, bool v);
void Set(napi_env env, napi_value obj, const char* key, napi_value v);
napi_value Array(napi_env env, size_t n);
void Put(napi_env env, napi_value array, size_t i, napi_value v);

// ---- Work on the thread pool ---------------------------------------------------

// One piece of work: `run` on a pool thread answers a result code and may
// set `message`; `done` builds the resolution value on the JavaScript thread
// when the code is symResOk. A failure rejects with an Error carrying the
// result code (`code`), the core's function (`call`) and its reason (`detail`).
struct Work {
  napi_async_work work = nullptr;
  napi_deferred deferred = nullptr;
  std::function<QXSymResult(Work&)> run;
  std::function<napi_value(napi_env)> done;
  QXSymResult result = symResOk;
  const char* call = "";
  std::string message;
};

napi_value Start(napi_env env, const char* call, std::function<QXSymResult(Work&)> run,
                 std::function<napi_value(napi_env)> done = nullptr);

// ---- Values between the core and JavaScript --------------------------------

// A value copied out of the core (whose memory lasts until the next call).
struct OwnedValue {
  uint32_t kind = QXSymCoreNone;
  bool wide = false;  // a 64-bit integer: a BigInt in JavaScript
  bool boolean = false;
  int64_t i = 0;
  uint64_t u = 0;
  double f = 0;
  std::string data;  // text (UTF-8) or bytes
};

struct OwnedLeaf {
  std::string path;
  uint32_t offset = 0, size = 0, tyvar = 0, element_size = 0, count = 0;
  std::vector<uint32_t> dims;
  std::vector<int64_t> lower;
};

struct OwnedLayout {
  std::string path, type_name;
  uint32_t size = 0, type_properties = 0;
  std::vector<OwnedLeaf> leaves;
  std::vector<uint32_t> dims;  // the path's own, when it is an array
  std::vector<int64_t> lower;
};

OwnedValue CopyValue(const QXSymCoreValue& v, bool wide);
void CopyLayout(const QXSymCoreLayout& c, OwnedLayout* out);
napi_value ValueToJs(napi_env env, const OwnedValue& v);
napi_value LayoutToJs(napi_env env, const OwnedLayout& layout);
// A JavaScript value as a core value (a boolean, a number, a BigInt, a
// string or a Buffer; anything else is QXSymCoreNone, which the core
// refuses). Throws and answers false when the engine fails.
bool ValueFromJs(napi_env env, napi_value v, OwnedValue* out);
// The core's view of an owned value; data points into `v`.
QXSymCoreValue ToCore(const OwnedValue& v);

// Registers the value functions (AsyncValues.cpp) on exports.
void InitValues(napi_env env, napi_value exports);

}  // namespace qxsym::js
