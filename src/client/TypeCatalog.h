// The types of a session's tags, each walked once and kept by type name:
// a basic type with its variable type, an array with its dimensions,
// declared lower bounds, element type and element stride, or a structure
// with its members' names, types and byte offsets.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qxsym::client {

class Session;

// Bounds of the walk, checked before anything is iterated: a source that
// claims four billion members is refused at once.
struct WalkLimits {
  unsigned max_depth = 32;
  std::uint32_t max_children = 65536;  // members of one structure
  std::size_t max_nodes = 100000;      // types learned per session
  std::size_t max_leaves = 65536;      // leaves of one layout
};

constexpr std::size_t kMaxDims = 8;

struct TypeNode {
  enum class Kind { kBasic, kArray, kRecord };
  struct Member {
    std::string name;
    std::uint32_t offset = 0;
    const TypeNode* type = nullptr;
  };

  std::string name;
  Kind kind = Kind::kBasic;
  std::uint32_t size = 0;
  std::uint32_t properties = 0;  // the source's QXSymTypeIs* flags
  std::uint32_t tyvar = 0;       // kBasic
  // kArray: element counts and declared lower bounds per dimension.
  std::vector<std::uint32_t> dims;
  std::vector<std::int64_t> lower;
  const TypeNode* element = nullptr;
  std::uint32_t stride = 0;
  std::uint64_t count = 0;  // elements in all
  // kRecord, in declaration order.
  std::vector<Member> members;
};

// Why a walk failed: the result and a sentence naming the path.
struct WalkError {
  QXSymResult code = symResOk;
  std::string message;
};

class TypeCatalog {
 public:
  explicit TypeCatalog(WalkLimits limits = WalkLimits()) : limits_(limits) {}

  const WalkLimits& limits() const { return limits_; }
  void set_limits(const WalkLimits& limits) { limits_ = limits; }

  // The type of the tag (or member or element) at path. Asks the source
  // only for what no earlier walk of the session has learned.
  const TypeNode* Learn(Session& session, const std::string& path, WalkError* err);

  std::size_t size() const { return by_name_.size(); }
  const std::map<std::string, std::unique_ptr<TypeNode>>& nodes() const { return by_name_; }
  // Takes in a type known without a walk (read from the cache on disk);
  // false when a type of its name is known already.
  bool Adopt(std::unique_ptr<TypeNode> node) {
    const std::string name = node->name;
    return by_name_.emplace(name, std::move(node)).second;
  }

 private:
  struct Walk;

  WalkLimits limits_;
  std::map<std::string, std::unique_ptr<TypeNode>> by_name_;
};

// The lower bounds spelt in a type name "ARRAY[l..u, l..u] OF ...", one per
// dimension; false when the name does not spell `dims` of them.
bool BoundsFromName(const std::string& name, std::size_t dims, std::vector<std::int64_t>* lower);

// "[i0,i1]": the element path's indices.
std::string IndexLabel(const std::vector<std::int64_t>& index);

// "[l0+i0,l1+i1]" for element number k of an array (last index fastest).
std::string ElementLabel(std::uint64_t k, const std::vector<std::uint32_t>& dims,
                         const std::vector<std::int64_t>& lower);

}  // namespace qxsym::client
