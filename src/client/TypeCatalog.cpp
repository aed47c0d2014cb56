#include "TypeCatalog.h"

#include <cctype>
#include <cstdlib>

#include "LeafCodec.h"
#include "Session.h"

namespace qxsym::client {
namespace {

// A type handle released on every path; closing one is local to the library.
struct TypeRef {
  QXSymTypeHandle handle = 0;
  ~TypeRef() {
    if (handle != 0) QXSym_CloseType(handle);
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// True when the type name alone says the tag is of a basic type: the
// basic type's own name ("DINT"), or a STRING of any length.
bool NamesBasicType(const std::string& name, std::uint32_t tyvar) {
  if (tyvar == QXSymTyVarNull || tyvar == QXSymTyVarUserDef) return false;
  const std::string upper = Upper(name);
  if (tyvar == QXSymTyVarString) {
    return upper == "STRING" || (upper.rfind("STRING[", 0) == 0 && upper.back() == ']') ||
           (upper.rfind("STRING(", 0) == 0 && upper.back() == ')');
  }
  return upper == TyVarName(tyvar);
}

// Steps out from index 0 when looking for an array's bounds: finds lower
// bounds up to 16 times the dimension's count away from 0.
constexpr int kProbeSteps = 16;

bool Fail(WalkError* err, QXSymResult code, std::string message) {
  err->code = code;
  err->message = std::move(message);
  return false;
}

}  // namespace

// One walk: the session, the catalog and the error of this call.
struct TypeCatalog::Walk {
  Session& s;
  TypeCatalog& catalog;
  WalkError* err;

  bool Check(QXSymResult r, const std::string& what) { return r == symResOk || Fail(err, r, what); }

  // The type at path; its handle, when needed, comes from the tag or from
  // child number `index` of `parent`.
  const TypeNode* At(const std::string& path, QXSymTypeHandle parent, std::uint32_t index,
                     unsigned depth) {
    std::string name;
    TagFacts facts;
    if (!Check(s.Tag(path, &facts), "cannot find '" + path + "'") ||
        !Check(s.TypeName(path, &name), "cannot read the type of '" + path + "'")) {
      return nullptr;
    }
    auto found = catalog.by_name_.find(name);
    if (found != catalog.by_name_.end()) return found->second.get();
    if (depth > catalog.limits_.max_depth) {
      Fail(err, symResMaxReached,
           "'" + path + "' is nested more than " + std::to_string(catalog.limits_.max_depth) +
               " levels deep");
      return nullptr;
    }
    if (catalog.by_name_.size() >= catalog.limits_.max_nodes) {
      Fail(err, symResMaxReached,
           "more than " + std::to_string(catalog.limits_.max_nodes) + " types in one session");
      return nullptr;
    }
    auto node = std::make_unique<TypeNode>();
    node->name = name;
    if (NamesBasicType(name, facts.tyvar)) {
      node->tyvar = facts.tyvar;
      node->size = facts.data_size;
    } else if (!Complex(path, facts, parent, index, depth, node.get())) {
      return nullptr;
    }
    const TypeNode* made = node.get();
    catalog.by_name_[name] = std::move(node);
    return made;
  }

  bool Complex(const std::string& path, const TagFacts& facts, QXSymTypeHandle parent,
               std::uint32_t index, unsigned depth, TypeNode* node) {
    TypeRef type;
    const QXSymResult got = parent != 0 ? s.Sent(QXSym_TypeGetChild(parent, index, &type.handle))
                                        : s.Sent(QXSym_GetTagType(facts.handle, &type.handle));
    std::uint32_t properties = 0;
    const std::string what = "cannot read the type of '" + path + "'";
    if (!Check(got, what) ||
        !Check(s.Sent(QXSym_TypeGetProperties(type.handle, &properties)), what)) {
      return false;
    }
    node->properties = properties;
    if (properties & QXSymTypeIsArray) {
      node->kind = TypeNode::Kind::kArray;
      return Array(path, facts, type.handle, depth, node);
    }
    if (properties & (QXSymTypeIsStruct | QXSymTypeIsFunctionBlock)) {
      node->kind = TypeNode::Kind::kRecord;
      return Record(path, facts, type.handle, depth, node);
    }
    if (facts.tyvar == QXSymTyVarNull) {
      return Fail(err, symResInvalidTagType, "'" + path + "' has no basic type to show");
    }
    node->tyvar = facts.tyvar;
    node->size = facts.data_size;
    return true;
  }

  bool Dims(const std::string& path, QXSymTypeHandle type, TypeNode* node) {
    std::uint32_t n = 0;
    const std::string what = "cannot read the dimensions of '" + path + "'";
    if (!Check(s.Sent(QXSym_TypeGetArrayNumDimensions(type, &n)), what)) return false;
    if (n == 0 || n > kMaxDims) {
      return Fail(err, symResInvalidTagType,
                  "'" + path + "' reports " + std::to_string(n) + " array dimensions");
    }
    node->dims.assign(n, 0);
    if (!Check(s.Sent(QXSym_TypeGetArrayDimensions(type, node->dims.data(),
                                                   static_cast<std::uint8_t>(n))),
               what)) {
      return false;
    }
    node->count = 1;
    for (std::uint32_t d : node->dims) {
      node->count *= d;
      if (d == 0 || node->count > UINT32_MAX) {
        return Fail(err, symResInvalidTagType, "'" + path + "' reports impossible dimensions");
      }
    }
    return true;
  }

  bool Array(const std::string& path, const TagFacts& facts, QXSymTypeHandle type, unsigned depth,
             TypeNode* node) {
    if (!Dims(path, type, node)) return false;
    node->size = facts.full_size;
    if (facts.full_size % node->count != 0) {
      return Fail(err, symResInvalidTagSize,
                  "'" + path + "' is " + std::to_string(facts.full_size) + " bytes for " +
                      std::to_string(node->count) + " elements");
    }
    node->stride = static_cast<std::uint32_t>(facts.full_size / node->count);
    if (!BoundsFromName(node->name, node->dims.size(), &node->lower) &&
        !ProbeLowerBounds(path, node)) {
      return false;
    }
    node->element = At(path + ElementLabel(0, node->dims, node->lower), type, 0, depth + 1);
    if (node->element == nullptr) return false;
    if (node->element->size > node->stride) {
      return Fail(err, symResInvalidTagSize, "the elements of '" + path + "' overlap");
    }
    return true;
  }

  // The name does not spell the bounds: look elements up until one exists
  // and learn the bounds from where it lies. After the usual 0 and 1, the
  // indices go out in steps of each dimension's count: a range of n indices
  // always holds one multiple of n.
  bool ProbeLowerBounds(const std::string& path, TypeNode* node) {
    std::uint64_t base = 0;
    if (!Check(s.Address(path, &base), "cannot find where '" + path + "' lies")) return false;
    const std::size_t n = node->dims.size();
    for (int probe = 0; probe < 2 + 2 * kProbeSteps; ++probe) {
      std::vector<std::int64_t> index(n, probe < 2 ? probe : 0);
      const std::int64_t step = probe < 2 ? 0 : (probe / 2) * (probe % 2 == 0 ? 1 : -1);
      for (std::size_t d = 0; d < n && probe >= 2; ++d) index[d] = step * node->dims[d];
      const std::string at_path = path + IndexLabel(index);
      std::uint64_t at = 0;
      const QXSymResult r = s.Address(at_path, &at);
      if (r == symResInvalidArrayIndex || r == symResSymbolNotFound) continue;
      if (!Check(r, "cannot find where '" + at_path + "' lies")) return false;
      if (at < base || (at - base) % node->stride != 0) break;
      std::uint64_t linear = (at - base) / node->stride;
      node->lower.assign(n, 0);
      for (std::size_t d = n; d-- > 0;) {
        node->lower[d] = index[d] - static_cast<std::int64_t>(linear % node->dims[d]);
        linear /= node->dims[d];
      }
      return true;
    }
    return Fail(err, symResInvalidArrayIndex,
                "cannot find the index bounds of array '" + path + "'");
  }

  bool Record(const std::string& path, const TagFacts& facts, QXSymTypeHandle type, unsigned depth,
              TypeNode* node) {
    std::uint32_t n = 0;
    if (!Check(s.Sent(QXSym_TypeGetNumChildren(type, &n)),
               "cannot read the members of '" + path + "'")) {
      return false;
    }
    if (n > catalog.limits_.max_children) {
      return Fail(err, symResMaxReached,
                  "'" + path + "' claims " + std::to_string(n) + " members, more than " +
                      std::to_string(catalog.limits_.max_children));
    }
    node->size = facts.full_size;
    std::uint64_t base = 0;
    if (!Check(s.Address(path, &base), "cannot find where '" + path + "' lies")) return false;
    node->members.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!Member(path, type, i, base, depth, node)) return false;
    }
    return true;
  }

  bool Member(const std::string& path, QXSymTypeHandle type, std::uint32_t i, std::uint64_t base,
              unsigned depth, TypeNode* node) {
    char name[QXSYM_MAX_STRING] = {};
    std::uint16_t length = sizeof name;
    if (!Check(s.Sent(QXSym_TypeGetChildName(type, i, name, &length)),
               "cannot read the members of '" + path + "'")) {
      return false;
    }
    TypeNode::Member m;
    m.name = TextToUtf8(name, s.encoding());
    const std::string member_path = path + "." + m.name;
    m.type = At(member_path, type, i, depth + 1);
    std::uint64_t at = 0;
    if (m.type == nullptr ||
        !Check(s.Address(member_path, &at), "cannot find where '" + member_path + "' lies")) {
      return false;
    }
    if (at < base || at - base + m.type->size > node->size) {
      return Fail(err, symResInvalidTagSize, "'" + member_path + "' lies outside '" + path + "'");
    }
    m.offset = static_cast<std::uint32_t>(at - base);
    node->members.push_back(std::move(m));
    return true;
  }
};

const TypeNode* TypeCatalog::Learn(Session& session, const std::string& path, WalkError* err) {
  Walk walk{session, *this, err};
  return walk.At(path, 0, 0, 0);
}

bool BoundsFromName(const std::string& name, std::size_t dims, std::vector<std::int64_t>* lower) {
  const std::string upper = Upper(name);
  std::size_t open = upper.find("ARRAY");
  if (open != 0) return false;
  open = upper.find('[', open);
  if (open == std::string::npos) return false;
  const std::size_t close = upper.find(']', open);
  if (close == std::string::npos) return false;
  std::vector<std::int64_t> out;
  std::size_t pos = open + 1;
  while (pos < close) {
    std::size_t comma = upper.find(',', pos);
    if (comma == std::string::npos || comma > close) comma = close;
    const std::string part = upper.substr(pos, comma - pos);
    const char* begin = part.c_str();
    char* end = nullptr;
    const long long l = std::strtoll(begin, &end, 10);
    while (end != nullptr && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end == begin || end == nullptr || end[0] != '.' || end[1] != '.') return false;
    out.push_back(l);
    pos = comma + 1;
  }
  if (out.size() != dims) return false;
  *lower = std::move(out);
  return true;
}

std::string IndexLabel(const std::vector<std::int64_t>& index) {
  std::string out = "[";
  for (std::size_t d = 0; d < index.size(); ++d) {
    if (d != 0) out += ",";
    out += std::to_string(index[d]);
  }
  return out + "]";
}

std::string ElementLabel(std::uint64_t k, const std::vector<std::uint32_t>& dims,
                         const std::vector<std::int64_t>& lower) {
  std::vector<std::int64_t> index(dims.size());
  for (std::size_t d = dims.size(); d-- > 0;) {
    index[d] = lower[d] + static_cast<std::int64_t>(k % dims[d]);
    k /= dims[d];
  }
  return IndexLabel(index);
}

}  // namespace qxsym::client
