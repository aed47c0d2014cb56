// The async add-on's plumbing: argument checks on the JavaScript thread, a
// piece of work run on the thread pool, and small helpers for results.
#pragma once

#include <QXSymCore.h>
#include <node_api.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxsym::js {

// ---- Arguments (JavaScript thread only) ----------------------------------

// Throws an Error with result code `code` (and `detail`: message), which
// the promise API turns into its own error; answers false.
bool Refuse(napi_env env, QXSymResult code, const std::string& message);
// Refuse with symResInvalidParameter.
bool Throw(napi_env env, const std::string& message);
bool Args(napi_env env, napi_callback_info info, size_t want, napi_value* argv);
// Each refuses and answers false when v is not of its kind, naming `what`.
bool GetUint(napi_env env, napi_value v, uint32_t* out, const char* what);
// A whole number from low to high.
bool GetInt(napi_env env, napi_value v, double low, double high, double* out);
// A text without a zero character (it travels as a C string), as UTF-8.
bool GetString(napi_env env, napi_value v, std::string* out, const char* what);
bool GetStrings(napi_env env, napi_value v, std::vector<std::string>* out, const char* what);
// A tag, member or element path: a non-empty GetString.
bool GetPath(napi_env env, napi_value v, std::string* out);
bool GetPaths(napi_env env, napi_value v, std::vector<std::string>* out);
// A text encoding by name: 'latin1', 'utf8' or 'windows1252' (a _QXSymCoreEncoding).
bool GetEncoding(napi_env env, napi_value v, uint32_t* out);

// ---- Results (JavaScript thread only) --------------------------------------

napi_value Num(napi_env env, double v);
napi_value Str(napi_env env, const std::string& s);
napi_value Bool(napi_env env, bool v);
napi_value Object(napi_env env);
napi_value Undefined(napi_env env);
// Sets obj.key; Define makes it an own property also for keys such as
// "__proto__" (member names come from the controller).
void Set(napi_env env, napi_value obj, const char* key, napi_value v);
void Define(napi_env env, napi_value obj, const std::string& key, napi_value v);
napi_value Array(napi_env env, size_t n);
void Put(napi_env env, napi_value array, size_t i, napi_value v);

// ---- Work on the thread pool ---------------------------------------------------

// One piece of work: `run` on a pool thread answers a result code and may
// set `message` and `call`; `done` builds the resolution value on the
// JavaScript thread when the code is symResOk. A failure rejects with an
// Error carrying the result code (`code`), the core's function (`call`)
// and its reason (`detail`).
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

class ValueShape;
// The shape of path's layout (AsyncValues.cpp); else the core's reason, in w.
QXSymResult ShapeOf(Work& w, uint32_t session, const std::string& path, ValueShape* out);

// Registers the value functions (AsyncValues.cpp), type() (AsyncTypes.cpp)
// and the subscription functions (AsyncSubscription.cpp) on exports.
void InitValues(napi_env env, napi_value exports);
void InitTypes(napi_env env, napi_value exports);
void InitSubscriptions(napi_env env, napi_value exports);

}  // namespace qxsym::js
