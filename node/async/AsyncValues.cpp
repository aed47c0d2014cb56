// The async add-on's layouts and values: describe, read, write and parse
// over the client core, values nested and spread by ValueShape, and single
// leaves through the core's value rules.
#include <memory>

#include "AsyncWork.h"
#include "JsValues.h"
#include "ValueShape.h"

namespace qxsym::js {

QXSymResult ShapeOf(Work& w, uint32_t session, const std::string& path, ValueShape* out) {
  const QXSymCoreLayout* layout = nullptr;
  const char* message = nullptr;
  const QXSymResult r = QXSymCore_Describe(session, path.c_str(), &layout, &message);
  if (r != symResOk) {
    w.call = "QXSymCore_Describe";
    w.message = message != nullptr ? message : "";
    return r;
  }
  OwnedLayout owned;
  CopyLayout(*layout, &owned);
  ShapeError err;
  if (out->Build(std::move(owned), &err)) return symResOk;
  w.message = err.message;
  return static_cast<QXSymResult>(err.code);
}

namespace {

QXSymResult Refused(Work& w, const ShapeError& err) {
  w.message = err.message;
  return static_cast<QXSymResult>(err.code);
}

// describe(session, path) -> layout (JsValues.h)
napi_value Describe(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  std::string path;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPath(env, argv[1], &path))
    return nullptr;
  auto out = std::make_shared<ValueShape>();
  return Start(
      env, "QXSymCore_Describe",
      [session, path, out](Work& w) { return ShapeOf(w, session, path, out.get()); },
      [out](napi_env e) { return LayoutToJs(e, out->layout()); });
}

struct ReadOut {
  ValueShape shape;
  std::vector<OwnedValue> values;
};

// The values of a read item, each marked wide when its leaf is a 64-bit
// integer; false when the item does not carry all of them.
bool CopyValues(const QXSymCoreReadItem& item, ReadOut* out) {
  size_t at = 0;
  for (const OwnedLeaf& leaf : out->shape.layout().leaves) {
    const bool wide = IsWide(leaf.tyvar, leaf.element_size);
    for (uint32_t n = 0; n < leaf.count && at < item.value_count; ++n, ++at) {
      out->values.push_back(CopyValue(item.values[at], wide));
    }
  }
  return at == item.value_count && out->values.size() == out->shape.layout().value_count;
}

// read(session, paths) -> [value, ...], every path in one exchange; rejects
// with the first path's failure.
napi_value Read(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  std::vector<std::string> paths;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPaths(env, argv[1], &paths))
    return nullptr;
  auto out = std::make_shared<std::vector<ReadOut>>(paths.size());
  return Start(
      env, "QXSymCore_Read",
      [session, paths, out](Work& w) {
        std::vector<const char*> c_paths;
        for (const std::string& p : paths) c_paths.push_back(p.c_str());
        const QXSymCoreReadItem* items = nullptr;
        const QXSymResult r =
            QXSymCore_Read(session, c_paths.data(), static_cast<uint32_t>(c_paths.size()), &items);
        for (size_t i = 0; items != nullptr && i < paths.size(); ++i) {
          ReadOut& o = (*out)[i];
          ShapeError err;
          if (items[i].result != symResOk) {
            w.message = items[i].message;
            return static_cast<QXSymResult>(items[i].result);
          }
          OwnedLayout layout;
          CopyLayout(*items[i].layout, &layout);
          if (!o.shape.Build(std::move(layout), &err)) return Refused(w, err);
          if (!CopyValues(items[i], &o)) return symResInvalidTagSize;
        }
        return r;
      },
      [out](napi_env e) {
        napi_value values = Array(e, out->size());
        for (size_t i = 0; i < out->size(); ++i)
          Put(e, values, i, NestedToJs(e, (*out)[i].shape, (*out)[i].values));
        return values;
      });
}

struct WriteOrder {
  std::string path;
  Given value;
};

// The items of a write: [{ path, value }].
bool GetWriteOrders(napi_env env, napi_value v, std::vector<WriteOrder>* out) {
  bool is_array = false;
  uint32_t n = 0;
  if (napi_is_array(env, v, &is_array) != napi_ok || !is_array)
    return Throw(env, "items must be an array");
  napi_get_array_length(env, v, &n);
  out->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value item, path, value;
    napi_get_element(env, v, i, &item);
    if (napi_get_named_property(env, item, "path", &path) != napi_ok ||
        !GetPath(env, path, &(*out)[i].path) ||
        napi_get_named_property(env, item, "value", &value) != napi_ok ||
        !GivenFromJs(env, value, &(*out)[i].value))
      return false;
  }
  return true;
}

// Why a write failed: the failed item's reason; a refused value names its
// part first.
void WriteFailure(Work& w, const std::vector<WriteIn>& items, QXSymResult r,
                  const QXSymCoreWriteResult* results) {
  w.message = QXSymCore_ResultMessage(r);
  for (size_t i = 0; results != nullptr && i < items.size(); ++i) {
    if (results[i].result != r) continue;
    const std::string why = results[i].message;
    if (r != symResInvalidParameter) {
      w.message = why;
    } else {
      w.message = why.rfind('\'', 0) == 0 && why.find("': ") != std::string::npos
                      ? "value for " + why
                      : "value for '" + items[i].path + "': " + why;
    }
    return;
  }
}

QXSymResult WriteAll(Work& w, uint32_t session, std::vector<WriteOrder>& orders) {
  std::vector<WriteIn> items;
  for (WriteOrder& order : orders) {
    ValueShape shape;
    ShapeError err;
    const QXSymResult r = ShapeOf(w, session, order.path, &shape);
    if (r != symResOk) return r;
    if (!shape.Spread(&order.value, {}, &items, &err)) return Refused(w, err);
  }
  if (items.empty()) return symResOk;  // nothing given: nothing to write
  std::vector<std::vector<QXSymCoreValue>> values(items.size());
  std::vector<QXSymCoreWriteItem> c_items(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    for (const OwnedValue& v : items[i].values) values[i].push_back(ToCore(v));
    c_items[i] = {items[i].path.c_str(), values[i].data(), static_cast<uint32_t>(values[i].size())};
  }
  const QXSymCoreWriteResult* results = nullptr;
  w.call = "QXSymCore_Write";
  const QXSymResult r =
      QXSymCore_Write(session, c_items.data(), static_cast<uint32_t>(c_items.size()), &results);
  if (r != symResOk) WriteFailure(w, items, r, results);
  return r;
}

// write(session, [{ path, value }]) -> undefined: the values (maybe in
// part) in one exchange; nothing is written when one is refused.
napi_value Write(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  auto orders = std::make_shared<std::vector<WriteOrder>>();
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetWriteOrders(env, argv[1], orders.get()))
    return nullptr;
  return Start(env, "QXSymCore_Write",
               [session, orders](Work& w) { return WriteAll(w, session, *orders); });
}

struct ParseIn {
  Given text;  // for a single value: the text itself
  Given json;  // for the others: the text read as JSON (left out when it is not JSON)
};

// parse(session, path, text, json, encoding) -> the value a person typed,
// as the core reads and checks it (nothing is written).
napi_value Parse(napi_env env, napi_callback_info info) {
  napi_value argv[5];
  uint32_t session = 0, encoding = 0;
  std::string path;
  auto in = std::make_shared<ParseIn>();
  if (!Args(env, info, 5, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPath(env, argv[1], &path) ||
      !GetString(env, argv[2], &in->text.value.data, "the value must be given as text") ||
      !GivenFromJs(env, argv[3], &in->json) || !GetEncoding(env, argv[4], &encoding))
    return nullptr;
  in->text.kind = Given::Kind::kValue;
  in->text.value.kind = QXSymCoreText;
  auto chosen = std::make_shared<Given*>(nullptr);
  return Start(
      env, "QXSymCore_ParseLeafText",
      [session, path, encoding, in, chosen](Work& w) {
        ValueShape shape;
        ShapeError err;
        std::vector<WriteIn> items;
        const QXSymResult r = ShapeOf(w, session, path, &shape);
        if (r != symResOk) return r;
        *chosen = shape.IsSingle() ? &in->text : &in->json;
        if ((*chosen)->kind == Given::Kind::kNone) {
          w.message = "value for '" + path + "': " + shape.layout().type_name + " takes a JSON " +
                      (shape.root().kind == ValueShape::Node::Kind::kRecord ? "object" : "array");
          return symResInvalidParameter;
        }
        ValueShape::SpreadOptions options;
        options.typed = options.check = true;
        options.encoding = encoding;
        return shape.Spread(*chosen, options, &items, &err) ? symResOk : Refused(w, err);
      },
      [chosen](napi_env e) { return GivenToJs(e, **chosen); });
}

napi_value Outcome(napi_env env, QXSymResult r, const char* message) {
  napi_value o = Object(env);
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
      {"parse", nullptr, Parse, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"decodeLeaf", nullptr, DecodeLeaf, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
      {"encodeLeaf", nullptr, EncodeLeaf, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
  };
  napi_define_properties(env, exports, sizeof(props) / sizeof(props[0]), props);
}

}  // namespace qxsym::js
