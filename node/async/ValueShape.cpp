// Nesting a layout's leaves, and spreading a given value onto them
// (ValueShape.h).
#include "ValueShape.h"

#include <algorithm>

namespace qxsym::js {
namespace {

using Node = ValueShape::Node;

// Member names compare as the controller compares them: without regard to
// the case of ASCII letters.
std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The length of an element label "[1]", "[-2,3]" at `at`; 0 when there is
// none (a member name may hold '[' as any other character).
size_t LabelLength(const std::string& s, size_t at) {
  if (at >= s.size() || s[at] != '[') return 0;
  bool digit = false;
  for (size_t i = at + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '-' && !digit && (s[i - 1] == '[' || s[i - 1] == ',')) {
      continue;
    } else if (c == ',' && digit) {
      digit = false;
    } else {
      return c == ']' && digit ? i + 1 - at : 0;
    }
  }
  return 0;
}

// One step from a node down to a child: a member by name, or one index of
// an element label ("[1,2]" is two steps, a row and then its element).
struct Step {
  bool member = true;
  std::string text;  // the member's name, or the index
  std::string path;  // the child's path
};

// The steps from base down to base + rest; false unless rest is a run of
// ".Name" and "[i,j]".
bool StepsOf(const std::string& base, const std::string& rest, std::vector<Step>* out) {
  std::string path = base;
  size_t at = 0;
  while (at < rest.size()) {
    if (const size_t label = LabelLength(rest, at)) {
      std::string indices;
      for (size_t from = at + 1, i = from; i < at + label; ++i) {
        if (rest[i] != ',' && rest[i] != ']') continue;
        const std::string index = rest.substr(from, i - from);
        indices += (indices.empty() ? "" : ",") + index;
        out->push_back({false, index, path + "[" + indices + "]"});
        from = i + 1;
      }
      path += rest.substr(at, label);
      at += label;
      continue;
    }
    if (rest[at] != '.') return false;
    size_t end = at + 1;
    while (end < rest.size() && rest[end] != '.' && LabelLength(rest, end) == 0) ++end;
    if (end == at + 1) return false;
    path += rest.substr(at, end - at);
    out->push_back({true, rest.substr(at + 1, end - at - 1), path});
    at = end;
  }
  return true;
}

// The child of node that step leads to, made when it is new. Leaves come
// in the order of members and elements, so a known child is the last one.
// Null when node is a leaf, or holds members and is stepped into by index
// (or the other way round).
Node* ChildOf(Node* node, const Step& step) {
  const Node::Kind kind = step.member ? Node::Kind::kRecord : Node::Kind::kArray;
  if (node->kind == Node::Kind::kLeaf) return nullptr;
  if (node->children.empty()) node->kind = kind;
  if (node->kind != kind) return nullptr;
  if (node->children.empty() || node->children.back().name != step.text) {
    Node child;
    child.name = step.text;
    child.path = step.path;
    node->children.push_back(std::move(child));
  }
  return &node->children.back();
}

void IndexNames(Node* node) {
  for (size_t i = 0; i < node->children.size(); ++i) {
    IndexNames(&node->children[i]);
    if (node->kind == Node::Kind::kRecord)
      node->by_name.emplace_back(Lower(node->children[i].name), i);
  }
  std::sort(node->by_name.begin(), node->by_name.end());
}

const Node* MemberNamed(const Node& node, const std::string& key) {
  const std::string lower = Lower(key);
  auto it =
      std::lower_bound(node.by_name.begin(), node.by_name.end(), std::make_pair(lower, size_t{0}));
  return it != node.by_name.end() && it->first == lower ? &node.children[it->second] : nullptr;
}

// What a given value is, for a message: "an array", "null", "the text 'on'", "1.5".
std::string Shown(const Given& g) {
  switch (g.kind) {
    case Given::Kind::kList:
      return "an array";
    case Given::Kind::kRecord:
      return "an object";
    case Given::Kind::kOther:
      return g.other;
    case Given::Kind::kNone:
      return "nothing";
    case Given::Kind::kValue:
      break;
  }
  if (g.value.kind == QXSymCoreText) {
    std::string text = g.value.data.substr(0, 40);
    // Not cut inside a character.
    while (text.size() < g.value.data.size() && !text.empty() &&
           (static_cast<unsigned char>(g.value.data[text.size()]) & 0xC0) == 0x80) {
      text.pop_back();
    }
    return "the text '" + text + (text.size() < g.value.data.size() ? "...'" : "'");
  }
  const QXSymCoreValue c = ToCore(g.value);
  const char* text = nullptr;
  return QXSymCore_FormatValue(&c, &text) == symResOk ? text : "a value";
}

ShapeError Refusal(int32_t code, const std::string& message) { return ShapeError{code, message}; }

}  // namespace

bool ValueShape::Build(OwnedLayout layout, ShapeError* err) {
  layout_ = std::move(layout);
  root_ = Node{};
  root_.path = layout_.path;
  first_.assign(layout_.leaves.size(), 0);
  size_t first = 0;
  std::vector<Step> steps;
  for (size_t i = 0; i < layout_.leaves.size(); ++i) {
    const OwnedLeaf& leaf = layout_.leaves[i];
    first_[i] = first;
    first += leaf.count;
    steps.clear();
    Node* node = &root_;
    bool placed = leaf.path.compare(0, layout_.path.size(), layout_.path) == 0 &&
                  StepsOf(layout_.path, leaf.path.substr(layout_.path.size()), &steps);
    for (size_t s = 0; placed && s < steps.size(); ++s) {
      node = ChildOf(node, steps[s]);
      placed = node != nullptr;
    }
    if (!placed || node->leaf >= 0 || !node->children.empty()) {
      *err = Refusal(symResInvalidParameter,
                     "cannot lay out '" + leaf.path + "' within '" + layout_.path + "'");
      return false;
    }
    node->kind = Node::Kind::kLeaf;
    node->leaf = static_cast<int>(i);
  }
  IndexNames(&root_);
  return true;
}

std::string ValueShape::ElementPath(const OwnedLeaf& leaf, uint64_t k) const {
  std::vector<int64_t> index(leaf.dims.size());
  for (size_t d = leaf.dims.size(); d-- > 0;) {
    index[d] = leaf.lower[d] + static_cast<int64_t>(k % leaf.dims[d]);
    k /= leaf.dims[d];
  }
  std::string path = leaf.path + "[";
  for (size_t d = 0; d < index.size(); ++d) path += (d ? "," : "") + std::to_string(index[d]);
  return path + "]";
}

// Puts each given value into its leaf's slot: slots_[leaf][element].
class ValueShape::Spreader {
 public:
  Spreader(const ValueShape& shape, const SpreadOptions& options, ShapeError* err)
      : shape_(shape), options_(options), err_(err) {
    for (const OwnedLeaf& leaf : shape.layout_.leaves) slots_.emplace_back(leaf.count, nullptr);
  }

  bool Put(const Node& node, Given* g) {
    if (g->kind == Given::Kind::kNone) return true;  // left out
    switch (node.kind) {
      case Node::Kind::kLeaf:
        if (shape_.Leaf(node).dims.empty()) return Land(node, 0, shape_.Leaf(node).path, g);
        return PutElements(node, g, 0, 0);
      case Node::Kind::kArray:
        return PutArray(node, g);
      case Node::Kind::kRecord:
        return PutRecord(node, g);
    }
    return false;
  }

  // The write items of what the slots hold.
  void Items(std::vector<WriteIn>* items) const {
    const auto& leaves = shape_.layout_.leaves;
    bool all = !leaves.empty();
    for (const auto& s : slots_) all = all && std::find(s.begin(), s.end(), nullptr) == s.end();
    if (all) {
      WriteIn whole{shape_.layout_.path, {}};
      for (const auto& s : slots_) {
        for (const Given* g : s) whole.values.push_back(g->value);
      }
      items->push_back(std::move(whole));
      return;
    }
    for (size_t l = 0; l < leaves.size(); ++l) {
      const auto& s = slots_[l];
      if (std::find(s.begin(), s.end(), nullptr) == s.end()) {
        WriteIn item{leaves[l].path, {}};
        for (const Given* g : s) item.values.push_back(g->value);
        items->push_back(std::move(item));
        continue;
      }
      for (size_t k = 0; k < s.size(); ++k) {
        if (s[k] != nullptr) items->push_back({shape_.ElementPath(leaves[l], k), {s[k]->value}});
      }
    }
  }

 private:
  bool Fail(int32_t code, const std::string& message) {
    *err_ = Refusal(code, message);
    return false;
  }

  bool Expected(const std::string& path, const char* what, const Given& g) {
    return Fail(symResInvalidParameter,
                "value for '" + path + "': expected " + what + ", got " + Shown(g));
  }

  bool PutRecord(const Node& node, Given* g) {
    if (g->kind != Given::Kind::kRecord) return Expected(node.path, "an object", *g);
    for (auto& [key, value] : g->members) {
      const Node* member = MemberNamed(node, key);
      if (member == nullptr) {
        return Fail(symResSymbolNotFound, "'" + node.path + "." + key + "': no such member");
      }
      key = member->name;
      if (!Put(*member, &value)) return false;
    }
    return true;
  }

  bool PutArray(const Node& node, Given* g) {
    if (g->kind != Given::Kind::kList) return Expected(node.path, "an array", *g);
    if (g->items.size() > node.children.size()) {
      return Fail(symResInvalidArrayIndex,
                  "value for '" + node.path + "': " + std::to_string(g->items.size()) +
                      " elements, the array holds " + std::to_string(node.children.size()));
    }
    for (size_t i = 0; i < g->items.size(); ++i) {
      if (!Put(node.children[i], &g->items[i])) return false;
    }
    return true;
  }

  // The elements of an array leaf given in g for dimension d, at flat
  // index `at` of the dimensions before.
  bool PutElements(const Node& node, Given* g, size_t d, uint64_t at) {
    const OwnedLeaf& leaf = shape_.Leaf(node);
    if (g->kind != Given::Kind::kList) return Expected(leaf.path, "an array", *g);
    if (g->items.size() > leaf.dims[d]) {
      return Fail(symResInvalidArrayIndex,
                  "value for '" + leaf.path + "': " + std::to_string(g->items.size()) +
                      " elements, the dimension holds " + std::to_string(leaf.dims[d]));
    }
    for (size_t i = 0; i < g->items.size(); ++i) {
      Given* e = &g->items[i];
      const uint64_t k = at * leaf.dims[d] + i;
      if (e->kind == Given::Kind::kNone) continue;
      if (d + 1 < leaf.dims.size()) {
        if (!PutElements(node, e, d + 1, k)) return false;
        continue;
      }
      if (!Land(node, k, shape_.ElementPath(leaf, k), e)) return false;
    }
    return true;
  }

  // A value for element k of the node's leaf (0 for a single value).
  bool Land(const Node& node, uint64_t k, const std::string& path, Given* g) {
    const OwnedLeaf& leaf = shape_.Leaf(node);
    if (g->kind != Given::Kind::kValue) return Expected(path, "a value", *g);
    if (options_.typed && g->value.kind == QXSymCoreText &&
        QXSymCore_KindOf(leaf.tyvar) != QXSymCoreText && !Parse(leaf, path, g)) {
      return false;
    }
    if (options_.check && !Check(leaf, path, *g)) return false;
    slots_[static_cast<size_t>(node.leaf)][k] = g;
    return true;
  }

  bool Parse(const OwnedLeaf& leaf, const std::string& path, Given* g) {
    // The text travels as a C string: a zero inside would cut it short.
    if (g->value.data.find('\0') != std::string::npos) {
      return Fail(symResInvalidParameter, "value for '" + path + "': a zero character in the text");
    }
    QXSymCoreValue parsed{};
    const char* why = nullptr;
    const QXSymResult r = QXSymCore_ParseLeafText(leaf.tyvar, g->value.data.c_str(), &parsed, &why);
    if (r != symResOk) return Fail(r, "value for '" + path + "': " + (why ? why : ""));
    g->value = CopyValue(parsed, IsWide(leaf.tyvar, leaf.element_size));
    return true;
  }

  bool Check(const OwnedLeaf& leaf, const std::string& path, const Given& g) {
    std::vector<uint8_t> bytes(leaf.element_size);
    const QXSymCoreValue c = ToCore(g.value);
    const char* why = nullptr;
    const QXSymResult r = QXSymCore_EncodeLeaf(leaf.tyvar, &c, leaf.element_size, options_.encoding,
                                               bytes.data(), &why);
    if (r != symResOk) return Fail(r, "value for '" + path + "': " + (why ? why : ""));
    return true;
  }

  const ValueShape& shape_;
  const SpreadOptions& options_;
  ShapeError* err_;
  std::vector<std::vector<const Given*>> slots_;
};

bool ValueShape::Spread(Given* given, const SpreadOptions& options, std::vector<WriteIn>* items,
                        ShapeError* err) const {
  if (given->kind == Given::Kind::kNone) {
    *err = Refusal(symResInvalidParameter, "value for '" + layout_.path + "': none given");
    return false;
  }
  Spreader spreader(*this, options, err);
  if (!spreader.Put(root_, given)) return false;
  spreader.Items(items);
  return true;
}

}  // namespace qxsym::js
