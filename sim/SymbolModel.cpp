#include "SymbolModel.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "Text.h"
#include "Values.h"

namespace qxsym::sim {

// ---- Type -------------------------------------------------------------------

std::uint32_t Type::ChildCount() const {
  if (kind == TypeKind::kStruct || kind == TypeKind::kFunctionBlock) {
    return static_cast<std::uint32_t>(members.size());
  }
  return is_array() ? 1 : 0;
}

const Type* Type::Child(std::uint32_t index) const {
  if (index >= ChildCount()) return nullptr;
  return is_array() ? element : members[index].type;
}

const std::string* Type::ChildName(std::uint32_t index) const {
  if (index >= ChildCount()) return nullptr;
  return is_array() ? &element->name : &members[index].name;
}

const Member* Type::FindMember(const std::string& member_name) const {
  for (const Member& m : members) {
    if (EqualsNoCase(m.name, member_name)) return &m;
  }
  return nullptr;
}

const Type* Type::ChildByName(const std::string& child_name) const {
  if (is_array()) return EqualsNoCase(element->name, child_name) ? element : nullptr;
  const Member* m = FindMember(child_name);
  return m != nullptr ? m->type : nullptr;
}

// ---- Lookups ----------------------------------------------------------------

const Type* SymbolModel::FindType(const std::string& type_name) const {
  auto it = type_index_.find(ToLower(type_name));
  return it == type_index_.end() ? nullptr : it->second;
}

const Tag* SymbolModel::FindTag(const std::string& tag_name) const {
  auto it = tag_index_.find(ToLower(tag_name));
  return it == tag_index_.end() ? nullptr : &tags_[it->second];
}

SymbolView SymbolModel::GlobalView(std::size_t index) const {
  const Tag& t = tags_[index];
  SymbolView v;
  v.tag = &t;
  v.name = t.name;
  v.type = t.type;
  v.address = t.address;
  v.bit = t.bit;
  v.read_only = t.read_only;
  v.description = &t.description;
  v.attributes = &t.attributes;
  return v;
}

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

class PathParser {
 public:
  explicit PathParser(const std::string& s) : s_(s) {}
  void SkipSpace() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_])) != 0) ++pos_;
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ == s_.size();
  }
  bool Peek(char c) {
    SkipSpace();
    return pos_ < s_.size() && s_[pos_] == c;
  }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  bool Ident(std::string* out) {
    SkipSpace();
    if (pos_ >= s_.size() || !IsIdentStart(s_[pos_])) return false;
    std::size_t start = pos_;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_])) ++pos_;
    *out = s_.substr(start, pos_ - start);
    return true;
  }
  // A signed decimal index; refuses values that do not fit 32 bits.
  bool Int(std::int64_t* out) {
    SkipSpace();
    bool negative = false;
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) negative = s_[pos_++] == '-';
    if (pos_ >= s_.size() || std::isdigit(static_cast<unsigned char>(s_[pos_])) == 0) return false;
    std::int64_t v = 0;
    while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])) != 0) {
      v = v * 10 + (s_[pos_++] - '0');
      if (v > (std::int64_t{1} << 32)) return false;
    }
    *out = negative ? -v : v;
    return true;
  }

 private:
  const std::string& s_;
  std::size_t pos_ = 0;
};

}  // namespace

QXSymResult SymbolModel::Resolve(const std::string& path, SymbolView* out) const {
  // A global tag whose name holds path marks ('.') is found whole.
  if (const Tag* whole = FindTag(path)) {
    *out = GlobalView(static_cast<std::size_t>(whole - tags_.data()));
    return symResOk;
  }
  PathParser p(path);
  std::string ident;
  if (!p.Ident(&ident)) return symResSymbolNotFound;
  const Tag* tag = FindTag(ident);
  if (tag == nullptr) return symResSymbolNotFound;
  SymbolView v = GlobalView(static_cast<std::size_t>(tag - tags_.data()));
  while (!p.AtEnd()) {
    if (p.Take('.')) {
      if (!p.Ident(&ident)) return symResSymbolNotFound;
      const Member* m = v.type->FindMember(ident);
      if (m == nullptr) return symResSymbolNotFound;
      v.name += "." + m->name;
      v.type = m->type;
      v.address += m->offset;
      v.description = &m->description;
      v.attributes = &m->attributes;
    } else if (p.Take('[')) {
      if (!v.type->is_array()) return symResSymbolNotFound;
      const std::vector<ArrayDim>& dims = v.type->dims;
      std::uint64_t linear = 0;
      std::string text = "[";
      for (std::size_t k = 0; k < dims.size(); ++k) {
        std::int64_t index;
        if (k > 0 && !p.Take(',')) return symResSymbolNotFound;
        if (!p.Int(&index)) return symResSymbolNotFound;
        if (index < dims[k].lower || index > dims[k].upper) return symResInvalidArrayIndex;
        linear = linear * dims[k].count() + static_cast<std::uint64_t>(index - dims[k].lower);
        text += (k > 0 ? "," : "") + std::to_string(index);
      }
      if (!p.Take(']')) return symResSymbolNotFound;
      v.name += text + "]";
      v.address += linear * v.type->element->size;
      v.type = v.type->element;
    } else {
      return symResSymbolNotFound;
    }
  }
  *out = std::move(v);
  return symResOk;
}

std::vector<std::size_t> SymbolModel::Match(const std::string& filter) const {
  std::vector<std::size_t> hits;
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    if (filter.empty() || GlobMatch(filter, tags_[i].name)) hits.push_back(i);
  }
  return hits;
}

// ---- Facts --------------------------------------------------------------------

std::uint32_t SymbolModel::DataSize(const SymbolView& v) { return v.type->value_type()->size; }

std::uint32_t SymbolModel::FullSize(const SymbolView& v) { return v.type->size; }

std::uint32_t SymbolModel::TyVar(const SymbolView& v) { return v.type->value_type()->tyvar; }

void SymbolModel::Dims(const SymbolView& v, std::uint32_t dims[3]) {
  for (std::size_t k = 0; k < 3; ++k) {
    dims[k] = v.type->is_array() && k < v.type->dims.size() ? v.type->dims[k].count() : 0;
  }
}

QXSymResult SymbolModel::Attribute(const SymbolView& v, const std::string& attr, std::string* out) {
  if (v.attributes != nullptr) {
    for (const auto& kv : *v.attributes) {
      if (EqualsNoCase(kv.first, attr)) {
        *out = kv.second;
        return symResOk;
      }
    }
  }
  return symResAttributeNotFound;
}

namespace {

// Finds one element: its type and address. Unused dimensions take index 0.
QXSymResult Locate(const SymbolView& v, const std::uint32_t idx[3], const Type** type,
                   std::uint64_t* address) {
  if (!v.type->is_array()) {
    if (idx[0] != 0 || idx[1] != 0 || idx[2] != 0) return symResInvalidArrayIndex;
    *type = v.type;
    *address = v.address;
    return symResOk;
  }
  const std::vector<ArrayDim>& dims = v.type->dims;
  std::uint64_t linear = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    if (k < dims.size()) {
      if (idx[k] >= dims[k].count()) return symResInvalidArrayIndex;
      linear = linear * dims[k].count() + idx[k];
    } else if (idx[k] != 0) {
      return symResInvalidArrayIndex;
    }
  }
  *type = v.type->element;
  *address = v.address + linear * v.type->element->size;
  return symResOk;
}

const std::uint32_t kNoIndex[3] = {0, 0, 0};

}  // namespace

QXSymResult SymbolModel::ElementAddress(const SymbolView& v, const std::uint32_t idx[3],
                                        std::uint64_t* address, std::uint32_t* bit) {
  const Type* t;
  QXSymResult r = Locate(v, idx, &t, address);
  if (r != symResOk) return r;
  *bit = v.bit >= 0 ? static_cast<std::uint32_t>(v.bit) : 0;
  return symResOk;
}

// ---- Values -------------------------------------------------------------------

QXSymResult SymbolModel::CheckWrite(const SymbolView& v, const Type* t, std::size_t size) const {
  if (v.read_only) return symResReadOnlyTag;
  // A text may be shorter than its field; everything else is written whole.
  if (t->kind == TypeKind::kString ? size > t->size : size != t->size) {
    return symResInvalidTagSize;
  }
  return symResOk;
}

void SymbolModel::StoreValueLocked(const SymbolView& v, const Type* t, std::uint64_t address,
                                   const std::uint8_t* data, std::size_t size) {
  std::uint8_t* p = At(address);
  if (v.bit >= 0) {
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << v.bit);
    p[0] = static_cast<std::uint8_t>(data[0] != 0 ? (p[0] | mask) : (p[0] & ~mask));
  } else if (t->kind == TypeKind::kString) {
    std::memset(p, 0, t->size);
    if (size != 0) std::memcpy(p, data, size);
    p[t->size - 1] = 0;  // the text always keeps its terminator
  } else if (t->tyvar == QXSymTyVarBool && t->kind == TypeKind::kBasic) {
    p[0] = data[0] != 0 ? 1 : 0;
  } else if (size != 0) {
    std::memcpy(p, data, size);
  }
}

void SymbolModel::LoadValueLocked(const SymbolView& v, const Type* t, std::uint64_t address,
                                  std::uint8_t* out) const {
  const std::uint8_t* p = At(address);
  if (v.bit >= 0) {
    out[0] = static_cast<std::uint8_t>((p[0] >> v.bit) & 1u);
  } else if (t->size != 0) {
    std::memcpy(out, p, t->size);
  }
}

QXSymResult SymbolModel::ReadValue(const SymbolView& v, const std::uint32_t idx[3],
                                   std::vector<std::uint8_t>* out) const {
  const Type* t;
  std::uint64_t address;
  QXSymResult r = Locate(v, idx, &t, &address);
  if (r != symResOk) return r;
  out->assign(t->size, 0);
  std::lock_guard<std::mutex> lock(memory_mutex_);
  LoadValueLocked(v, t, address, out->data());
  return symResOk;
}

QXSymResult SymbolModel::WriteValue(const SymbolView& v, const std::uint32_t idx[3],
                                    const std::uint8_t* data, std::size_t size) {
  const Type* t;
  std::uint64_t address;
  QXSymResult r = Locate(v, idx, &t, &address);
  if (r == symResOk) r = CheckWrite(v, t, size);
  if (r != symResOk) return r;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  StoreValueLocked(v, t, address, data, size);
  return symResOk;
}

void SymbolModel::ForceValue(const SymbolView& v, const std::uint8_t* data, std::size_t size) {
  const Type* t;
  std::uint64_t address;
  if (Locate(v, kNoIndex, &t, &address) != symResOk || size > t->size) return;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  StoreValueLocked(v, t, address, data, size);
}

namespace {

// Whether a tag of the next program is the same tag as one of the earlier.
bool SameTag(const Tag& a, const Tag& b) {
  return EqualsNoCase(a.type->name, b.type->name) && a.type->size == b.type->size &&
         a.type->value_type()->size == b.type->value_type()->size;
}

}  // namespace

std::size_t SymbolModel::KeepValuesOf(const SymbolModel& earlier) {
  if (&earlier == this) return tags_.size();
  std::scoped_lock lock(earlier.memory_mutex_, memory_mutex_);
  std::size_t kept = 0;
  std::vector<std::uint8_t> value;
  for (const Tag& tag : tags_) {
    const Tag* old = earlier.FindTag(tag.name);
    if (old == nullptr || !SameTag(*old, tag)) continue;
    // Only the bit number of a view matters to the copy.
    SymbolView from, to;
    from.bit = old->bit;
    to.bit = tag.bit;
    value.assign(tag.type->size, 0);
    earlier.LoadValueLocked(from, old->type, old->address, value.data());
    StoreValueLocked(to, tag.type, tag.address, value.data(), value.size());
    ++kept;
  }
  return kept;
}

QXSymResult SymbolModel::ReadRaw(const SymbolView& v, std::uint32_t offset, std::uint32_t size,
                                 std::vector<std::uint8_t>* out) const {
  const std::uint32_t full = FullSize(v);
  if (offset > full || size > full - offset) return symResInvalidParameter;
  out->assign(size, 0);
  std::lock_guard<std::mutex> lock(memory_mutex_);
  if (size != 0) std::memcpy(out->data(), At(v.address + offset), size);
  return symResOk;
}

QXSymResult SymbolModel::WriteRaw(const SymbolView& v, std::uint32_t offset,
                                  const std::uint8_t* data, std::uint32_t size) {
  const std::uint32_t full = FullSize(v);
  if (v.read_only) return symResReadOnlyTag;
  // The byte of a bit-addressed tag holds other bits as well.
  if (v.bit >= 0) return symResBitCommandRequired;
  if (offset > full || size > full - offset) return symResInvalidParameter;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  if (size != 0) std::memcpy(At(v.address + offset), data, size);
  return symResOk;
}

QXSymResult SymbolModel::ReadValues(const std::vector<const SymbolView*>& views,
                                    std::vector<std::uint8_t>* out) const {
  std::size_t total = 0;
  for (const SymbolView* v : views) total += DataSize(*v);
  out->resize(total);
  std::uint8_t* dst = out->data();
  std::lock_guard<std::mutex> lock(memory_mutex_);
  for (const SymbolView* v : views) {
    // What Locate finds for the first element; set here as well so that no
    // path reads them unset.
    const Type* t = v->type->value_type();
    std::uint64_t address = v->address;
    Locate(*v, kNoIndex, &t, &address);
    LoadValueLocked(*v, t, address, dst);
    dst += t->size;
  }
  return symResOk;
}

QXSymResult SymbolModel::WriteValues(const std::vector<const SymbolView*>& views,
                                     const std::uint8_t* data, std::size_t size) {
  std::size_t total = 0;
  for (const SymbolView* v : views) {
    const Type* t = v->type->value_type();
    QXSymResult r = CheckWrite(*v, t, t->size);
    if (r != symResOk) return r;
    total += t->size;
  }
  if (total != size) return symResInvalidGroupSize;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  std::size_t pos = 0;
  for (const SymbolView* v : views) {
    const Type* t = v->type->value_type();
    std::uint64_t address = v->address;
    Locate(*v, kNoIndex, &t, &address);
    StoreValueLocked(*v, t, address, data + pos, t->size);
    pos += t->size;
  }
  return symResOk;
}

// ---- Memory image -------------------------------------------------------------

bool SymbolModel::ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) const {
  if (address < base_ || n > image_.size() || address - base_ > image_.size() - n) return false;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  if (n != 0) std::memcpy(out, At(address), n);
  return true;
}

bool SymbolModel::WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) {
  if (address < base_ || n > image_.size() || address - base_ > image_.size() - n) return false;
  std::lock_guard<std::mutex> lock(memory_mutex_);
  if (n != 0) std::memcpy(At(address), data, n);
  return true;
}

// ---- Variable table -----------------------------------------------------------

const SymbolView* SymbolModel::Variable(std::uint16_t index) const {
  return index < variables_.size() ? &variables_[index] : nullptr;
}

namespace {

// The basic type a numeric wire type stands for; null for the others.
const char* WireTypeName(std::uint8_t wire_type) {
  switch (wire_type) {
    case kVarInt16:
      return "INT";
    case kVarUInt16:
      return "UINT";
    case kVarInt32:
      return "DINT";
    case kVarUInt32:
      return "UDINT";
    case kVarBool:
      return "BOOL";
    case kVarReal32:
      return "REAL";
    case kVarInt64:
      return "LINT";
    case kVarReal64:
      return "LREAL";
    default:
      return nullptr;
  }
}

}  // namespace

QXSymResult SymbolModel::ReadVariable(std::uint16_t index, std::uint8_t wire_type,
                                      std::vector<std::uint8_t>* out) const {
  const SymbolView* v = Variable(index);
  if (v == nullptr) return symResInvalidParameter;
  std::vector<std::uint8_t> bytes;
  QXSymResult r = ReadValue(*v, kNoIndex, &bytes);
  if (r != symResOk) return r;
  if (wire_type == kVarAsDeclared || wire_type == kVarNoType) {
    *out = std::move(bytes);
    return symResOk;
  }
  if (wire_type == kVarString) {
    if (v->type->kind != TypeKind::kString) return symResInvalidParameter;
    std::size_t n = ::strnlen(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    out->assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    out->push_back(0);
    return symResOk;
  }
  const char* name = WireTypeName(wire_type);
  if (name == nullptr || !IsNumericBasic(v->type)) return symResInvalidParameter;
  const Type* wt = FindType(name);
  out->assign(wt->size, 0);
  StoreNumber(wt, LoadNumber(v->type, bytes.data()), out->data());
  return symResOk;
}

QXSymResult SymbolModel::WriteVariable(std::uint16_t index, std::uint8_t wire_type,
                                       const std::uint8_t* data, std::size_t size) {
  const SymbolView* v = Variable(index);
  if (v == nullptr) return symResInvalidParameter;
  if (v->read_only) return symResReadOnlyTag;
  if (wire_type == kVarAsDeclared || wire_type == kVarNoType) {
    return WriteValue(*v, kNoIndex, data, size);
  }
  if (wire_type == kVarString) {
    if (v->type->kind != TypeKind::kString) return symResInvalidParameter;
    return WriteValue(*v, kNoIndex, data, size);
  }
  const char* name = WireTypeName(wire_type);
  if (name == nullptr || !IsNumericBasic(v->type)) return symResInvalidParameter;
  const Type* wt = FindType(name);
  if (size != wt->size) return symResInvalidBuffer;
  std::vector<std::uint8_t> bytes(v->type->size, 0);
  StoreNumber(v->type, LoadNumber(wt, data), bytes.data());
  return WriteValue(*v, kNoIndex, bytes.data(), bytes.size());
}

}  // namespace qxsym::sim
