// qxsymbols_async.node: the native half of the promise API (node/lib/api.js).
//
// Every function checks its arguments on the JavaScript thread, copies what it
// needs, and runs one C-API call or a short sequence of them as Node-API async
// work on the thread pool, so a slow controller never blocks the event loop.
// Each returns a promise; a failed call rejects with an Error carrying the
// result code (`code`, a number) and the C function that answered it
// (`call`). Ordering of calls on one workspace is the JavaScript layer's job.
#include <node_api.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QXSymbols.h"
#include "TypeWalk.h"

namespace {

using qxsym::js::TypeNode;

// ---- Small Node-API helpers (JavaScript thread only) ----------------------

bool Throw(napi_env env, const char* message) {
  napi_throw_type_error(env, nullptr, message);
  return false;
}

bool GetInt(napi_env env, napi_value v, int32_t* out, const char* what) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_number) return Throw(env, what);
  return napi_get_value_int32(env, v, out) == napi_ok;
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
  if (napi_get_value_string_latin1(env, v, nullptr, 0, &length) != napi_ok) return false;
  out->assign(length + 1, '\0');
  napi_get_value_string_latin1(env, v, &(*out)[0], out->size(), &length);
  out->resize(length);
  // An inner zero would cut the text short and could name something else.
  if (out->find('\0') != std::string::npos) return Throw(env, what);
  return true;
}

bool GetBytes(napi_env env, napi_value v, std::vector<uint8_t>* out, const char* what) {
  bool is_buffer = false;
  if (napi_is_buffer(env, v, &is_buffer) != napi_ok || !is_buffer) return Throw(env, what);
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_buffer_info(env, v, &data, &length) != napi_ok) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->assign(bytes, bytes + length);
  return true;
}

bool GetIntArray(napi_env env, napi_value v, std::vector<int32_t>* out, const char* what) {
  bool is_array = false;
  if (napi_is_array(env, v, &is_array) != napi_ok || !is_array) return Throw(env, what);
  uint32_t n = 0;
  napi_get_array_length(env, v, &n);
  out->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value e;
    napi_get_element(env, v, i, &e);
    if (!GetInt(env, e, &(*out)[i], what)) return false;
  }
  return true;
}

bool Args(napi_env env, napi_callback_info info, size_t want, napi_value* argv) {
  size_t argc = want;
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc < want) return Throw(env, "qxsymbols_async: too few arguments");
  return true;
}

napi_value Num(napi_env env, double v) {
  napi_value r;
  napi_create_double(env, v, &r);
  return r;
}

napi_value Str(napi_env env, const std::string& s) {
  napi_value r;
  napi_create_string_latin1(env, s.data(), s.size(), &r);
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

napi_value Bytes(napi_env env, const std::vector<uint8_t>& bytes) {
  napi_value r;
  void* copy = nullptr;
  napi_create_buffer_copy(env, bytes.size(), bytes.data(), &copy, &r);
  return r;
}

// ---- Async work -----------------------------------------------------------

// One piece of work: `run` on a pool thread fills result and call; `done`
// builds the resolution value on the JavaScript thread when result is 0.
struct Work {
  napi_async_work work = nullptr;
  napi_deferred deferred = nullptr;
  std::function<void(Work&)> run;
  std::function<napi_value(napi_env)> done;
  QXSymResult result = symResOk;
  const char* call = "";
};

void Execute(napi_env, void* data) {
  auto* w = static_cast<Work*>(data);
  try {
    w->run(*w);
  } catch (...) {  // std::bad_alloc from a vector: answered as a code
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
  napi_value message = Str(env, std::string(w->call) + " failed");
  napi_value error;
  napi_create_error(env, nullptr, message, &error);
  Set(env, error, "code", Num(env, w->result));
  Set(env, error, "call", Str(env, w->call));
  napi_reject_deferred(env, w->deferred, error);
}

napi_value Start(napi_env env, std::function<void(Work&)> run,
                 std::function<napi_value(napi_env)> done = nullptr) {
  auto w = std::make_unique<Work>();
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

// Stops at the first failing call and records its result and name.
#define QX_CALL(w, fn, ...)       \
  do {                            \
    (w).result = fn(__VA_ARGS__); \
    if ((w).result != symResOk) { \
      (w).call = #fn;             \
      return;                     \
    }                             \
  } while (0)

// ---- Workspaces -------------------------------------------------------------

// open(host, port, timeout) -> { workspace, version: [a, b, c, d], result }
napi_value Open(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  if (!Args(env, info, 3, argv)) return nullptr;
  std::string host;
  uint32_t port = 0, timeout = 0;
  if (!GetString(env, argv[0], &host, "host must be a string") ||
      !GetUint(env, argv[1], &port, "port must be a number") ||
      !GetUint(env, argv[2], &timeout, "timeout must be a number"))
    return nullptr;
  if (host.size() >= sizeof(QXSymServerAddress::ip) || port > 65535 || timeout > 65535)
    return Throw(env, "host, port or timeout out of range"), nullptr;
  struct Out {
    QXSymWorkspaceHandle ws = 0;
    uint8_t v[4] = {};
    QXSymResult opened = symResOk;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env,
      [host, port, timeout, out](Work& w) {
        QX_CALL(w, QXSym_Init);
        QXSymServerAddress address{};
        address.protocol = symProtGDB_TCP;
        std::memcpy(address.ip, host.data(), host.size());
        address.port = static_cast<uint16_t>(port);
        address.timeout = static_cast<uint16_t>(timeout);
        QXSymResult r = QXSym_OpenWorkspace(0, &address, &out->ws);
        if (r != symResOk && r != symResOkServerNotFullSupport) {
          w.result = r;
          w.call = "QXSym_OpenWorkspace";
          return;
        }
        out->opened = r;
        r = QXSym_GetServerVersion(out->ws, &out->v[0], &out->v[1], &out->v[2], &out->v[3]);
        if (r != symResOk) {
          QXSym_CloseWorkspace(out->ws);
          w.result = r;
          w.call = "QXSym_GetServerVersion";
        }
      },
      [out](napi_env e) {
        napi_value obj, version;
        napi_create_object(e, &obj);
        napi_create_array_with_length(e, 4, &version);
        for (uint32_t i = 0; i < 4; ++i) napi_set_element(e, version, i, Num(e, out->v[i]));
        Set(e, obj, "workspace", Num(e, out->ws));
        Set(e, obj, "version", version);
        Set(e, obj, "result", Num(e, out->opened));
        return obj;
      });
}

// close(workspace) -> result code (never rejects: the handle is gone anyway)
napi_value Close(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  int32_t ws = 0;
  if (!Args(env, info, 1, argv) || !GetInt(env, argv[0], &ws, "workspace must be a number"))
    return nullptr;
  auto r = std::make_shared<QXSymResult>(symResOk);
  return Start(
      env, [ws, r](Work&) { *r = QXSym_CloseWorkspace(ws); },
      [r](napi_env e) { return Num(e, *r); });
}

// ---- Tag lists --------------------------------------------------------------

struct TagInfo {
  std::string name, type;
  uint32_t size = 0;
  bool read_only = false, bit = false;
};

QXSymResult Text(QXSymResult (*fn)(QXSymTagHandle, TCHAR*, uint16_t*), QXSymTagHandle tag,
                 std::string* out) {
  char buffer[QXSYM_MAX_STRING + 1] = {};
  uint16_t length = QXSYM_MAX_STRING;
  QXSymResult r = fn(tag, buffer, &length);
  if (r == symResOk) *out = buffer;
  return r;
}

// Name, type name, data size and flags of a tag; call names the C function
// that failed.
QXSymResult Describe(QXSymTagHandle tag, TagInfo* info, const char** call) {
  bool_t read_only = 0, bit = 0;
  QXSymResult r;
  if ((r = Text(QXSym_GetTagName, tag, &info->name)) != symResOk) {
    *call = "QXSym_GetTagName";
  } else if ((r = Text(QXSym_GetTagDataType, tag, &info->type)) != symResOk) {
    *call = "QXSym_GetTagDataType";
  } else if ((r = QXSym_GetTagDataSize(tag, &info->size)) != symResOk) {
    *call = "QXSym_GetTagDataSize";
  } else if ((r = QXSym_IsTagReadOnly(tag, &read_only)) != symResOk) {
    *call = "QXSym_IsTagReadOnly";
  } else if ((r = QXSym_IsTagBitAddress(tag, &bit)) != symResOk) {
    *call = "QXSym_IsTagBitAddress";
  }
  info->read_only = read_only != 0;
  info->bit = bit != 0;
  return r;
}

// Lists at most this many tags in one reply; beyond it the caller narrows.
constexpr uint32_t kMaxListed = 500;

// list(workspace, filter[, namesOnly]) -> { count, tags: [...] | null }. tags
// is null when more than kMaxListed tags match (or the source refuses the
// list as too long): the caller narrows the filter. namesOnly: each tag
// carries its name alone (one exchange per tag instead of five).
//
// The list is asked for first, into room for kMaxListed tags: a filter that
// fits costs one match at the controller, not three (count, then count and
// list). Only a refused or a full list asks for the count, so a source that
// cuts a long list short instead of refusing it is still caught.
napi_value List(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t ws = 0;
  std::string filter;
  bool names_only = false;
  size_t argc = 3;
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok) return nullptr;
  if (argc > 2) napi_get_value_bool(env, argv[2], &names_only);
  if (!Args(env, info, 2, argv) || !GetInt(env, argv[0], &ws, "workspace must be a number") ||
      !GetString(env, argv[1], &filter, "filter must be a string"))
    return nullptr;
  struct Out {
    uint32_t count = 0;
    bool overflow = false;
    std::vector<TagInfo> tags;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env,
      [ws, filter, names_only, out](Work& w) {
        std::vector<QXSymTagHandle> list(kMaxListed, 0);
        QXSymResult r = QXSym_QueryFillGlobalTagList(ws, filter.c_str(), list.data(), kMaxListed);
        if (r != symResOk && r != symResBufferOverflow) {
          w.result = r;
          w.call = "QXSym_QueryFillGlobalTagList";
          return;
        }
        // The handles written, up to the first 0 (a handle is never 0).
        const auto n = static_cast<uint32_t>(std::find(list.begin(), list.end(), 0) - list.begin());
        const auto close_all = [&] {
          for (uint32_t i = 0; i < n; ++i) QXSym_CloseTag(list[i]);
        };
        const bool refused = r == symResBufferOverflow;
        if (refused || n == kMaxListed) {
          r = QXSym_QueryGlobalTagsNum(ws, filter.c_str(), &out->count);
          if (r != symResOk) {
            close_all();
            w.result = r;
            w.call = "QXSym_QueryGlobalTagsNum";
            return;
          }
          // Refused, or full with more still matching: the caller narrows.
          if (refused || out->count > kMaxListed) {
            close_all();
            out->overflow = true;
            return;
          }
        }
        out->count = n;
        out->tags.resize(n);
        for (uint32_t i = 0; i < n && r == symResOk; ++i) {
          if (!names_only) {
            r = Describe(list[i], &out->tags[i], &w.call);
          } else if ((r = Text(QXSym_GetTagName, list[i], &out->tags[i].name)) != symResOk) {
            w.call = "QXSym_GetTagName";
          }
        }
        close_all();
        w.result = r;
      },
      [out, names_only](napi_env e) {
        napi_value obj, tags;
        napi_create_object(e, &obj);
        Set(e, obj, "count", Num(e, out->count));
        if (out->overflow) {
          napi_get_null(e, &tags);
        } else {
          napi_create_array_with_length(e, out->tags.size(), &tags);
          for (size_t i = 0; i < out->tags.size(); ++i) {
            const TagInfo& t = out->tags[i];
            napi_value o;
            napi_create_object(e, &o);
            Set(e, o, "name", Str(e, t.name));
            if (names_only) {
              napi_set_element(e, tags, static_cast<uint32_t>(i), o);
              continue;
            }
            Set(e, o, "type", Str(e, t.type));
            Set(e, o, "size", Num(e, t.size));
            Set(e, o, "readOnly", Bool(e, t.read_only));
            Set(e, o, "bitAddress", Bool(e, t.bit));
            napi_set_element(e, tags, static_cast<uint32_t>(i), o);
          }
        }
        Set(e, obj, "tags", tags);
        return obj;
      });
}

// ---- Tags and their types -----------------------------------------------------

napi_value NodeValue(napi_env env, const TypeNode& node) {
  napi_value o;
  napi_create_object(env, &o);
  Set(env, o, "name", Str(env, node.name));
  Set(env, o, "size", Num(env, node.size));
  Set(env, o, "properties", Num(env, node.properties));
  Set(env, o, "offset", Num(env, node.offset));
  if (!node.layout_known) Set(env, o, "layoutUnknown", Bool(env, true));
  if (!node.dims.empty()) {
    napi_value dims;
    napi_create_array_with_length(env, node.dims.size(), &dims);
    for (size_t i = 0; i < node.dims.size(); ++i)
      napi_set_element(env, dims, static_cast<uint32_t>(i), Num(env, node.dims[i]));
    Set(env, o, "dims", dims);
  }
  if (!node.children.empty()) {
    napi_value children;
    napi_create_array_with_length(env, node.children.size(), &children);
    for (size_t i = 0; i < node.children.size(); ++i) {
      napi_value c = NodeValue(env, node.children[i]);
      Set(env, c, "member", Str(env, node.children[i].member));
      napi_set_element(env, children, static_cast<uint32_t>(i), c);
    }
    Set(env, o, "children", children);
  }
  return o;
}

// lookup(workspace, name, walk) -> { tag, dataSize, fullSize, type }: a tag
// handle for later reads and writes, and the tag's type tree with the byte
// offset of every member and element. A scalar of a basic type costs two
// exchanges (the lookup and its dimensions) unless walk asks for the type's
// own description from the source.
napi_value Lookup(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t ws = 0;
  std::string name;
  bool walk = false;
  if (!Args(env, info, 3, argv) || !GetInt(env, argv[0], &ws, "workspace must be a number") ||
      !GetString(env, argv[1], &name, "name must be a string"))
    return nullptr;
  napi_get_value_bool(env, argv[2], &walk);
  struct Out {
    QXSymTagHandle tag = 0;
    uint32_t data_size = 0, full_size = 0;
    TypeNode type;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env,
      [ws, name, walk, out](Work& w) {
        QX_CALL(w, QXSym_GetGlobalTag, ws, name.c_str(), &out->tag);
        const char* call = "QXSym_GetTagDataSize";
        QXSymTyVar tyvar = QXSymTyVarNull;
        uint32_t dims[3] = {};
        QXSymResult r = QXSym_GetTagDataSize(out->tag, &out->data_size);
        if (r == symResOk) r = QXSym_GetTagDataFullSize(out->tag, &out->full_size);
        if (r == symResOk) r = QXSym_GetTagDataTypeVar(out->tag, &tyvar);
        bool scalar =
            r == symResOk && !walk && qxsym::js::ScalarNode(tyvar, out->data_size, &out->type);
        if (scalar) {
          call = "QXSym_GetTagDims";
          r = QXSym_GetTagDims(out->tag, &dims[0], &dims[1], &dims[2]);
          scalar = dims[0] == 0 && dims[1] == 0 && dims[2] == 0;
        }
        if (r == symResOk && !scalar) {
          out->type = TypeNode();
          r = qxsym::js::WalkTagType(ws, out->tag, name, &out->type, &call);
        }
        if (r != symResOk) {
          QXSym_CloseTag(out->tag);
          w.result = r;
          w.call = call;
        }
      },
      [out](napi_env e) {
        napi_value o;
        napi_create_object(e, &o);
        Set(e, o, "tag", Num(e, out->tag));
        Set(e, o, "dataSize", Num(e, out->data_size));
        Set(e, o, "fullSize", Num(e, out->full_size));
        Set(e, o, "type", NodeValue(e, out->type));
        return o;
      });
}

// closeTag(tag) -> result code (never rejects)
napi_value CloseTag(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  int32_t tag = 0;
  if (!Args(env, info, 1, argv) || !GetInt(env, argv[0], &tag, "tag must be a number"))
    return nullptr;
  auto r = std::make_shared<QXSymResult>(symResOk);
  return Start(
      env, [tag, r](Work&) { *r = QXSym_CloseTag(tag); }, [r](napi_env e) { return Num(e, *r); });
}

// The largest value read in one piece (the sizes come from the controller).
constexpr uint32_t kMaxValue = 256u << 20;

// read(tag, size, raw) -> Buffer of size bytes: the value (raw false) or the
// tag's whole memory (raw true).
napi_value Read(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t tag = 0;
  uint32_t size = 0;
  bool raw = false;
  if (!Args(env, info, 3, argv) || !GetInt(env, argv[0], &tag, "tag must be a number") ||
      !GetUint(env, argv[1], &size, "size must be a number"))
    return nullptr;
  napi_get_value_bool(env, argv[2], &raw);
  if (size > kMaxValue) return Throw(env, "size beyond the largest value"), nullptr;
  auto out = std::make_shared<std::vector<uint8_t>>();
  return Start(
      env,
      [tag, size, raw, out](Work& w) {
        out->assign(size, 0);
        if (raw) {
          QX_CALL(w, QXSym_GetTagRawValue_Ptr, tag, out->data(), size);
        } else {
          QX_CALL(w, QXSym_GetTagValue_Ptr, tag, out->data(), size);
        }
      },
      [out](napi_env e) { return Bytes(e, *out); });
}

// write(tag, buffer, raw)
napi_value Write(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t tag = 0;
  auto data = std::make_shared<std::vector<uint8_t>>();
  bool raw = false;
  if (!Args(env, info, 3, argv) || !GetInt(env, argv[0], &tag, "tag must be a number") ||
      !GetBytes(env, argv[1], data.get(), "data must be a Buffer"))
    return nullptr;
  napi_get_value_bool(env, argv[2], &raw);
  return Start(env, [tag, data, raw](Work& w) {
    const auto size = static_cast<uint32_t>(data->size());
    if (raw) {
      QX_CALL(w, QXSym_SetTagRawValue_Ptr, tag, data->data(), size);
    } else {
      QX_CALL(w, QXSym_SetTagValue_Ptr, tag, data->data(), size);
    }
  });
}

// ---- Groups -------------------------------------------------------------------

// groupCreate(workspace, tags) -> group handle with every tag added.
napi_value GroupCreate(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  int32_t ws = 0;
  std::vector<int32_t> tags;
  if (!Args(env, info, 2, argv) || !GetInt(env, argv[0], &ws, "workspace must be a number") ||
      !GetIntArray(env, argv[1], &tags, "tags must be an array of numbers"))
    return nullptr;
  auto group = std::make_shared<QXSymGroupHandle>(0);
  return Start(
      env,
      [ws, tags, group](Work& w) {
        QX_CALL(w, QXSym_CreateGroup, ws, group.get());
        for (int32_t tag : tags) {
          QXSymResult r = QXSym_AddTagToGroup(*group, tag);
          if (r != symResOk) {
            QXSym_DeleteGroup(*group);
            w.result = r;
            w.call = "QXSym_AddTagToGroup";
            return;
          }
        }
      },
      [group](napi_env e) { return Num(e, *group); });
}

// groupDelete(group) -> result code (never rejects)
napi_value GroupDelete(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  int32_t group = 0;
  if (!Args(env, info, 1, argv) || !GetInt(env, argv[0], &group, "group must be a number"))
    return nullptr;
  auto r = std::make_shared<QXSymResult>(symResOk);
  return Start(
      env, [group, r](Work&) { *r = QXSym_DeleteGroup(group); },
      [r](napi_env e) { return Num(e, *r); });
}

// Checks tags and sizes of a group call; total receives the sum of sizes.
bool GroupMembers(napi_env env, napi_value* argv, std::vector<int32_t>* tags,
                  std::vector<int32_t>* sizes, size_t* total) {
  if (!GetIntArray(env, argv[0], tags, "tags must be an array of numbers") ||
      !GetIntArray(env, argv[1], sizes, "sizes must be an array of numbers"))
    return false;
  if (tags->size() != sizes->size()) return Throw(env, "tags and sizes differ in length");
  *total = 0;
  for (int32_t s : *sizes) {
    if (s < 0) return Throw(env, "sizes must not be negative");
    *total += static_cast<size_t>(s);
  }
  return true;
}

// groupRead(group, tags, sizes) -> one Buffer with every member's value in
// turn: one exchange, then the members taken out of it.
napi_value GroupRead(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t group = 0;
  std::vector<int32_t> tags, sizes;
  size_t total = 0;
  if (!Args(env, info, 3, argv) || !GetInt(env, argv[0], &group, "group must be a number") ||
      !GroupMembers(env, argv + 1, &tags, &sizes, &total))
    return nullptr;
  auto out = std::make_shared<std::vector<uint8_t>>();
  return Start(
      env,
      [group, tags, sizes, total, out](Work& w) {
        out->assign(total, 0);
        QX_CALL(w, QXSym_ReadGroup, group);
        size_t at = 0;
        for (size_t i = 0; i < tags.size(); ++i) {
          const auto size = static_cast<uint32_t>(sizes[i]);
          QX_CALL(w, QXSym_GetTagValueFromGroup_Ptr, group, tags[i], out->data() + at, size);
          at += size;
        }
      },
      [out](napi_env e) { return Bytes(e, *out); });
}

// groupWrite(group, tags, sizes, buffer): every member's value in turn, then
// one exchange.
napi_value GroupWrite(napi_env env, napi_callback_info info) {
  napi_value argv[4];
  int32_t group = 0;
  std::vector<int32_t> tags, sizes;
  size_t total = 0;
  auto data = std::make_shared<std::vector<uint8_t>>();
  if (!Args(env, info, 4, argv) || !GetInt(env, argv[0], &group, "group must be a number") ||
      !GroupMembers(env, argv + 1, &tags, &sizes, &total) ||
      !GetBytes(env, argv[3], data.get(), "data must be a Buffer"))
    return nullptr;
  if (data->size() != total)
    return Throw(env, "data size differs from the members' sizes"), nullptr;
  return Start(env, [group, tags, sizes, data](Work& w) {
    size_t at = 0;
    for (size_t i = 0; i < tags.size(); ++i) {
      const auto size = static_cast<uint32_t>(sizes[i]);
      QX_CALL(w, QXSym_SetTagValueIntoGroup_Ptr, group, tags[i], data->data() + at, size);
      at += size;
    }
    QX_CALL(w, QXSym_WriteGroup, group);
  });
}

// Most attribute names one texts() call asks for.
constexpr uint32_t kMaxAttributeNames = 32;

// texts(workspace, name, attributeNames) -> { description, attributes }: the
// description of a tag and those of the named attributes it has (names it
// lacks are left out). Attributes cannot be listed, only asked for by name.
napi_value Texts(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  int32_t ws = 0;
  std::string name;
  bool is_array = false;
  uint32_t n = 0;
  if (!Args(env, info, 3, argv) || !GetInt(env, argv[0], &ws, "workspace must be a number") ||
      !GetString(env, argv[1], &name, "name must be a string"))
    return nullptr;
  if (napi_is_array(env, argv[2], &is_array) != napi_ok || !is_array ||
      napi_get_array_length(env, argv[2], &n) != napi_ok || n > kMaxAttributeNames)
    return Throw(env, "attribute names must be an array of at most 32 strings"), nullptr;
  std::vector<std::string> names(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value e;
    napi_get_element(env, argv[2], i, &e);
    if (!GetString(env, e, &names[i], "attribute names must be strings")) return nullptr;
    if (names[i].size() >= QXSYM_MAX_STRING)
      return Throw(env, "an attribute name is too long"), nullptr;
  }
  struct Out {
    std::string description;
    std::vector<std::pair<std::string, std::string>> attributes;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env,
      [ws, name, names, out](Work& w) {
        QXSymTagHandle tag = 0;
        QX_CALL(w, QXSym_GetGlobalTag, ws, name.c_str(), &tag);
        QXSymResult r = Text(QXSym_GetTagDescr, tag, &out->description);
        const char* call = "QXSym_GetTagDescr";
        for (size_t i = 0; r == symResOk && i < names.size(); ++i) {
          char buffer[QXSYM_MAX_STRING + 1] = {};
          uint16_t length = QXSYM_MAX_STRING;
          QXSymResult a = QXSym_GetTagAttribute(tag, names[i].c_str(), buffer, &length);
          if (a == symResOk) {
            out->attributes.emplace_back(names[i], buffer);
          } else if (a != symResAttributeNotFound) {
            r = a;
            call = "QXSym_GetTagAttribute";
          }
        }
        QXSym_CloseTag(tag);
        if (r != symResOk) {
          w.result = r;
          w.call = call;
        }
      },
      [out](napi_env e) {
        napi_value o, attributes;
        napi_create_object(e, &o);
        napi_create_object(e, &attributes);
        for (const auto& [key, text] : out->attributes)
          Set(e, attributes, key.c_str(), Str(e, text));
        Set(e, o, "description", Str(e, out->description));
        Set(e, o, "attributes", attributes);
        return o;
      });
}

napi_value Init(napi_env env, napi_value exports) {
  const napi_property_descriptor props[] = {
      {"open", nullptr, Open, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"close", nullptr, Close, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"list", nullptr, List, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"lookup", nullptr, Lookup, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"closeTag", nullptr, CloseTag, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"read", nullptr, Read, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"write", nullptr, Write, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"groupCreate", nullptr, GroupCreate, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"groupDelete", nullptr, GroupDelete, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"groupRead", nullptr, GroupRead, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"groupWrite", nullptr, GroupWrite, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"texts", nullptr, Texts, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
  };
  napi_define_properties(env, exports, sizeof(props) / sizeof(props[0]), props);
  return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)
