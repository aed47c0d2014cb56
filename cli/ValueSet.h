// The values of several tags, each expanded through its type down to basic
// members and elements, each of which is opened by its member path
// (Line.Main.Speed, Temps[3], RecipeBook[2].StepTemps[1]). All of them are
// read in one group exchange; the result comes out as nested JSON or as an
// indented listing.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Session.h"
#include "TypeShape.h"
#include "ValueCodec.h"

namespace qxsym::cli {

struct Style;

class ValueSet {
 public:
  // Reading more basic values than this at once is refused.
  static constexpr std::size_t kMaxLeaves = 20000;

  struct Leaf {
    std::string path;  // as the user named the tag, with the member path
    Tag tag;
    std::uint32_t tyvar = 0;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> value;  // from the last Read
  };

  explicit ValueSet(const Session& session) : session_(session) {}

  // Adds the tag with every basic value below it. CliError names the tag.
  void Add(const std::string& name);

  // Reads every value in one group exchange.
  void Read();

  std::size_t size() const { return roots_.size(); }
  const std::string& name(std::size_t i) const { return roots_[i].name; }
  Json Value(std::size_t i) const;
  const std::vector<Leaf>& leaves() const { return leaves_; }

  // Name = value lines, members and elements indented below their tag.
  void Print(std::ostream& out, const Style& style) const;

  // Writes tag i from text: a basic value parsed by its type, or JSON for a
  // structure or array (an object may name only some members; arrays give
  // every element, flat or nested by dimension).
  void Write(std::size_t i, const std::string& text);

 private:
  struct Node {
    std::string label;
    bool record = false, array = false;
    std::vector<std::uint32_t> dims;
    std::vector<std::int64_t> lower;
    std::vector<Node> children;
    int leaf = -1;
  };
  struct Root {
    std::string name;
    std::unique_ptr<TypeShape> shape;
    Node node;
  };

  void Expand(const std::string& lookup, const std::string& display, TypeShape& shape, Node& node,
              Tag* opened);
  std::vector<std::int64_t> FindLowerBounds(const std::string& lookup, TypeShape& shape);
  Json NodeJson(const Node& node) const;
  void PrintNode(std::ostream& out, const Style& style, const Node& node, int indent) const;
  void Collect(const Node& node, const Json& value, const std::string& where,
               std::vector<std::pair<int, std::vector<std::uint8_t>>>& writes) const;

  const Session& session_;
  std::vector<Root> roots_;
  std::vector<Leaf> leaves_;
  Group group_;
};

// Element label "[1]" or "[1,2]" for the flat index i of an array with
// these dimensions and lower bounds (row by row).
std::string ElementLabel(std::uint64_t i, const std::vector<std::uint32_t>& dims,
                         const std::vector<std::int64_t>& lower);

}  // namespace qxsym::cli
