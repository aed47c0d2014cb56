#include "TypeWalk.h"

#include <algorithm>
#include <map>

namespace qxsym::js {
namespace {

// Bounds that a reply from the network cannot push past.
constexpr int kMaxDepth = 16;
constexpr uint32_t kMaxChildren = 4096;
constexpr uint32_t kMaxDims = 3;
constexpr uint32_t kMaxNodes = 100000;  // per walk

class Walker {
 public:
  Walker(QXSymWorkspaceHandle ws, const char** call) : ws_(ws), call_(call) {}

  // path is empty when no instance of the type can be named; base is the
  // instance's address otherwise.
  QXSymResult Walk(QXSymTypeHandle type, const std::string& path, qxsym_addr_t base, int depth,
                   TypeNode* node) {
    if (depth > kMaxDepth || ++nodes_ > kMaxNodes)
      return Fail("QXSym_TypeGetChild", symResInvalidTagType);
    QXSymResult r = Basics(type, node);
    if (r != symResOk) return r;
    if (node->properties & QXSymTypeIsArray) return Array(type, path, depth, node);
    if (node->properties & (QXSymTypeIsStruct | QXSymTypeIsFunctionBlock)) {
      auto seen = structs_.find(node->name);
      if (seen != structs_.end()) {  // same layout as an earlier instance
        node->children = seen->second.children;
        node->layout_known = seen->second.layout_known;
        return symResOk;
      }
      r = Struct(type, path, base, depth, node);
      if (r == symResOk && node->layout_known) structs_[node->name] = *node;
      return r;
    }
    return symResOk;
  }

 private:
  QXSymResult Fail(const char* call, QXSymResult r) {
    *call_ = call;
    return r;
  }

  QXSymResult Basics(QXSymTypeHandle type, TypeNode* node) {
    char buffer[QXSYM_MAX_STRING + 1] = {};
    uint16_t length = QXSYM_MAX_STRING;
    QXSymResult r = QXSym_TypeGetName(type, buffer, &length);
    if (r != symResOk) return Fail("QXSym_TypeGetName", r);
    node->name = buffer;
    if ((r = QXSym_TypeGetSize(type, &node->size)) != symResOk) return Fail("QXSym_TypeGetSize", r);
    if ((r = QXSym_TypeGetProperties(type, &node->properties)) != symResOk)
      return Fail("QXSym_TypeGetProperties", r);
    return symResOk;
  }

  // A tag for path: its address, or false when the source does not know it.
  bool Address(const std::string& path, qxsym_addr_t* address) {
    QXSymTagHandle tag = 0;
    if (QXSym_GetGlobalTag(ws_, path.c_str(), &tag) != symResOk) return false;
    const bool ok = QXSym_GetTagAddress(tag, address) == symResOk;
    QXSym_CloseTag(tag);
    return ok;
  }

  QXSymResult Array(QXSymTypeHandle type, const std::string& path, int depth, TypeNode* node) {
    uint32_t n = 0;
    QXSymResult r = QXSym_TypeGetArrayNumDimensions(type, &n);
    if (r != symResOk) return Fail("QXSym_TypeGetArrayNumDimensions", r);
    if (n == 0 || n > kMaxDims)
      return Fail("QXSym_TypeGetArrayNumDimensions", symResInvalidTagType);
    node->dims.assign(n, 0);
    for (uint32_t i = 0; i < n; ++i) {
      if ((r = QXSym_TypeGetArrayDimension(type, i, &node->dims[i])) != symResOk)
        return Fail("QXSym_TypeGetArrayDimension", r);
    }
    QXSymTypeHandle element = 0;
    if ((r = QXSym_TypeGetChild(type, 0, &element)) != symResOk)
      return Fail("QXSym_TypeGetChild", r);
    // The first element names an instance when the lower bounds are 0 or 1.
    std::string element_path;
    qxsym_addr_t element_base = 0;
    for (int lower = 0; !path.empty() && lower <= 1 && element_path.empty(); ++lower) {
      std::string p = path + "[" + std::to_string(lower);
      for (uint32_t i = 1; i < n; ++i) p += "," + std::to_string(lower);
      p += "]";
      if (Address(p, &element_base)) element_path = p;
    }
    node->children.resize(1);
    r = Walk(element, element_path, element_base, depth + 1, &node->children[0]);
    QXSym_CloseType(element);
    if (r != symResOk) return r;
    // The elements must fit the array (counted without overflow).
    const TypeNode& e = node->children[0];
    uint64_t bytes = e.size;
    for (uint32_t d : node->dims) {
      bytes *= d;
      if (bytes > node->size) break;
    }
    node->layout_known = e.layout_known && e.size > 0 && bytes > 0 && bytes <= node->size;
    return symResOk;
  }

  static uint32_t Alignment(const TypeNode& node) {
    if (node.properties & QXSymTypeIsString) return 1;
    if (node.properties & QXSymTypeIsArray)
      return node.children.empty() ? 1 : Alignment(node.children[0]);
    if (node.properties & (QXSymTypeIsStruct | QXSymTypeIsFunctionBlock)) {
      uint32_t a = 1;
      for (const TypeNode& c : node.children) a = std::max(a, Alignment(c));
      return a;
    }
    return (node.size == 2 || node.size == 4 || node.size == 8) ? node.size : 1;
  }

  QXSymResult Struct(QXSymTypeHandle type, const std::string& path, qxsym_addr_t base, int depth,
                     TypeNode* node) {
    uint32_t n = 0;
    QXSymResult r = QXSym_TypeGetNumChildren(type, &n);
    if (r != symResOk) return Fail("QXSym_TypeGetNumChildren", r);
    if (n > kMaxChildren) return Fail("QXSym_TypeGetNumChildren", symResInvalidTagType);
    node->children.resize(n);
    bool all_placed = true;
    for (uint32_t i = 0; i < n; ++i) {
      TypeNode& child = node->children[i];
      char buffer[QXSYM_MAX_STRING + 1] = {};
      uint16_t length = QXSYM_MAX_STRING;
      if ((r = QXSym_TypeGetChildName(type, i, buffer, &length)) != symResOk)
        return Fail("QXSym_TypeGetChildName", r);
      child.member = buffer;
      std::string member_path;
      qxsym_addr_t address = 0;
      if (!path.empty() && Address(path + "." + child.member, &address) && address >= base &&
          address - base < node->size) {
        member_path = path + "." + child.member;
        child.offset = static_cast<uint32_t>(address - base);
      } else {
        all_placed = false;
      }
      QXSymTypeHandle child_type = 0;
      if ((r = QXSym_TypeGetChild(type, i, &child_type)) != symResOk)
        return Fail("QXSym_TypeGetChild", r);
      const std::string member = child.member;
      const uint32_t offset = child.offset;
      r = Walk(child_type, member_path, address, depth + 1, &child);
      child.member = member;
      child.offset = offset;
      QXSym_CloseType(child_type);
      if (r != symResOk) return r;
    }
    if (!all_placed) {  // natural alignment, as the controller lays members out
      uint32_t at = 0;
      for (TypeNode& c : node->children) {
        const uint32_t a = Alignment(c);
        at = (at + a - 1) / a * a;
        c.offset = at;
        at += c.size;
      }
    }
    for (const TypeNode& c : node->children) {
      if (!c.layout_known || uint64_t{c.offset} + c.size > node->size) node->layout_known = false;
    }
    return symResOk;
  }

  QXSymWorkspaceHandle ws_;
  const char** call_;
  uint32_t nodes_ = 0;
  std::map<std::string, TypeNode> structs_;
};

}  // namespace

bool ScalarNode(QXSymTyVar type, uint32_t size, TypeNode* out) {
  constexpr uint32_t kInt = QXSymTypeIsBasic | QXSymTypeIsNumeric | QXSymTypeIsInteger;
  constexpr uint32_t kBits = QXSymTypeIsBasic | QXSymTypeIsInteger;
  constexpr uint32_t kReal = QXSymTypeIsBasic | QXSymTypeIsNumeric | QXSymTypeIsSigned;
  struct Row {
    QXSymTyVar type;
    const char* name;
    uint32_t size, properties;
  };
  static const Row kRows[] = {
      {QXSymTyVarBool, "BOOL", 1, QXSymTypeIsBasic},
      {QXSymTyVarSInt, "SINT", 1, kInt | QXSymTypeIsSigned},
      {QXSymTyVarUSInt, "USINT", 1, kInt},
      {QXSymTyVarByte, "BYTE", 1, kBits},
      {QXSymTyVarInt, "INT", 2, kInt | QXSymTypeIsSigned},
      {QXSymTyVarUInt, "UINT", 2, kInt},
      {QXSymTyVarWord, "WORD", 2, kBits},
      {QXSymTyVarDInt, "DINT", 4, kInt | QXSymTypeIsSigned},
      {QXSymTyVarUDInt, "UDINT", 4, kInt},
      {QXSymTyVarDWord, "DWORD", 4, kBits},
      {QXSymTyVarLInt, "LINT", 8, kInt | QXSymTypeIsSigned},
      {QXSymTyVarULInt, "ULINT", 8, kInt},
      {QXSymTyVarLWord, "LWORD", 8, kBits},
      {QXSymTyVarReal, "REAL", 4, kReal},
      {QXSymTyVarLReal, "LREAL", 8, kReal},
  };
  if (type == QXSymTyVarString) {
    if (size == 0) return false;
    out->name = "STRING[" + std::to_string(size - 1) + "]";
    out->size = size;
    out->properties = QXSymTypeIsBasic | QXSymTypeIsString;
    return true;
  }
  for (const Row& row : kRows) {
    if (row.type != type) continue;
    if (row.size != size) return false;  // not what the name says: ask the source
    out->name = row.name;
    out->size = size;
    out->properties = row.properties;
    return true;
  }
  return false;
}

QXSymResult WalkTagType(QXSymWorkspaceHandle workspace, QXSymTagHandle tag, const std::string& path,
                        TypeNode* out, const char** call) {
  qxsym_addr_t base = 0;
  const bool placed = QXSym_GetTagAddress(tag, &base) == symResOk;
  QXSymTypeHandle type = 0;
  QXSymResult r = QXSym_GetTagType(tag, &type);
  if (r != symResOk) {
    *call = "QXSym_GetTagType";
    return r;
  }
  Walker walker(workspace, call);
  r = walker.Walk(type, placed ? path : std::string(), base, 0, out);
  QXSym_CloseType(type);
  return r;
}

}  // namespace qxsym::js
