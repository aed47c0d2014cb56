// type(session, path): a plain description of the type of a tag, member or
// element, from its layout and those of its members, all described in one
// piece of work on the thread pool.
#include <memory>

#include "AsyncWork.h"
#include "JsValues.h"
#include "ValueShape.h"

namespace qxsym::js {
namespace {

using Node = ValueShape::Node;

// Deeper than any layout the core lays out.
constexpr int kMaxDepth = 64;

struct TypeOut {
  std::string name;
  const char* kind = "unknown";
  uint32_t size = 0;
  std::vector<uint32_t> dims;  // arrays
  std::vector<int64_t> lower;
  std::unique_ptr<TypeOut> element;
  bool record = false;  // structures and function blocks
  struct Member;
  std::vector<Member> members;
};

struct TypeOut::Member {
  std::string name;
  uint32_t offset = 0;
  TypeOut type;
};

const char* KindName(uint32_t tyvar) {
  switch (QXSymCore_KindOf(tyvar)) {
    case QXSymCoreBool:
      return "bool";
    case QXSymCoreSigned:
      return "int";
    case QXSymCoreUnsigned:
      return "uint";
    case QXSymCoreFloat:
      return "real";
    case QXSymCoreText:
      return "string";
    default:
      return "unknown";
  }
}

// The element type's name in an array type's name: "ARRAY[1..8] OF REAL"
// gives "REAL"; "" when the name does not say.
std::string ElementName(const std::string& type_name) {
  const size_t close = type_name.find(']');
  if (close == std::string::npos) return "";
  size_t at = type_name.find_first_not_of(' ', close + 1);
  if (at == std::string::npos || type_name.size() < at + 3) return "";
  const std::string of = type_name.substr(at, 2);
  if ((of != "OF" && of != "of" && of != "Of") || type_name[at + 2] != ' ') return "";
  at = type_name.find_first_not_of(' ', at + 2);
  return at == std::string::npos ? "" : type_name.substr(at);
}

uint32_t FirstOffset(const ValueShape& shape, const Node* n) {
  while (n->kind != Node::Kind::kLeaf) {
    if (n->children.empty()) return 0;
    n = &n->children.front();
  }
  return shape.Leaf(*n).offset;
}

QXSymResult DescribeType(Work& w, uint32_t session, const std::string& path, int depth,
                         TypeOut* out) {
  if (depth > kMaxDepth) {
    w.message = "'" + path + "' is nested too deeply";
    return symResMaxReached;
  }
  ValueShape shape;
  const QXSymResult r = ShapeOf(w, session, path, &shape);
  if (r != symResOk) return r;
  const OwnedLayout& layout = shape.layout();
  const Node& root = shape.root();
  out->name = layout.type_name;
  out->size = layout.size;
  if (root.kind == Node::Kind::kLeaf) {
    const OwnedLeaf& leaf = shape.Leaf(root);
    out->kind = KindName(leaf.tyvar);
    if (leaf.dims.empty()) return symResOk;
    out->dims = leaf.dims;
    out->lower = leaf.lower;
    out->element = std::make_unique<TypeOut>();
    out->element->name = ElementName(layout.type_name);
    out->element->kind = out->kind;
    out->element->size = leaf.element_size;
    out->kind = "array";
    return symResOk;
  }
  if (root.kind == Node::Kind::kArray) {
    out->kind = "array";
    out->dims = layout.dims;
    out->lower = layout.lower;
    std::string first = path + "[";
    for (size_t d = 0; d < layout.lower.size(); ++d)
      first += (d ? "," : "") + std::to_string(layout.lower[d]);
    out->element = std::make_unique<TypeOut>();
    return DescribeType(w, session, first + "]", depth + 1, out->element.get());
  }
  out->kind = (layout.type_properties & QXSymTypeIsFunctionBlock) ? "functionBlock" : "struct";
  out->record = true;
  out->members.resize(root.children.size());
  for (size_t i = 0; i < root.children.size(); ++i) {
    TypeOut::Member& m = out->members[i];
    m.name = root.children[i].name;
    m.offset = FirstOffset(shape, &root.children[i]);
    const QXSymResult mr = DescribeType(w, session, path + "." + m.name, depth + 1, &m.type);
    if (mr != symResOk) return mr;
  }
  return symResOk;
}

// { name, kind, size[, dims, lower, element][, members: [{ name, offset, type }]] }
napi_value TypeToJs(napi_env env, const TypeOut& t) {
  napi_value o = Object(env);
  Set(env, o, "name", Str(env, t.name));
  Set(env, o, "kind", Str(env, t.kind));
  Set(env, o, "size", Num(env, t.size));
  if (t.element) {
    napi_value dims = Array(env, t.dims.size()), lower = Array(env, t.lower.size());
    for (size_t d = 0; d < t.dims.size() && d < t.lower.size(); ++d) {
      Put(env, dims, d, Num(env, t.dims[d]));
      Put(env, lower, d, Num(env, static_cast<double>(t.lower[d])));
    }
    Set(env, o, "dims", dims);
    Set(env, o, "lower", lower);
    Set(env, o, "element", TypeToJs(env, *t.element));
  }
  if (t.record) {
    napi_value members = Array(env, t.members.size());
    for (size_t i = 0; i < t.members.size(); ++i) {
      napi_value m = Object(env);
      Set(env, m, "name", Str(env, t.members[i].name));
      Set(env, m, "offset", Num(env, t.members[i].offset));
      Set(env, m, "type", TypeToJs(env, t.members[i].type));
      Put(env, members, i, m);
    }
    Set(env, o, "members", members);
  }
  return o;
}

napi_value Type(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint32_t session = 0;
  std::string path;
  if (!Args(env, info, 2, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPath(env, argv[1], &path))
    return nullptr;
  auto out = std::make_shared<TypeOut>();
  return Start(
      env, "QXSymCore_Describe",
      [session, path, out](Work& w) { return DescribeType(w, session, path, 0, out.get()); },
      [out](napi_env e) { return TypeToJs(e, *out); });
}

}  // namespace

void InitTypes(napi_env env, napi_value exports) {
  const napi_property_descriptor props[] = {
      {"type", nullptr, Type, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
  };
  napi_define_properties(env, exports, 1, props);
}

}  // namespace qxsym::js
