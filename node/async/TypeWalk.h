// The type tree of a tag, with the byte offset of every member, as the
// promise API needs it to turn a tag's bytes into plain JavaScript values.
#ifndef QXSYM_NODE_ASYNC_TYPEWALK_H
#define QXSYM_NODE_ASYNC_TYPEWALK_H

#include <cstdint>
#include <string>
#include <vector>

#include "QXSymbols.h"

namespace qxsym::js {

// One type: a basic type or string, a structure or function block (children
// are its members, offset from the structure's start), or an array (one
// child, the element; dims are the element counts per dimension).
struct TypeNode {
  std::string name;
  std::string member;  // the member's name inside its parent
  uint32_t size = 0;
  uint32_t properties = 0;   // QXSymTypeProperty bits
  uint32_t offset = 0;       // from the start of the parent
  bool layout_known = true;  // false: member offsets could not be learned
  std::vector<uint32_t> dims;
  std::vector<TypeNode> children;
};

// Walks the type of tag, found under path in workspace, into *out. Member
// offsets come from the addresses of the member tags (path.member); where no
// instance can be named (inside array elements whose lower bound is neither
// 0 nor 1) they follow natural alignment, and layout_known is false when
// that does not fit the type's size. On failure *call names the C function
// that failed. Every handle made on the way is closed again.
QXSymResult WalkTagType(QXSymWorkspaceHandle workspace, QXSymTagHandle tag, const std::string& path,
                        TypeNode* out, const char** call);

// The node of a scalar of basic variable type `type` and data size `size`
// (a string's size counts its terminator), known without asking the source;
// false for user-defined types and pointers.
bool ScalarNode(QXSymTyVar type, uint32_t size, TypeNode* out);

}  // namespace qxsym::js

#endif
