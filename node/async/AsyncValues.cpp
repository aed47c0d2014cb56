// The async add-on's layouts and values: describe, read and write over the
// client core, and single leaves through the core's value rules.
#include <memory>

#include "AsyncWork.h"

namespace qxsym::js {
namespace {

struct ReadOut {
  int32_t result = symResOk;
  std::string message;
  bool described = false;
  OwnedLayout layout;
  std::vector<OwnedValue> values;
};

// The values of a read item, each marked wide when its leaf is a 64-bit
// integer.
void CopyValues(const QXSymCoreReadItem& item, ReadOut* out) {
  size_t at = 0;
  for (uint32_t k = 0; item.layout != nullptr && k < item.layout->leaf_count; ++k) {
    const QXSymCoreLeaf& leaf = item.layout->leaves[k];
    const uint32_t kind = QXSymCore_KindOf(leaf.tyvar);
    const bool wide =
        leaf.element_size == 8 && (kind == QXSymCoreSigned || kind == QXSymCoreUnsigned);
    for (uint32_t n = 0; n < leaf.count && at < item.value_count; ++n, ++at) {
      out->values.push_back(CopyValue(item.values[at], wide));
    }
  }
}

napi_value ReadOutToJs(napi_env e, const ReadOut& r) {
  napi_value o, values = Array(e, r.values.size()), layout;
  napi_create_object(e, &o);
  Set(e, o, "result", Num(e, r.result));
  Set(e, o, "message", Str(e, r.message));
  if (r.described) {
    layout = LayoutToJs(e, r.layout);
  } else {
    napi_get_null(e, &layout);
  }
  Set(e, o, "layout", layout);
  for (size_t i = 0; i < r.values.size(); ++i) Put(e, values, i, ValueToJs(e, r.values[i]));
  Set(e, o, "values", values);
  return o;
}

// describe(session, path) -> layout { path, typeName, size, leaves: [...] }
napi_value Describe(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  std::string path;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetString(env, argv[1], &path, "path must be a string"))
    return nullptr;
  auto out = std::make_shared<OwnedLayout>();
  return Start(
      env, "QXSymCore_Describe",
      [session, path, out](Work& w) {
        const QXSymCoreLayout* layout = nullptr;
        const char* message = nullptr;
        const QXSymResult r = QXSymCore_Describe(session, path.c_str(), &layout, &message);
        if (message != nullptr) w.message = message;
        if (r == symResOk) CopyLayout(*layout, out.get());
        return r;
      },
      [out](napi_env e) { return LayoutToJs(e, *out); });
}

// read(session, paths) -> [{ result, message, layout | null, values }], one
// item per path, in one exchange; an item's failure does not reject.
napi_value Read(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  std::vector<std::string> paths;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetStrings(env, argv[1], &paths, "paths must be an array of strings"))
    return nullptr;
  auto out = std::make_shared<std::vector<ReadOut>>();
  return Start(
      env, "QXSymCore_Read",
      [session, paths, out](Work&) {
        std::vector<const char*> c_paths;
        for (const std::string& p : paths) c_paths.push_back(p.c_str());
        const QXSymCoreReadItem* items = nullptr;
        const QXSymResult r =
            QXSymCore_Read(session, c_paths.data(), static_cast<uint32_t>(c_paths.size()), &items);
        if (items == nullptr) return r;
        out->resize(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) {
          ReadOut& o = (*out)[i];
          o.result = items[i].result;
          o.message = items[i].message;
          o.described = items[i].layout != nullptr;
          if (o.described) CopyLayout(*items[i].layout, &o.layout);
          CopyValues(items[i], &o);
        }
        return symResOk;
      },
      [out](napi_env e) {
        napi_value items = Array(e, out->size());
        for (size_t i = 0; i < out->size(); ++i) Put(e, items, i, ReadOutToJs(e, (*out)[i]));
        return items;
      });
}

struct WriteIn {
  std::string path;
  std::vector<OwnedValue> values;
};

// The items of a write: [{ path, values: [...] }].
bool GetWriteItems(napi_env env, napi_value v, std::vector<WriteIn>* out) {
  bool is_array = false;
  uint32_t n = 0;
  if (napi_is_array(env, v, &is_array) != napi_ok || !is_array)
    return Throw(env, "items must be an array");
  napi_get_array_length(env, v, &n);
  out->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value item, path, values;
    napi_get_element(env, v, i, &item);
    uint32_t count = 0;
    if (napi_get_named_property(env, item, "path", &path) != napi_ok ||
        !GetString(env, path, &(*out)[i].path, "an item's path must be a string") ||
        napi_get_named_property(env, item, "values", &values) != napi_ok ||
        napi_is_array(env, values, &is_array) != napi_ok || !is_array)
      return Throw(env, "an item needs a path and an array of values");
    napi_get_array_length(env, values, &count);
    (*out)[i].values.resize(count);
    for (uint32_t k = 0; k < count; ++k) {
      napi_value e;
      napi_get_element(env, values, k, &e);
      if (!ValueFromJs(env, e, &(*out)[i].values[k])) return Throw(env, "a value cannot be read");
    }
  }
  return true;
}

// write(session, items) -> { result, results: [{ result, message }] }: every
// item in one exchange, nothing written when one value is refused.
napi_value Write(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  auto items = std::make_shared<std::vector<WriteIn>>();
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetWriteItems(env, argv[1], items.get()))
    return nullptr;
  struct Out {
    int32_t result = symResOk;
    std::vector<std::pair<int32_t, std::string>> results;
  };
  auto out = std::make_shared<Out>();
  return Start(
      env, "QXSymCore_Write",
      [session, items, out](Work&) {
        std::vector<std::vector<QXSymCoreValue>> values(items->size());
        std::vector<QXSymCoreWriteItem> c_items(items->size());
        for (size_t i = 0; i < items->size(); ++i) {
          for (const OwnedValue& v : (*items)[i].values) values[i].push_back(ToCore(v));
          c_items[i] = {(*items)[i].path.c_str(), values[i].data(),
                        static_cast<uint32_t>(values[i].size())};
        }
        const QXSymCoreWriteResult* results = nullptr;
        out->result = QXSymCore_Write(session, c_items.data(),
                                      static_cast<uint32_t>(c_items.size()), &results);
        if (results == nullptr) return static_cast<QXSymResult>(out->result);
        for (size_t i = 0; i < c_items.size(); ++i)
          out->results.emplace_back(results[i].result, results[i].message);
        return symResOk;
      },
      [out](napi_env e) {
        napi_value o, results = Array(e, out->results.size());
        napi_create_object(e, &o);
        for (size_t i = 0; i < out->results.size(); ++i) {
          napi_value r;
          napi_create_object(e, &r);
          Set(e, r, "result", Num(e, out->results[i].first));
          Set(e, r, "message", Str(e, out->results[i].second));
          Put(e, results, i, r);
        }
        Set(e, o, "result", Num(e, out->result));
        Set(e, o, "results", results);
        return o;
      });
}

napi_value Outcome(napi_env env, QXSymResult r, const char* message) {
  napi_value o;
  napi_create_object(env, &o);
  Set(env, o, "result", Num(env, r));
  Set(env, o, "message", Str(env, message != nullptr ? message : ""));
  return o;
}

// decodeLeaf(tyvar, buffer, encoding) -> { result, message, value }
napi_value DecodeLeaf(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  uint32_t tyvar = 0, encoding = 0;
  OwnedValue bytes;
  if (!Args(env, info, 3, argv) || !GetUint(env, argv[0], &tyvar, "tyvar must be a number") ||
      !ValueFromJs(env, argv[1], &bytes) || bytes.kind != QXSymCoreBytes ||
      !GetUint(env, argv[2], &encoding, "encoding must be a number"))
    return Throw(env, "decodeLeaf(tyvar, buffer, encoding)"), nullptr;
  QXSymCoreValue value{};
  const char* message = nullptr;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data.data());
  const QXSymResult r = QXSymCore_DecodeLeaf(tyvar, data, static_cast<uint32_t>(bytes.data.size()),
                                             encoding, &value, &message);
  napi_value o = Outcome(env, r, message);
  if (r == symResOk) Set(env, o, "value", ValueToJs(env, CopyValue(value, bytes.data.size() == 8)));
  return o;
}

// encodeLeaf(tyvar, value, size, encoding) -> { result, message, bytes }
napi_value EncodeLeaf(napi_env env, napi_callback_info info) {
  napi_value argv[4];
  uint32_t tyvar = 0, size = 0, encoding = 0;
  OwnedValue value;
  if (!Args(env, info, 4, argv) || !GetUint(env, argv[0], &tyvar, "tyvar must be a number") ||
      !ValueFromJs(env, argv[1], &value) ||
      !GetUint(env, argv[2], &size, "size must be a number") ||
      !GetUint(env, argv[3], &encoding, "encoding must be a number"))
    return nullptr;
  if (size > (1u << 16)) return Throw(env, "size beyond a leaf"), nullptr;
  std::vector<uint8_t> bytes(size);
  const char* message = nullptr;
  const QXSymCoreValue c = ToCore(value);
  const QXSymResult r = QXSymCore_EncodeLeaf(tyvar, &c, size, encoding, bytes.data(), &message);
  napi_value o = Outcome(env, r, message);
  if (r == symResOk) {
    OwnedValue out;
    out.kind = QXSymCoreBytes;
    out.data.assign(bytes.begin(), bytes.end());
    Set(env, o, "bytes", ValueToJs(env, out));
  }
  return o;
}

}  // namespace

void InitValues(napi_env env, napi_value exports) {
  const napi_property_descriptor props[] = {
      {"describe", nullptr, Describe, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"read", nullptr, Read, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"write", nullptr, Write, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"decodeLeaf", nullptr, DecodeLeaf, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"encodeLeaf", nullptr, EncodeLeaf, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
  };
  napi_define_properties(env, exports, sizeof(props) / sizeof(props[0]), props);
}

}  // namespace qxsym::js
