// The values of one tag as the user sees them: the core's flat table of
// leaves nested again by member and by declared index, for JSON and text
// output, and a JSON value given for a write spread back onto the leaves.
#pragma once

#include <Layout.h>
#include <Values.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "LeafJson.h"
#include "Output.h"

namespace qxsym::cli {

class ValueTree {
 public:
  // CliError(symResInvalidParameter) when a leaf's path does not lie below
  // the layout's own path.
  explicit ValueTree(const client::Layout& layout);

  // The values (as client::ReadResult::values) nested: objects of members,
  // lists by dimension.
  Json ToJson(const std::vector<client::LeafValue>& values) const;

  // "name = value" lines, members and elements indented below their tag.
  void Print(std::ostream& out, const Style& style,
             const std::vector<client::LeafValue>& values) const;

  // Every single value with its path ("Temps[3]", "Recipe.Id"), in the
  // order of the values.
  std::vector<std::string> ValuePaths() const;

  // The write of a JSON value: an object may name only some members (in
  // any case), a list gives every element, nested by dimension or flat.
  // One item for the whole tag when every leaf is given, else one per leaf.
  // CliError naming the path of what does not fit.
  std::vector<client::WriteItem> Writes(const Json& value) const;

 private:
  struct Node {
    enum class Kind { kValue, kRecord, kArray } kind = Kind::kValue;
    std::string label;
    std::vector<Node> children;
    // kValue: the leaf, and its dimensions when it is an array of values.
    int leaf = -1;
    // kArray and an array leaf: elements per dimension.
    std::vector<std::uint32_t> dims;
  };

  Node* Place(const std::string& rest);
  void ShapeArrays(Node* node);
  Json NodeJson(const Node& node, const std::vector<client::LeafValue>& values) const;
  void PrintNode(std::ostream& out, const Style& style, const Node& node,
                 const std::vector<client::LeafValue>& values, int indent) const;
  void Collect(const Node& node, const Json& value, const std::string& where,
               std::vector<std::vector<client::LeafValue>>* given) const;
  void CollectLeaf(const Node& node, const Json& value, const std::string& where,
                   std::vector<std::vector<client::LeafValue>>* given) const;

  const client::Layout& layout_;
  std::vector<std::size_t> first_;  // per leaf: index of its first value
  Node root_;
};

}  // namespace qxsym::cli
