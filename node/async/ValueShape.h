// A layout's flat table of leaves nested again the way JavaScript holds a
// value: structures as objects keyed by member name, arrays as arrays
// nested per dimension. And the way back: a value given in that form, maybe
// in part, spread onto the leaves as write items that carry exactly the
// parts given. Plain C++ (no Node-API), so it runs on the thread pool.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Owned.h"

namespace qxsym::js {

// A value as the caller gave it, copied off the JavaScript thread.
struct Given {
  enum class Kind { kNone, kValue, kList, kRecord, kOther };
  Kind kind = Kind::kNone;   // kNone: left out (undefined, a hole in an array)
  OwnedValue value;          // kValue; a typed text is replaced by its value when spread
  std::string other;         // kOther: what it is, for messages ("null", "a function")
  std::vector<Given> items;  // kList
  // kRecord, in the caller's order; a key is respelt as the layout spells
  // the member once spread.
  std::vector<std::pair<std::string, Given>> members;
};

// Why a value does not fit the layout: a result code and a sentence that
// names the part.
struct ShapeError {
  int32_t code = symResOk;
  std::string message;
};

// One write item of the client core, owned.
struct WriteIn {
  std::string path;
  std::vector<OwnedValue> values;
};

class ValueShape {
 public:
  struct Node {
    enum class Kind { kRecord, kArray, kLeaf } kind = Kind::kRecord;
    std::string name;  // a member's name as the layout spells it; an element's index
    std::string path;  // "Cell.Inlet", "Cells[1]", "Grid[1]" (a row), for messages
    std::vector<Node> children;
    std::vector<std::pair<std::string, size_t>> by_name;  // kRecord: lower-case name, child; sorted
    int leaf = -1;                                        // kLeaf: index into the layout's leaves
  };

  // Nests the leaves of layout by their paths below the layout's own.
  // symResInvalidParameter when a leaf's path does not lie below it or two
  // leaves claim one place.
  bool Build(OwnedLayout layout, ShapeError* err);

  const OwnedLayout& layout() const { return layout_; }
  const Node& root() const { return root_; }
  // The index of a leaf's first value in the values of a read.
  size_t FirstValue(size_t leaf) const { return first_[leaf]; }
  // A single value (not an array, structure or function block).
  bool IsSingle() const { return root_.kind == Node::Kind::kLeaf && !Leaf(root_).dims.size(); }
  const OwnedLeaf& Leaf(const Node& n) const { return layout_.leaves[static_cast<size_t>(n.leaf)]; }
  // The path of element k (in index order) of an array leaf, by its
  // declared indices: "Grid[2,5]".
  std::string ElementPath(const OwnedLeaf& leaf, uint64_t k) const;

  struct SpreadOptions {
    // Texts at leaves that are not STRING are literals typed by a person
    // (16\#FF, TRUE, 1.5e3), read by the client core's rules.
    bool typed = false;
    // Every value is checked against its leaf's type by the core's write
    // rules, in the session's text encoding (a _QXSymCoreEncoding).
    bool check = false;
    uint32_t encoding = QXSymCoreLatin1;
  };

  // The write items of given: one for the whole value when it gives every
  // value, else one per leaf given whole and one per element given of the
  // others; none when it gives nothing. Result codes:
  // symResInvalidParameter (a value where a structure or an array belongs,
  // or the other way round; nothing given at all; with typed, a literal the
  // type does not take; with check, a value the type refuses),
  // symResSymbolNotFound (a member the type lacks), symResInvalidArrayIndex
  // (more elements than an array holds).
  bool Spread(Given* given, const SpreadOptions& options, std::vector<WriteIn>* items,
              ShapeError* err) const;

 private:
  class Spreader;

  OwnedLayout layout_;
  std::vector<size_t> first_;
  Node root_;
};

}  // namespace qxsym::js
