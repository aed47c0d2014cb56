#include "ValueTree.h"

#include <TypeCatalog.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "Context.h"

namespace qxsym::cli {
namespace {

using client::LeafValue;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The length of an element label "[1]", "[-2,3]" at `at`; 0 when there is
// none (a member name may hold '[' as any other character).
std::size_t LabelLength(const std::string& rest, std::size_t at) {
  if (at >= rest.size() || rest[at] != '[') return 0;
  bool digit = false;
  for (std::size_t i = at + 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '-' && !digit && (rest[i - 1] == '[' || rest[i - 1] == ',')) {
      continue;
    } else if (c == ',' && digit) {
      digit = false;
    } else {
      return c == ']' && digit ? i + 1 - at : 0;
    }
  }
  return 0;
}

// The next segment of a path below a tag: ".Name" or "[1,2]"; empty when
// the rest does not start with one.
std::string Segment(const std::string& rest, std::size_t at) {
  if (const std::size_t label = LabelLength(rest, at)) return rest.substr(at, label);
  if (at >= rest.size() || rest[at] != '.') return {};
  std::size_t end = at + 1;
  while (end < rest.size() && rest[end] != '.' && LabelLength(rest, end) == 0) ++end;
  return rest.substr(at, end - at);
}

// Elements per dimension of an array spelt by its element labels, or just
// their number when the labels do not form a full grid.
std::vector<std::uint32_t> DimsOfLabels(const std::vector<std::string>& labels) {
  std::vector<std::set<std::string>> seen;
  for (const std::string& label : labels) {
    std::size_t d = 0, start = 1;
    for (std::size_t i = 1; i < label.size(); ++i) {
      if (label[i] != ',' && label[i] != ']') continue;
      if (seen.size() <= d) seen.resize(d + 1);
      seen[d++].insert(label.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<std::uint32_t> dims;
  std::uint64_t product = 1;
  for (const auto& s : seen) {
    dims.push_back(static_cast<std::uint32_t>(s.size()));
    product *= s.size();
  }
  if (dims.empty() || product != labels.size()) {
    return {static_cast<std::uint32_t>(labels.size())};
  }
  return dims;
}

// Items in order (last index fastest) as lists nested by dims.
Json Nest(const std::vector<Json>& items, const std::vector<std::uint32_t>& dims, std::size_t d,
          std::size_t* next) {
  Json list = Json::array();
  for (std::uint32_t k = 0; k < dims[d]; ++k) {
    if (d + 1 == dims.size()) {
      list.push_back(*next < items.size() ? items[(*next)++] : Json());
    } else {
      list.push_back(Nest(items, dims, d + 1, next));
    }
  }
  return list;
}

std::uint64_t Product(const std::vector<std::uint32_t>& dims) {
  std::uint64_t n = 1;
  for (std::uint32_t d : dims) n *= d;
  return n;
}

// A list given for an array, flat or nested by dims, as its elements in
// order; CliError naming where when it holds another number of elements.
void Flatten(const Json& value, const std::vector<std::uint32_t>& dims, std::size_t d,
             const std::string& where, std::vector<const Json*>* out) {
  const std::uint64_t total = Product(std::vector<std::uint32_t>(dims.begin() + d, dims.end()));
  auto refuse = [&] {
    throw CliError(symResInvalidParameter,
                   "'" + where + "' takes a list of " + std::to_string(total) + " elements" +
                       (dims.size() - d > 1 ? ", flat or nested by dimension" : ""));
  };
  if (!value.is_array()) refuse();
  const bool nested =
      d + 1 < dims.size() && value.size() == dims[d] &&
      std::all_of(value.begin(), value.end(), [](const Json& j) { return j.is_array(); });
  if (nested) {
    for (const Json& part : value) Flatten(part, dims, d + 1, where, out);
    return;
  }
  if (value.size() != total) refuse();
  for (const Json& item : value) out->push_back(&item);
}

}  // namespace

ValueTree::ValueTree(const client::Layout& layout) : layout_(layout) {
  root_.label = layout.path;
  std::size_t first = 0;
  for (std::size_t i = 0; i < layout.leaves.size(); ++i) {
    const client::Leaf& leaf = layout.leaves[i];
    first_.push_back(first);
    first += leaf.count;
    if (leaf.path.compare(0, layout.path.size(), layout.path) != 0) {
      throw CliError(symResInvalidParameter,
                     "'" + leaf.path + "' lies outside '" + layout.path + "'");
    }
    Node* node = Place(leaf.path.substr(layout.path.size()));
    if (node == nullptr) {
      throw CliError(symResInvalidParameter, "cannot lay out '" + leaf.path + "'");
    }
    node->leaf = static_cast<int>(i);
    node->dims = leaf.dims;
  }
  ShapeArrays(&root_);
  if (root_.kind == Node::Kind::kArray && Product(layout.dims) == root_.children.size()) {
    root_.dims = layout.dims;
  }
}

ValueTree::Node* ValueTree::Place(const std::string& rest) {
  Node* node = &root_;
  for (std::size_t at = 0; at < rest.size();) {
    const std::string segment = Segment(rest, at);
    if (segment.empty()) return nullptr;
    at += segment.size();
    const bool element = segment[0] == '[';
    node->kind = element ? Node::Kind::kArray : Node::Kind::kRecord;
    const std::string label = element ? segment : segment.substr(1);
    // Leaves come in order, so a node already made is the last child.
    if (node->children.empty() || node->children.back().label != label ||
        node->children.back().leaf >= 0) {
      node->children.push_back(Node{});
      node->children.back().label = label;
    }
    node = &node->children.back();
  }
  return node;
}

void ValueTree::ShapeArrays(Node* node) {
  if (node->kind == Node::Kind::kArray) {
    std::vector<std::string> labels;
    for (const Node& child : node->children) labels.push_back(child.label);
    node->dims = DimsOfLabels(labels);
  }
  for (Node& child : node->children) ShapeArrays(&child);
}

Json ValueTree::NodeJson(const Node& node, const std::vector<LeafValue>& values) const {
  if (node.kind == Node::Kind::kValue) {
    const std::size_t first = first_[static_cast<std::size_t>(node.leaf)];
    if (node.dims.empty()) return LeafJson(values[first]);
    std::vector<Json> items;
    const std::uint32_t count = layout_.leaves[static_cast<std::size_t>(node.leaf)].count;
    for (std::uint32_t k = 0; k < count; ++k) items.push_back(LeafJson(values[first + k]));
    std::size_t next = 0;
    return Nest(items, node.dims, 0, &next);
  }
  if (node.kind == Node::Kind::kRecord) {
    Json object = Json::object();
    for (const Node& child : node.children) object[child.label] = NodeJson(child, values);
    return object;
  }
  std::vector<Json> items;
  for (const Node& child : node.children) items.push_back(NodeJson(child, values));
  std::size_t next = 0;
  return Nest(items, node.dims, 0, &next);
}

Json ValueTree::ToJson(const std::vector<LeafValue>& values) const {
  if (values.size() != layout_.value_count) return Json();
  return NodeJson(root_, values);
}

void ValueTree::PrintNode(std::ostream& out, const Style& style, const Node& node,
                          const std::vector<LeafValue>& values, int indent) const {
  const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
  if (node.kind == Node::Kind::kValue && node.dims.empty()) {
    const LeafValue& v = values[first_[static_cast<std::size_t>(node.leaf)]];
    out << pad << Escaped(node.label) << " = " << style.Cyan(Escaped(LeafDisplay(v))) << '\n';
    return;
  }
  out << pad << style.Bold(Escaped(node.label)) << '\n';
  if (node.kind != Node::Kind::kValue) {
    for (const Node& child : node.children) PrintNode(out, style, child, values, indent + 1);
    return;
  }
  const client::Leaf& leaf = layout_.leaves[static_cast<std::size_t>(node.leaf)];
  const std::size_t first = first_[static_cast<std::size_t>(node.leaf)];
  for (std::uint32_t k = 0; k < leaf.count; ++k) {
    out << pad << "  " << client::ElementLabel(k, leaf.dims, leaf.lower) << " = "
        << style.Cyan(Escaped(LeafDisplay(values[first + k]))) << '\n';
  }
}

void ValueTree::Print(std::ostream& out, const Style& style,
                      const std::vector<LeafValue>& values) const {
  if (values.size() != layout_.value_count) return;
  PrintNode(out, style, root_, values, 0);
}

std::vector<std::string> ValueTree::ValuePaths() const {
  std::vector<std::string> paths;
  for (const client::Leaf& leaf : layout_.leaves) {
    if (leaf.dims.empty()) {
      paths.push_back(leaf.path);
      continue;
    }
    for (std::uint32_t k = 0; k < leaf.count; ++k) {
      paths.push_back(leaf.path + client::ElementLabel(k, leaf.dims, leaf.lower));
    }
  }
  return paths;
}

void ValueTree::CollectLeaf(const Node& node, const Json& value, const std::string& where,
                            std::vector<std::vector<LeafValue>>* given) const {
  const auto index = static_cast<std::size_t>(node.leaf);
  const client::Leaf& leaf = layout_.leaves[index];
  std::vector<const Json*> items;
  if (node.dims.empty()) {
    items.push_back(&value);
  } else {
    Flatten(value, node.dims, 0, where, &items);
  }
  std::vector<LeafValue> values(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    client::CodecError err;
    if (!JsonLeaf(leaf.tyvar, *items[k], &values[k], &err)) {
      const std::string at =
          node.dims.empty() ? where : where + client::ElementLabel(k, leaf.dims, leaf.lower);
      throw CliError(err.code, "'" + at + "': " + err.message);
    }
  }
  (*given)[index] = std::move(values);
}

void ValueTree::Collect(const Node& node, const Json& value, const std::string& where,
                        std::vector<std::vector<LeafValue>>* given) const {
  if (node.kind == Node::Kind::kValue) return CollectLeaf(node, value, where, given);
  if (node.kind == Node::Kind::kArray) {
    std::vector<const Json*> items;
    Flatten(value, node.dims, 0, where, &items);
    for (std::size_t k = 0; k < items.size(); ++k) {
      Collect(node.children[k], *items[k], where + node.children[k].label, given);
    }
    return;
  }
  if (!value.is_object()) {
    throw CliError(symResInvalidParameter, "'" + where + "' takes a JSON object of members");
  }
  for (const auto& item : value.items()) {
    const std::string key = Lower(item.key());
    auto it = std::find_if(node.children.begin(), node.children.end(),
                           [&](const Node& c) { return Lower(c.label) == key; });
    if (it == node.children.end()) {
      std::string names;
      for (const Node& c : node.children) names += (names.empty() ? "" : ", ") + c.label;
      throw CliError(symResSymbolNotFound, "'" + where + "' has no member '" + item.key() + "'",
                     "the members are " + names);
    }
    Collect(*it, item.value(), where + "." + it->label, given);
  }
}

std::vector<client::WriteItem> ValueTree::Writes(const Json& value) const {
  std::vector<std::vector<LeafValue>> given(layout_.leaves.size());
  Collect(root_, value, layout_.path, &given);
  const bool all = std::none_of(given.begin(), given.end(),
                                [](const std::vector<LeafValue>& v) { return v.empty(); });
  std::vector<client::WriteItem> items;
  if (all) {
    client::WriteItem whole{layout_.path, {}};
    for (auto& v : given) whole.values.insert(whole.values.end(), v.begin(), v.end());
    items.push_back(std::move(whole));
    return items;
  }
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i].empty()) continue;
    items.push_back(client::WriteItem{layout_.leaves[i].path, std::move(given[i])});
  }
  return items;
}

}  // namespace qxsym::cli
