// qxsymbols_async.node: the native half of the promise API (node/lib/api.js),
// over the client core's C interface (QXSymCore.h).
//
// Every function checks its arguments on the JavaScript thread, copies what
// it needs, and runs one core call (or a short sequence on one handle) as
// Node-API async work on the thread pool, so a slow controller never blocks
// the event loop. The core's results are copied out on the pool thread and
// turned into JavaScript values on the JavaScript thread. Ordering of calls
// on one session is the JavaScript layer's job. This file: sessions,
// listings, texts and result texts; AsyncValues.cpp: layouts and values;
// AsyncSubscription.cpp: subscriptions.
#include <cstring>
#include <memory>

#include "AsyncWork.h"

namespace {

using namespace qxsym::js;

// A controller's host name or dotted address: 1 to 59 printable ASCII
// characters without spaces (what the library's address holds).
bool GetHost(napi_env env, napi_value v, std::string* host) {
  const char* rule = "host must be a name of 1 to 59 characters";
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_string) {
    return Refuse(env, symResInvalidAddress, rule);
  }
  if (!GetString(env, v, host, rule)) return false;
  if (host->empty() || host->size() >= sizeof(QXSymServerAddress::ip)) {
    return Refuse(env, symResInvalidAddress, rule);
  }
  for (const char c : *host) {
    if (c <= ' ' || c > '~') return Refuse(env, symResInvalidAddress, rule);
  }
  return true;
}

// open(host, port, timeout, encoding) -> { session, version: [a, b, c, d], fullSupport };
// timeout in ms (0: the library's default), encoding by name.
napi_value Open(napi_env env, napi_callback_info info) {
  napi_value argv[4];
  std::string host;
  double port = 0, timeout = 0;
  uint32_t encoding = 0;
  if (!Args(env, info, 4, argv) || !GetHost(env, argv[0], &host)) return nullptr;
  if (!GetInt(env, argv[1], 1, 65535, &port))
    return Refuse(env, symResInvalidAddress, "port must be an integer from 1 to 65535"), nullptr;
  if (!GetInt(env, argv[2], 0, 65535, &timeout))
    return Throw(env, "timeout must be 0 to 65535 ms"), nullptr;
  if (!GetEncoding(env, argv[3], &encoding)) return nullptr;
  struct Out {
    QXSymCoreHandle session = 0;
    uint8_t v[4] = {};
    uint32_t full = 1;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env, "QXSymCore_Open",
      [host, port, timeout, encoding, out](Work&) {
        QXSymServerAddress address{};
        address.protocol = symProtGDB_TCP;
        std::memcpy(address.ip, host.data(), host.size());
        address.port = static_cast<uint16_t>(port);
        address.timeout = static_cast<uint16_t>(timeout);
        QXSymResult r =
            QXSymCore_Open(&address, static_cast<uint32_t>(timeout), encoding, 1, &out->session);
        if (r == symResOk) r = QXSymCore_ServerVersion(out->session, out->v, &out->full);
        if (r != symResOk && out->session != 0) QXSymCore_Close(out->session);
        return r;
      },
      [out](napi_env e) {
        napi_value obj, version = Array(e, 4);
        napi_create_object(e, &obj);
        for (uint32_t i = 0; i < 4; ++i) Put(e, version, i, Num(e, out->v[i]));
        Set(e, obj, "session", Num(e, out->session));
        Set(e, obj, "version", version);
        Set(e, obj, "fullSupport", Bool(e, out->full != 0));
        return obj;
      });
}

// close(session) -> result code (never rejects: the handle is gone anyway)
napi_value Close(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  uint32_t session = 0;
  if (!Args(env, info, 1, argv) || !GetUint(env, argv[0], &session, "session must be a number"))
    return nullptr;
  auto r = std::make_shared<QXSymResult>(symResOk);
  return Start(
      env, "QXSymCore_Close",
      [session, r](Work&) {
        *r = QXSymCore_Close(session);
        return symResOk;
      },
      [r](napi_env e) { return Num(e, *r); });
}

// listBegin(session, filter, details, connections) -> listing handle;
// details: type name, size and flags of every tag; connections: 1 to 8.
napi_value ListBegin(napi_env env, napi_callback_info info) {
  napi_value argv[4];
  uint32_t session = 0, connections = 0;
  bool details = false;
  std::string filter;
  if (!Args(env, info, 4, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetString(env, argv[1], &filter, "filter must be a string") ||
      napi_get_value_bool(env, argv[2], &details) != napi_ok)
    return nullptr;
  double connections_given = 0;
  if (!GetInt(env, argv[3], 1, QXSYMCORE_MAX_CONNECTIONS, &connections_given))
    return Throw(env, "connections must be an integer from 1 to 8"), nullptr;
  connections = static_cast<uint32_t>(connections_given);
  const uint32_t flags = details ? QXSYMCORE_LIST_DETAILS : 0;
  auto listing = std::make_shared<QXSymCoreHandle>(0);
  return Start(
      env, "QXSymCore_ListBegin",
      [session, filter, flags, connections, listing](Work&) {
        return QXSymCore_ListBegin(session, filter.c_str(), flags, connections, listing.get());
      },
      [listing](napi_env e) { return Num(e, *listing); });
}

struct Listed {
  std::string name, type;
  uint32_t size = 0, flags = 0;
};

napi_value TagToJs(napi_env e, const Listed& t, bool details) {
  napi_value o;
  napi_create_object(e, &o);
  Set(e, o, "name", Str(e, t.name));
  if (!details) return o;
  Set(e, o, "type", Str(e, t.type));
  Set(e, o, "size", Num(e, t.size));
  Set(e, o, "readOnly", Bool(e, (t.flags & QXSYMCORE_TAG_READ_ONLY) != 0));
  Set(e, o, "bitAddress", Bool(e, (t.flags & QXSYMCORE_TAG_BIT_ADDRESS) != 0));
  return o;
}

// listNext(listing, details) -> { tags: [{ name[, type, size, readOnly,
// bitAddress] }], done }
napi_value ListNext(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t listing = 0;
  bool details = false;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &listing, "listing must be a number"))
    return nullptr;
  napi_get_value_bool(env, argv[1], &details);
  struct Out {
    std::vector<Listed> tags;
    uint32_t done = 0;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env, "QXSymCore_ListNext",
      [listing, out](Work&) {
        const QXSymCoreTagInfo* tags = nullptr;
        uint32_t count = 0;
        const QXSymResult r = QXSymCore_ListNext(listing, &tags, &count, &out->done);
        for (uint32_t i = 0; r == symResOk && i < count; ++i) {
          out->tags.push_back({tags[i].name, tags[i].type_name, tags[i].size, tags[i].flags});
        }
        return r;
      },
      [out, details](napi_env e) {
        napi_value obj, tags = Array(e, out->tags.size());
        napi_create_object(e, &obj);
        for (size_t i = 0; i < out->tags.size(); ++i)
          Put(e, tags, i, TagToJs(e, out->tags[i], details));
        Set(e, obj, "tags", tags);
        Set(e, obj, "done", Bool(e, out->done != 0));
        return obj;
      });
}

// listEnd(listing) -> result code (never rejects)
napi_value ListEnd(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  uint32_t listing = 0;
  if (!Args(env, info, 1, argv) || !GetUint(env, argv[0], &listing, "listing must be a number"))
    return nullptr;
  auto r = std::make_shared<QXSymResult>(symResOk);
  return Start(
      env, "QXSymCore_ListEnd",
      [listing, r](Work&) {
        *r = QXSymCore_ListEnd(listing);
        return symResOk;
      },
      [r](napi_env e) { return Num(e, *r); });
}

constexpr size_t kMaxAttributes = 32;

// texts(session, path, attributeNames) -> { description, attributes }: the
// description and those of the named attributes the tag has (names it
// lacks are left out). Attributes cannot be listed, only asked for by name.
napi_value Texts(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  uint32_t session = 0;
  std::string path;
  std::vector<std::string> names;
  if (!Args(env, info, 3, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPath(env, argv[1], &path) ||
      !GetStrings(env, argv[2], &names, "attribute names must be texts without zeros"))
    return nullptr;
  if (names.size() > kMaxAttributes) return Throw(env, "up to 32 attribute names"), nullptr;
  struct Out {
    std::string description;
    std::vector<std::pair<std::string, std::string>> attributes;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env, "QXSymCore_Description",
      [session, path, names, out](Work& w) {
        const char* text = nullptr;
        QXSymResult r = QXSymCore_Description(session, path.c_str(), &text);
        if (r == symResOk) out->description = text;
        for (size_t i = 0; r == symResOk && i < names.size(); ++i) {
          const QXSymResult a = QXSymCore_Attribute(session, path.c_str(), names[i].c_str(), &text);
          if (a == symResOk) out->attributes.emplace_back(names[i], text);
          if (a != symResOk && a != symResAttributeNotFound) {
            w.call = "QXSymCore_Attribute";
            r = a;
          }
        }
        return r;
      },
      [out](napi_env e) {
        napi_value o, attributes;
        napi_create_object(e, &o);
        napi_create_object(e, &attributes);
        for (const auto& a : out->attributes) Set(e, attributes, a.first.c_str(), Str(e, a.second));
        Set(e, o, "description", Str(e, out->description));
        Set(e, o, "attributes", attributes);
        return o;
      });
}

// result(code[, elapsedMs, timeoutMs]) -> { name, message, advice }: the
// core's texts of a result code; with the times, the message of a failed open.
napi_value Result(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  size_t argc = 3;
  int32_t code = 0;
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc < 1 || napi_get_value_int32(env, argv[0], &code) != napi_ok)
    return Throw(env, "code must be a number"), nullptr;
  const char* message = QXSymCore_ResultMessage(code);
  if (argc >= 3) {
    uint32_t elapsed = 0, timeout = 0;
    if (!GetUint(env, argv[1], &elapsed, "elapsed must be a number") ||
        !GetUint(env, argv[2], &timeout, "timeout must be a number"))
      return nullptr;
    message = QXSymCore_OpenFailureMessage(code, elapsed, timeout);
  }
  napi_value o;
  napi_create_object(env, &o);
  Set(env, o, "name", Str(env, QXSymCore_ResultName(code)));
  Set(env, o, "message", Str(env, message));
  Set(env, o, "advice", Str(env, QXSymCore_ResultAdvice(code)));
  return o;
}

napi_value Init(napi_env env, napi_value exports) {
  const napi_property_descriptor props[] = {
      {"open", nullptr, Open, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"close", nullptr, Close, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"listBegin", nullptr, ListBegin, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"listNext", nullptr, ListNext, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"listEnd", nullptr, ListEnd, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"texts", nullptr, Texts, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"result", nullptr, Result, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
  };
  napi_define_properties(env, exports, sizeof(props) / sizeof(props[0]), props);
  InitValues(env, exports);
  InitTypes(env, exports);
  InitSubscriptions(env, exports);
  return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)
