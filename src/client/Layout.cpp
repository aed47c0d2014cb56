#include "Layout.h"

#include <algorithm>

#include "Session.h"

namespace qxsym::client {
namespace {

struct Flattener {
  std::size_t max_leaves;
  WalkError* err;

  bool Room(std::vector<Leaf>* leaves, std::uint64_t more, const std::string& path) {
    if (more <= max_leaves && leaves->size() <= max_leaves - more) return true;
    err->code = symResMaxReached;
    err->message = "'" + path + "' holds more than " + std::to_string(max_leaves) + " values";
    return false;
  }

  bool Add(const TypeNode& node, const std::string& path, std::uint32_t base,
           std::vector<Leaf>* leaves) {
    if (node.kind == TypeNode::Kind::kRecord) {
      for (const TypeNode::Member& m : node.members) {
        if (!Add(*m.type, path + "." + m.name, base + m.offset, leaves)) return false;
      }
      return true;
    }
    if (node.kind == TypeNode::Kind::kBasic) {
      if (!Room(leaves, 1, path)) return false;
      Leaf leaf;
      leaf.path = path;
      leaf.offset = base;
      leaf.size = leaf.element_size = node.size;
      leaf.tyvar = node.tyvar;
      leaves->push_back(std::move(leaf));
      return true;
    }
    const TypeNode& element = *node.element;
    if (element.kind == TypeNode::Kind::kBasic && element.size == node.stride) {
      if (!Room(leaves, 1, path)) return false;
      Leaf leaf;
      leaf.path = path;
      leaf.offset = base;
      leaf.size = node.size;
      leaf.tyvar = element.tyvar;
      leaf.element_size = element.size;
      leaf.count = static_cast<std::uint32_t>(node.count);
      leaf.dims = node.dims;
      leaf.lower = node.lower;
      leaves->push_back(std::move(leaf));
      return true;
    }
    return Elements(node, path, base, leaves);
  }

  // An array of structures (or with gaps between its elements): the leaves
  // of one element, repeated for each with its own path and offset.
  bool Elements(const TypeNode& node, const std::string& path, std::uint32_t base,
                std::vector<Leaf>* leaves) {
    std::vector<Leaf> one;
    const std::string first = path + ElementLabel(0, node.dims, node.lower);
    if (!Add(*node.element, first, 0, &one)) return false;
    if (!Room(leaves, node.count * one.size(), path)) return false;
    for (std::uint64_t k = 0; k < node.count; ++k) {
      const std::string label = path + ElementLabel(k, node.dims, node.lower);
      for (const Leaf& l : one) {
        Leaf leaf = l;
        leaf.path = label + l.path.substr(first.size());
        leaf.offset = base + static_cast<std::uint32_t>(k * node.stride) + l.offset;
        leaves->push_back(std::move(leaf));
      }
    }
    return true;
  }
};

bool CoversEveryByte(std::vector<Leaf> leaves, std::uint32_t size) {
  std::sort(leaves.begin(), leaves.end(),
            [](const Leaf& a, const Leaf& b) { return a.offset < b.offset; });
  std::uint64_t next = 0;
  for (const Leaf& l : leaves) {
    if (l.offset != next) return false;
    next += l.size;
  }
  return next == size;
}

bool Units(const TypeNode& node, const std::string& path, const TagFacts& facts,
           std::size_t max_units, Layout* layout, WalkError* err) {
  if (node.kind != TypeNode::Kind::kArray) {
    if (facts.data_size != node.size) {
      err->code = symResInvalidTagSize;
      err->message = "'" + path + "' moves " + std::to_string(facts.data_size) + " bytes of its " +
                     std::to_string(node.size);
      return false;
    }
    layout->units.push_back(Unit{path, 0, node.size});
    return true;
  }
  if (node.count > max_units) {
    err->code = symResMaxReached;
    err->message = "'" + path + "' has more than " + std::to_string(max_units) + " elements";
    return false;
  }
  layout->units.reserve(node.count);
  for (std::uint64_t k = 0; k < node.count; ++k) {
    layout->units.push_back(Unit{path + ElementLabel(k, node.dims, node.lower),
                                 static_cast<std::uint32_t>(k * node.stride), node.element->size});
  }
  return true;
}

}  // namespace

std::shared_ptr<const Layout> Describe(Session& session, const std::string& path, WalkError* err) {
  if (auto known = session.KnownLayout(path)) return known;
  const TypeNode* node = session.types().Learn(session, path, err);
  if (node == nullptr) return nullptr;
  TagFacts facts;
  session.Tag(path, &facts);
  auto layout = std::make_shared<Layout>();
  layout->path = path;
  layout->type_name = node->name;
  layout->type_properties = node->properties;
  layout->size = node->size;
  if (node->kind == TypeNode::Kind::kArray) {
    layout->dims = node->dims;
    layout->lower = node->lower;
  }
  const std::size_t max_leaves = session.types().limits().max_leaves;
  Flattener flat{max_leaves, err};
  if (!flat.Add(*node, path, 0, &layout->leaves) ||
      !Units(*node, path, facts, max_leaves, layout.get(), err)) {
    return nullptr;
  }
  layout->whole = CoversEveryByte(layout->leaves, layout->size);
  for (const Leaf& l : layout->leaves) layout->value_count += l.count;
  session.KeepLayout(layout);
  return layout;
}

std::vector<Unit> WriteUnits(const Layout& layout) {
  if (layout.whole) return layout.units;
  std::vector<Unit> units;
  for (const Leaf& l : layout.leaves) {
    if (l.dims.empty()) {
      units.push_back(Unit{l.path, l.offset, l.size});
      continue;
    }
    for (std::uint32_t k = 0; k < l.count; ++k) {
      units.push_back(Unit{l.path + ElementLabel(k, l.dims, l.lower), l.offset + k * l.element_size,
                           l.element_size});
    }
  }
  return units;
}

bool SameLayout(const Layout& a, const Layout& b) {
  if (a.type_name != b.type_name || a.size != b.size || a.value_count != b.value_count ||
      a.leaves.size() != b.leaves.size() || a.dims != b.dims || a.lower != b.lower) {
    return false;
  }
  for (std::size_t i = 0; i < a.leaves.size(); ++i) {
    const Leaf& x = a.leaves[i];
    const Leaf& y = b.leaves[i];
    if (x.path != y.path || x.offset != y.offset || x.size != y.size || x.tyvar != y.tyvar ||
        x.element_size != y.element_size || x.count != y.count || x.dims != y.dims ||
        x.lower != y.lower) {
      return false;
    }
  }
  return true;
}

}  // namespace qxsym::client
