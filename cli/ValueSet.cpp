#include "ValueSet.h"

#include <algorithm>
#include <cctype>

#include "Output.h"

namespace qxsym::cli {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string IndexText(const std::vector<std::int64_t>& index) {
  std::string out = "[";
  for (std::size_t d = 0; d < index.size(); ++d) {
    if (d) out += ",";
    out += std::to_string(index[d]);
  }
  return out + "]";
}

}  // namespace

std::string ElementLabel(std::uint64_t i, const std::vector<std::uint32_t>& dims,
                         const std::vector<std::int64_t>& lower) {
  std::vector<std::int64_t> index(dims.size());
  for (std::size_t d = dims.size(); d-- > 0;) {
    index[d] = lower[d] + static_cast<std::int64_t>(i % dims[d]);
    i /= dims[d];
  }
  return IndexText(index);
}

void ValueSet::Add(const std::string& name) {
  Tag tag = session_.OpenTag(name);
  Type type;
  Check(QXSym_GetTagType(tag.get(), type.out()),
        [&] { return "cannot read the type of tag '" + name + "'"; });
  Root root;
  root.name = name;
  root.shape = WalkType(type.get());
  // Member paths start from the name as the source spells it.
  std::string lookup = TagText(QXSym_GetTagName, tag.get());
  root.node.label = name;
  Expand(lookup, name, *root.shape, root.node, &tag);
  roots_.push_back(std::move(root));
  group_.Reset();
}

std::vector<std::int64_t> ValueSet::FindLowerBounds(const std::string& lookup, TypeShape& shape) {
  if (shape.lower) return *shape.lower;
  // The type's name does not spell the bounds: try the usual ones, 0 and 1,
  // in every dimension.
  const std::size_t n = shape.dims.size();
  for (unsigned combo = 0; combo < (1u << n); ++combo) {
    std::vector<std::int64_t> lower(n);
    for (std::size_t d = 0; d < n; ++d) lower[d] = (combo >> d) & 1;
    const std::string path = lookup + IndexText(lower);
    CheckSentText(path, "member path");
    Tag probe;
    if (QXSym_GetGlobalTag(session_.workspace(), path.c_str(), probe.out()) == symResOk) {
      shape.lower = lower;
      return lower;
    }
  }
  throw CliError(symResInvalidArrayIndex, "cannot find the index bounds of array '" + lookup + "'",
                 "read its elements by path, for example " + lookup + "[1]");
}

void ValueSet::Expand(const std::string& lookup, const std::string& display, TypeShape& shape,
                      Node& node, Tag* opened) {
  if (shape.is_array()) {
    node.array = true;
    node.dims = shape.dims;
    node.lower = FindLowerBounds(lookup, shape);
    std::uint64_t count = shape.element_count();
    if (count > kMaxLeaves - leaves_.size()) {
      throw CliError(symResMaxReached,
                     "'" + display + "' holds more than " + std::to_string(kMaxLeaves) + " values",
                     "read parts of it by path, for example " + display + "[1]");
    }
    node.children.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
      std::string label = ElementLabel(i, shape.dims, node.lower);
      node.children[i].label = label;
      Expand(lookup + label, display + label, *shape.element, node.children[i], nullptr);
    }
    return;
  }
  if (shape.is_record()) {
    node.record = true;
    node.children.resize(shape.members.size());
    for (std::size_t m = 0; m < shape.members.size(); ++m) {
      const std::string& member = shape.members[m].first;
      node.children[m].label = member;
      Expand(lookup + "." + member, display + "." + member, *shape.members[m].second,
             node.children[m], nullptr);
    }
    return;
  }
  if (leaves_.size() >= kMaxLeaves) {
    throw CliError(symResMaxReached, "more than " + std::to_string(kMaxLeaves) + " values at once",
                   "read fewer tags or parts of them by path");
  }
  Leaf leaf;
  leaf.path = display;
  leaf.tag = opened != nullptr ? std::move(*opened) : session_.OpenTag(lookup);
  auto what = [&] { return "cannot read the type of '" + display + "'"; };
  QXSymTyVar tyvar = QXSymTyVarNull;
  Check(QXSym_GetTagDataTypeVar(leaf.tag.get(), &tyvar), what);
  leaf.tyvar = tyvar;
  Check(QXSym_GetTagDataSize(leaf.tag.get(), &leaf.size), what);
  if (leaf.size > (1u << 16)) {
    throw CliError(symResInvalidTagSize,
                   "'" + display + "' has a value of " + std::to_string(leaf.size) + " bytes");
  }
  node.leaf = static_cast<int>(leaves_.size());
  leaves_.push_back(std::move(leaf));
}

void ValueSet::Read() {
  if (group_.get() == 0) {
    Group group;
    Check(QXSym_CreateGroup(session_.workspace(), group.out()),
          [] { return std::string("cannot create a group"); });
    for (const Leaf& leaf : leaves_) {
      Check(QXSym_AddTagToGroup(group.get(), leaf.tag.get()),
            [&] { return "cannot add '" + leaf.path + "' to the group"; });
    }
    group_ = std::move(group);
  }
  Check(QXSym_ReadGroup(group_.get()), [] { return std::string("cannot read the values"); });
  for (Leaf& leaf : leaves_) {
    leaf.value.assign(leaf.size, 0);
    Check(
        QXSym_GetTagValueFromGroup_Ptr(group_.get(), leaf.tag.get(), leaf.value.data(), leaf.size),
        [&] { return "cannot take the value of '" + leaf.path + "'"; });
  }
}

Json ValueSet::NodeJson(const Node& node) const {
  if (node.leaf >= 0) {
    const Leaf& leaf = leaves_[node.leaf];
    return DecodeJson(leaf.tyvar, leaf.value.data(), leaf.value.size());
  }
  if (node.record) {
    Json object = Json::object();
    for (const Node& child : node.children) object[child.label] = NodeJson(child);
    return object;
  }
  // Arrays nest one list per dimension.
  std::vector<Json> flat;
  flat.reserve(node.children.size());
  for (const Node& child : node.children) flat.push_back(NodeJson(child));
  for (std::size_t d = node.dims.size(); d-- > 1;) {
    std::vector<Json> outer;
    for (std::size_t i = 0; i < flat.size(); i += node.dims[d]) {
      Json row = Json::array();
      for (std::size_t k = i; k < i + node.dims[d]; ++k) row.push_back(std::move(flat[k]));
      outer.push_back(std::move(row));
    }
    flat = std::move(outer);
  }
  Json list = Json::array();
  for (Json& j : flat) list.push_back(std::move(j));
  return list;
}

Json ValueSet::Value(std::size_t i) const { return NodeJson(roots_[i].node); }

void ValueSet::PrintNode(std::ostream& out, const Style& style, const Node& node,
                         int indent) const {
  std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
  if (node.leaf >= 0) {
    const Leaf& leaf = leaves_[node.leaf];
    out << pad << Escaped(node.label) << " = "
        << style.Cyan(DecodeText(leaf.tyvar, leaf.value.data(), leaf.value.size())) << '\n';
    return;
  }
  out << pad << style.Bold(Escaped(node.label)) << '\n';
  for (const Node& child : node.children) PrintNode(out, style, child, indent + 1);
}

void ValueSet::Print(std::ostream& out, const Style& style) const {
  for (const Root& root : roots_) PrintNode(out, style, root.node, 0);
}

void ValueSet::Collect(const Node& node, const Json& value, const std::string& where,
                       std::vector<std::pair<int, std::vector<std::uint8_t>>>& writes) const {
  if (node.leaf >= 0) {
    const Leaf& leaf = leaves_[node.leaf];
    try {
      writes.emplace_back(node.leaf, EncodeJson(leaf.tyvar, value, leaf.size));
    } catch (const CliError& e) {
      throw CliError(e.code(), where + ": " + e.what(), e.advice());
    }
    return;
  }
  if (node.record) {
    if (!value.is_object()) {
      throw CliError(symResInvalidParameter, where + ": give a JSON object of members");
    }
    for (const auto& item : value.items()) {
      const std::string& key = item.key();
      auto it = std::find_if(node.children.begin(), node.children.end(),
                             [&](const Node& c) { return Lower(c.label) == Lower(key); });
      if (it == node.children.end()) {
        std::string names;
        for (const Node& c : node.children) names += (names.empty() ? "" : ", ") + c.label;
        throw CliError(symResSymbolNotFound, where + ": no member '" + key + "'",
                       "the members are " + names);
      }
      Collect(*it, item.value(), where + "." + it->label, writes);
    }
    return;
  }
  // Arrays: a flat list of every element, or lists nested by dimension.
  std::string shape;
  for (std::uint32_t d : node.dims) shape += (shape.empty() ? "" : " x ") + std::to_string(d);
  auto refuse = [&] {
    return CliError(symResInvalidParameter, where + ": give a list of " +
                                                std::to_string(node.children.size()) +
                                                " elements, flat or nested " + shape);
  };
  if (!value.is_array()) throw refuse();
  std::vector<const Json*> flat;
  if (value.size() == node.children.size() &&
      (node.dims.size() == 1 || value.empty() || !value.front().is_array())) {
    for (const Json& v : value) flat.push_back(&v);
  } else {
    std::vector<const Json*> level{&value};
    for (std::uint32_t d : node.dims) {
      std::vector<const Json*> next;
      for (const Json* list : level) {
        if (!list->is_array() || list->size() != d) throw refuse();
        for (const Json& v : *list) next.push_back(&v);
      }
      level = std::move(next);
    }
    flat = std::move(level);
  }
  if (flat.size() != node.children.size()) throw refuse();
  for (std::size_t i = 0; i < flat.size(); ++i) {
    Collect(node.children[i], *flat[i], where + node.children[i].label, writes);
  }
}

void ValueSet::Write(std::size_t i, const std::string& text) {
  const Root& root = roots_[i];
  if (root.node.leaf >= 0) {
    Leaf& leaf = leaves_[root.node.leaf];
    std::vector<std::uint8_t> bytes;
    try {
      bytes = EncodeText(leaf.tyvar, text, leaf.size);
    } catch (const CliError& e) {
      throw CliError(e.code(), "cannot write '" + root.name + "': " + e.what(), e.advice());
    }
    Check(QXSym_SetTagValue_Ptr(leaf.tag.get(), bytes.data(), leaf.size),
          [&] { return "cannot write '" + root.name + "'"; });
    return;
  }
  Json value = Json::parse(text, nullptr, false);
  if (value.is_discarded()) {
    throw CliError(symResInvalidParameter, "cannot write '" + root.name + "': not valid JSON",
                   "give a structure as a JSON object and an array as a JSON list, for "
                   "example '{\"Id\": 7}' or '[1, 2, 3]'");
  }
  std::vector<std::pair<int, std::vector<std::uint8_t>>> writes;
  Collect(root.node, value, root.name, writes);
  if (writes.empty()) return;
  // Only the members given go into the group that is written, so the others
  // keep whatever the controller changes meanwhile.
  Group group;
  Check(QXSym_CreateGroup(session_.workspace(), group.out()),
        [] { return std::string("cannot create a group"); });
  for (const auto& write : writes) {
    const Leaf& leaf = leaves_[write.first];
    Check(QXSym_AddTagToGroup(group.get(), leaf.tag.get()),
          [&] { return "cannot add '" + leaf.path + "' to the group"; });
  }
  Check(QXSym_ReadGroup(group.get()), [&] { return "cannot read '" + root.name + "'"; });
  for (const auto& write : writes) {
    const Leaf& leaf = leaves_[write.first];
    const std::vector<std::uint8_t>& bytes = write.second;
    Check(QXSym_SetTagValueIntoGroup_Ptr(group.get(), leaf.tag.get(), bytes.data(),
                                         static_cast<std::uint32_t>(bytes.size())),
          [&] { return "cannot set '" + leaf.path + "'"; });
  }
  Check(QXSym_WriteGroup(group.get()), [&] { return "cannot write '" + root.name + "'"; });
}

}  // namespace qxsym::cli
