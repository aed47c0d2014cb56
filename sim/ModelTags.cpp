// The model's tags: read, placed in the memory image, and given their
// initial values.
#include <algorithm>
#include <cstring>

#include "ModelJson.h"
#include "ModelLoader.h"
#include "Text.h"
#include "Values.h"

namespace qxsym::sim {

using namespace loader;  // NOLINT(build/namespaces): the loader's own helpers

namespace {

constexpr std::uint64_t kImageGranule = 1024;

}  // namespace

void ModelLoader::LoadTags(const json& tags) {
  if (!tags.is_array()) Fail("tags", "expected a list");
  std::vector<bool> explicit_address;
  std::vector<std::string> wheres;
  model_->tags_.reserve(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const json& tj = tags[i];
    std::string where = Where("tags", i, "");
    CheckObject(tj, where);
    CheckKeys(tj,
              {"name", "type", "address", "bit", "read_only", "description", "attributes", "value",
               "simulate"},
              where);
    Tag tag;
    tag.name = GetString(tj, "name", where, true);
    where = Where("tags", i, tag.name);
    CheckTagName(tag.name, where + ".name");
    if (!model_->tag_index_.emplace(ToLower(tag.name), i).second) {
      Fail(where + ".name", "tag '" + tag.name + "' declared twice");
    }
    tag.type = ResolveTypeExpr(GetString(tj, "type", where, true), where + ".type");
    tag.read_only = GetBool(tj, "read_only", where);
    tag.description = GetString(tj, "description", where, false);
    tag.attributes = GetAttributes(tj, where);
    if (const json* b = Find(tj, "bit")) {
      std::uint64_t bit = GetUnsigned(*b, where + ".bit");
      if (bit > 7) Fail(where + ".bit", "a bit number is 0 to 7");
      if (tag.type->kind != TypeKind::kBasic || tag.type->tyvar != QXSymTyVarBool) {
        Fail(where + ".bit", "only a BOOL tag lives at a bit address");
      }
      tag.bit = static_cast<int>(bit);
    }
    const json* a = Find(tj, "address");
    if (a != nullptr) tag.address = GetUnsigned(*a, where + ".address");
    explicit_address.push_back(a != nullptr);
    wheres.push_back(where);
    tag_values_.push_back(Find(tj, "value"));
    model_->tags_.push_back(std::move(tag));
  }
  PlaceTags(explicit_address, wheres);
  InitTags(tags, wheres);
}

void ModelLoader::InitTags(const json& tags, const std::vector<std::string>& wheres) {
  for (std::size_t i = 0; i < model_->tags_.size(); ++i) {
    const Tag& tag = model_->tags_[i];
    const json* value = tag_values_[i];
    if (tag.bit >= 0) {
      if (value != nullptr) {
        if (!value->is_boolean()) Fail(wheres[i] + ".value", "expected true or false");
        std::uint8_t on = value->get<bool>() ? 1 : 0;
        SymbolView v = model_->GlobalView(i);
        model_->ForceValue(v, &on, 1);
      }
    } else {
      InitValue(tag.type, tag.address, value, wheres[i] + ".value");
    }
    if (const json* sim = Find(tags[i], "simulate")) {
      CheckObject(*sim, wheres[i] + ".simulate");
      if (Find(*sim, "path") != nullptr) Fail(wheres[i] + ".simulate", "unknown key 'path'");
      LoadSimulation(*sim, model_->GlobalView(i), wheres[i] + ".simulate");
    }
  }
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> ModelLoader::ExplicitRanges(
    const std::vector<bool>& explicit_address, const std::vector<std::string>& where) const {
  const std::vector<Tag>& tags = model_->tags_;
  const std::uint64_t base = model_->base_;
  const std::uint64_t limit = memory_size_ != 0 ? memory_size_ : kMaxMemory;

  // Explicit addresses: inside the image, and no two tags sharing a
  // bit. Ranges are measured in bits so that bit tags may share a byte.
  struct Range {
    std::uint64_t begin, end;
    std::size_t tag;
  };
  std::vector<Range> ranges;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (!explicit_address[i]) continue;
    const Tag& t = tags[i];
    std::uint64_t size = t.bit >= 0 ? 1 : t.type->size;
    if (t.address < base || t.address - base > limit || size > limit - (t.address - base)) {
      Fail(where[i] + ".address", "outside the memory image");
    }
    std::uint64_t rel = t.address - base;
    if (t.bit >= 0) {
      ranges.push_back({rel * 8 + static_cast<std::uint64_t>(t.bit),
                        rel * 8 + static_cast<std::uint64_t>(t.bit) + 1, i});
    } else if (size != 0) {
      ranges.push_back({rel * 8, (rel + size) * 8, i});
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
    return a.begin < b.begin || (a.begin == b.begin && a.tag < b.tag);
  });
  for (std::size_t k = 1, widest = 0; k < ranges.size(); ++k) {
    if (ranges[k].begin < ranges[widest].end) {
      std::size_t later = std::max(ranges[k].tag, ranges[widest].tag);
      std::size_t earlier = std::min(ranges[k].tag, ranges[widest].tag);
      Fail(where[later] + ".address", "overlaps tag '" + tags[earlier].name + "'");
    }
    if (ranges[k].end > ranges[widest].end) widest = k;
  }

  // Occupied bytes, merged and in order, for placing the other tags in the
  // gaps.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> used;
  for (const Range& r : ranges) {
    std::uint64_t b = r.begin / 8, e = (r.end + 7) / 8;
    if (!used.empty() && b <= used.back().second) {
      used.back().second = std::max(used.back().second, e);
    } else {
      used.emplace_back(b, e);
    }
  }
  return used;
}

void ModelLoader::PlaceTags(const std::vector<bool>& explicit_address,
                            const std::vector<std::string>& where) {
  std::vector<Tag>& tags = model_->tags_;
  const std::uint64_t base = model_->base_;
  const std::uint64_t limit = memory_size_ != 0 ? memory_size_ : kMaxMemory;
  // Explicit addresses first, then the other tags in the gaps between them.
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> used =
      ExplicitRanges(explicit_address, where);
  std::uint64_t end = used.empty() ? 0 : used.back().second;  // the last ends furthest
  std::uint64_t cursor = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (explicit_address[i]) continue;
    Tag& t = tags[i];
    std::uint64_t size = t.bit >= 0 ? 1 : t.type->size;
    std::uint64_t align = t.bit >= 0 ? 1 : t.type->align;
    for (;;) {
      cursor = AlignUp(cursor, align);
      while (j < used.size() && used[j].second <= cursor) ++j;
      if (j < used.size() && used[j].first < cursor + std::max<std::uint64_t>(size, 1)) {
        cursor = used[j].second;
        continue;
      }
      break;
    }
    if (cursor + size > limit) Fail(where[i], "does not fit the memory image");
    t.address = base + cursor;
    cursor += size;
    end = std::max(end, cursor);
  }
  std::uint64_t image = memory_size_ != 0
                            ? memory_size_
                            : std::max<std::uint64_t>(AlignUp(end, kImageGranule), kImageGranule);
  model_->image_.assign(static_cast<std::size_t>(image), 0);
}

bool ModelLoader::HasDefaults(const Type* t) {
  auto it = has_defaults_.find(t);
  if (it != has_defaults_.end()) return it->second;
  bool has = false;
  if (t->is_array()) {
    has = HasDefaults(t->element);
  } else if (t->kind == TypeKind::kStruct || t->kind == TypeKind::kFunctionBlock) {
    const std::vector<MemberDefault>& defs = member_defaults_[t];
    for (std::size_t k = 0; k < t->members.size() && !has; ++k) {
      has = defs[k].value != nullptr || HasDefaults(t->members[k].type);
    }
  }
  has_defaults_[t] = has;
  return has;
}

void ModelLoader::InitValue(const Type* t, std::uint64_t address, const json* value,
                            const std::string& where) {
  std::uint8_t* p = model_->At(address);
  switch (t->kind) {
    case TypeKind::kBasic:
      if (value != nullptr) StoreBasic(t, *value, p, where);
      return;
    case TypeKind::kString: {
      if (value == nullptr) return;
      if (!value->is_string()) Fail(where, "expected a text for " + t->name);
      const std::string s = value->get<std::string>();
      if (s.size() > t->string_length) Fail(where, "text longer than " + t->name);
      std::memcpy(p, s.data(), s.size());
      return;
    }
    case TypeKind::kStruct:
    case TypeKind::kFunctionBlock:
      InitComposite(t, address, value, where);
      return;
    case TypeKind::kArray: {
      if (HasDefaults(t->element)) {
        std::uint64_t count = t->element->size == 0 ? 0 : t->size / t->element->size;
        for (std::uint64_t k = 0; k < count; ++k) {
          InitValue(t->element, address + k * t->element->size, nullptr, where);
        }
      }
      if (value != nullptr) StoreArrayValues(t, address, *value, 0, 0, where);
      return;
    }
  }
}

// A structure or function block: each member from the value given for it,
// else from its declared default.
void ModelLoader::InitComposite(const Type* t, std::uint64_t address, const json* value,
                                const std::string& where) {
  if (value == nullptr && !HasDefaults(t)) return;
  if (value != nullptr && !value->is_object()) Fail(where, "expected an object for " + t->name);
  if (value != nullptr) {
    for (auto it = value->begin(); it != value->end(); ++it) {
      if (t->FindMember(it.key()) == nullptr) {
        Fail(where, "type " + t->name + " has no member '" + it.key() + "'");
      }
    }
  }
  const std::vector<MemberDefault>& defs = member_defaults_[t];
  for (std::size_t k = 0; k < t->members.size(); ++k) {
    const Member& m = t->members[k];
    const json* mv = nullptr;
    if (value != nullptr) {
      for (auto it = value->begin(); it != value->end() && mv == nullptr; ++it) {
        if (EqualsNoCase(it.key(), m.name)) mv = &*it;
      }
    }
    if (mv != nullptr) {
      InitValue(m.type, address + m.offset, mv, where + "." + m.name);
    } else if (defs[k].value != nullptr) {
      InitValue(m.type, address + m.offset, defs[k].value, defs[k].where);
    } else {
      InitValue(m.type, address + m.offset, nullptr, where + "." + m.name);
    }
  }
}

void ModelLoader::StoreBasic(const Type* t, const json& value, std::uint8_t* p,
                             const std::string& where) {
  Number n;
  if (value.is_boolean() && t->tyvar == QXSymTyVarBool) {
    n = Number::Unsigned(value.get<bool>() ? 1 : 0);
  } else if (value.is_number_unsigned()) {
    n = Number::Unsigned(value.get<std::uint64_t>());
  } else if (value.is_number_integer()) {
    n = Number::Signed(value.get<std::int64_t>());
  } else if (value.is_number_float()) {
    n = Number::Float(value.get<double>());
  } else {
    Fail(where, "expected a value of type " + t->name);
  }
  if (!NumberFits(t, n)) Fail(where, value.dump() + " does not fit " + t->name);
  StoreNumber(t, n, p);
}

void ModelLoader::StoreArrayValues(const Type* t, std::uint64_t address, const json& value,
                                   std::size_t dim, std::uint64_t prefix,
                                   const std::string& where) {
  if (!value.is_array()) Fail(where, "expected a list of values for " + t->name);
  const std::vector<ArrayDim>& dims = t->dims;
  bool nested = dim + 1 < dims.size() && !value.empty() &&
                std::all_of(value.begin(), value.end(), [](const json& v) { return v.is_array(); });
  if (nested) {
    if (value.size() > dims[dim].count()) Fail(where, "too many rows for " + t->name);
    for (std::size_t i = 0; i < value.size(); ++i) {
      StoreArrayValues(t, address, value[i], dim + 1, prefix * dims[dim].count() + i,
                       where + "[" + std::to_string(i) + "]");
    }
    return;
  }
  std::uint64_t span = 1;
  for (std::size_t k = dim; k < dims.size(); ++k) span *= dims[k].count();
  if (value.size() > span) Fail(where, "too many values for " + t->name);
  const std::uint64_t start = prefix * span;
  for (std::size_t i = 0; i < value.size(); ++i) {
    InitValue(t->element, address + (start + i) * t->element->size, &value[i],
              where + "[" + std::to_string(i) + "]");
  }
}

}  // namespace qxsym::sim
