#include "HostTable.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "SymbolMessages.h"

namespace qxsym::sim {

namespace {

// ---- Slots ----------------------------------------------------------------------
// The entries of slot S find their service here. A call copies the
// shared pointer, so a table destroyed meanwhile never frees the service
// under a running call.

struct SlotRegistry {
  std::mutex mutex;
  std::shared_ptr<SymbolService> service[HostTable::kSlots];
  bool used[HostTable::kSlots] = {};
};

SlotRegistry& Slots() {
  static SlotRegistry registry;
  return registry;
}

std::shared_ptr<SymbolService> SlotService(int slot) {
  SlotRegistry& r = Slots();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.service[slot];
}

// ---- Helpers ----------------------------------------------------------------------

// A text for the library to free: at most 259 characters, as on the wire.
QXSymResult Dup(const std::string& text, char** out) {
  std::size_t n = std::min<std::size_t>(::strnlen(text.c_str(), text.size()), kMaxSentTextChars);
  char* p = static_cast<char*>(std::malloc(n + 1));
  if (p == nullptr) return symResMemoryAllocError;
  std::memcpy(p, text.data(), n);
  p[n] = 0;
  *out = p;
  return symResOk;
}

// An identifier array for the library's delete[]; never null on success.
QXSymResult IdArray(const std::vector<std::uint32_t>& ids, std::uint32_t** out,
                    std::uint32_t* count) {
  std::uint32_t* a = new (std::nothrow) std::uint32_t[ids.empty() ? 1 : ids.size()];
  if (a == nullptr) return symResMemoryAllocError;
  if (!ids.empty()) std::memcpy(a, ids.data(), ids.size() * sizeof(std::uint32_t));
  *out = a;
  *count = static_cast<std::uint32_t>(ids.size());
  return symResOk;
}

QXSymResult CopyOut(const std::vector<std::uint8_t>& value, void* buffer, std::uint32_t size,
                    std::uint32_t* count) {
  if (value.size() > size) return symResInvalidBuffer;
  if (!value.empty()) {
    if (buffer == nullptr) return symResInvalidParameter;
    std::memcpy(buffer, value.data(), value.size());
  }
  if (count != nullptr) *count = static_cast<std::uint32_t>(value.size());
  return symResOk;
}

// ---- Workspace entries ------------------------------------------------------------

QXSymResult Open(SymbolService& s, std::uint32_t, std::uint32_t selector, std::uint32_t,
                 std::uint32_t* ctx) {
  if (ctx == nullptr) return symResInvalidParameter;
  return s.OpenWorkspace(static_cast<std::uint8_t>(selector), ctx);
}

QXSymResult GetServerVersion(SymbolService& s, std::uint8_t* major, std::uint8_t* minor,
                             std::uint8_t* revision, std::uint8_t* build) {
  if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
    return symResInvalidParameter;
  }
  s.GetVersion(major, minor, revision, build);
  return symResOk;
}

QXSymResult Close(SymbolService& s, std::uint32_t ctx) { return s.CloseWorkspace(ctx); }
QXSymResult IsValid(SymbolService& s, std::uint32_t ctx) { return s.CheckWorkspace(ctx); }

QXSymResult GetGlobalTag(SymbolService& s, std::uint32_t ctx, const char* name, std::uint32_t* tag,
                         std::uint32_t* tyvar, std::uint32_t* data_size, std::uint32_t* full_size) {
  if (name == nullptr || tag == nullptr || tyvar == nullptr || data_size == nullptr ||
      full_size == nullptr) {
    return symResInvalidParameter;
  }
  QXSymResult r = s.CheckWorkspace(ctx);
  if (r != symResOk) return r;
  SymbolView view;
  r = s.symbols().Resolve(name, &view);
  std::uint32_t id = 0;
  if (r == symResOk) r = s.NewTag(ctx, view, &id);
  if (r != symResOk) return r;
  *tag = id;
  *tyvar = SymbolModel::TyVar(view);
  *data_size = SymbolModel::DataSize(view);
  *full_size = SymbolModel::FullSize(view);
  return symResOk;
}

QXSymResult ListTags(SymbolService& s, std::uint32_t ctx, const std::vector<std::size_t>& hits,
                     std::uint32_t** tags, std::uint32_t* count) {
  std::vector<std::uint32_t> ids;
  QXSymResult r = s.NewTags(ctx, hits, &ids);
  if (r != symResOk) return r;
  r = IdArray(ids, tags, count);
  if (r != symResOk) {
    for (std::uint32_t id : ids) s.CloseTag(ctx, id);
  }
  return r;
}

QXSymResult GetGlobalTags(SymbolService& s, std::uint32_t ctx, std::uint32_t** tags,
                          std::uint32_t* count) {
  if (tags == nullptr || count == nullptr) return symResInvalidParameter;
  QXSymResult r = s.CheckWorkspace(ctx);
  if (r != symResOk) return r;
  std::vector<std::size_t> hits(s.symbols().tags().size());
  for (std::size_t i = 0; i < hits.size(); ++i) hits[i] = i;
  return ListTags(s, ctx, hits, tags, count);
}

QXSymResult QueryGlobalTags(SymbolService& s, std::uint32_t ctx, const char* filter,
                            std::uint32_t** tags, std::uint32_t* count) {
  if (tags == nullptr || count == nullptr) return symResInvalidParameter;
  QXSymResult r = s.CheckWorkspace(ctx);
  if (r != symResOk) return r;
  return ListTags(s, ctx, s.symbols().Match(filter != nullptr ? filter : ""), tags, count);
}

QXSymResult GetGlobalTagsNum(SymbolService& s, std::uint32_t ctx, std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  QXSymResult r = s.CheckWorkspace(ctx);
  if (r == symResOk) *count = static_cast<std::uint32_t>(s.symbols().tags().size());
  return r;
}

QXSymResult QueryGlobalTagsNum(SymbolService& s, std::uint32_t ctx, const char* filter,
                               std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  QXSymResult r = s.CheckWorkspace(ctx);
  if (r == symResOk) {
    *count = static_cast<std::uint32_t>(s.symbols().Match(filter != nullptr ? filter : "").size());
  }
  return r;
}

QXSymResult CreateGroup(SymbolService& s, std::uint32_t ctx, std::uint32_t* group) {
  if (group == nullptr) return symResInvalidParameter;
  return s.CreateGroup(ctx, group);
}

// ---- Tag entries ----------------------------------------------------------------

QXSymResult TagClose(SymbolService& s, std::uint32_t ctx, std::uint32_t tag) {
  return s.CloseTag(ctx, tag);
}

enum class TagText { kName, kDataType, kDescr };

template <TagText What>
QXSymResult TagGetText(SymbolService& s, std::uint32_t ctx, std::uint32_t tag, char** text) {
  if (text == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  switch (What) {
    case TagText::kName:
      return Dup(v.name, text);
    case TagText::kDataType:
      return Dup(v.type->name, text);
    case TagText::kDescr:
      return Dup(*v.description, text);
  }
  return symResNotOk;
}

QXSymResult TagGetAttribute(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                            const char* name, char** text) {
  if (text == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  std::string value;
  r = SymbolModel::Attribute(v, name != nullptr ? name : "", &value);
  if (r != symResOk) return r;
  return Dup(value, text);
}

enum class TagNumber { kTyVar, kDataSize, kFullSize };

template <TagNumber What>
QXSymResult TagGetU32(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                      std::uint32_t* value) {
  if (value == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  *value = What == TagNumber::kTyVar      ? SymbolModel::TyVar(v)
           : What == TagNumber::kDataSize ? SymbolModel::DataSize(v)
                                          : SymbolModel::FullSize(v);
  return symResOk;
}

template <bool kBitAddress>
QXSymResult TagGetFlag(SymbolService& s, std::uint32_t ctx, std::uint32_t tag, bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  *answer = (kBitAddress ? v.bit >= 0 : v.read_only) ? TRUE : FALSE;
  return symResOk;
}

QXSymResult TagGetDims(SymbolService& s, std::uint32_t ctx, std::uint32_t tag, std::uint32_t* d1,
                       std::uint32_t* d2, std::uint32_t* d3) {
  if (d1 == nullptr || d2 == nullptr || d3 == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  std::uint32_t d[3];
  SymbolModel::Dims(v, d);
  *d1 = d[0];
  *d2 = d[1];
  *d3 = d[2];
  return symResOk;
}

QXSymResult TagGetRawValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                           std::uint32_t offset, std::uint32_t size, void* buffer,
                           std::uint32_t buffer_size, std::uint32_t* count) {
  if (buffer_size < size) return symResInvalidBuffer;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  std::vector<std::uint8_t> bytes;
  r = s.symbols().ReadRaw(v, offset, size, &bytes);
  if (r != symResOk) return r;
  return CopyOut(bytes, buffer, buffer_size, count);
}

QXSymResult TagSetRawValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                           std::uint32_t offset, std::uint32_t size, const void* data,
                           std::uint32_t* count) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  r = s.symbols().WriteRaw(v, offset, static_cast<const std::uint8_t*>(data), size);
  if (r == symResOk && count != nullptr) *count = size;
  return r;
}

QXSymResult TagGetArrayAddress(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                               std::uint32_t i1, std::uint32_t i2, std::uint32_t i3,
                               addr64_t* address, std::uint32_t* bit_offset, std::uint8_t*,
                               std::uint8_t*) {
  if (address == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  const std::uint32_t idx[3] = {i1, i2, i3};
  std::uint64_t a = 0;
  std::uint32_t bit = 0;
  r = SymbolModel::ElementAddress(v, idx, &a, &bit);
  if (r != symResOk) return r;
  *address = a;
  if (bit_offset != nullptr) *bit_offset = bit;
  return symResOk;
}

QXSymResult TagGetArrayValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                             std::uint32_t i1, std::uint32_t i2, std::uint32_t i3, void* buffer,
                             std::uint32_t size, std::uint32_t* count) {
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  const std::uint32_t idx[3] = {i1, i2, i3};
  std::vector<std::uint8_t> value;
  r = s.symbols().ReadValue(v, idx, &value);
  if (r != symResOk) return r;
  return CopyOut(value, buffer, size, count);
}

QXSymResult TagGetValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag, void* buffer,
                        std::uint32_t size, std::uint32_t* count) {
  return TagGetArrayValue(s, ctx, tag, 0, 0, 0, buffer, size, count);
}

QXSymResult TagSetArrayValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                             std::uint32_t i1, std::uint32_t i2, std::uint32_t i3, const void* data,
                             std::uint32_t size) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  const std::uint32_t idx[3] = {i1, i2, i3};
  return s.symbols().WriteValue(v, idx, static_cast<const std::uint8_t*>(data), size);
}

QXSymResult TagSetValue(SymbolService& s, std::uint32_t ctx, std::uint32_t tag, const void* data,
                        std::uint32_t size) {
  return TagSetArrayValue(s, ctx, tag, 0, 0, 0, data, size);
}

QXSymResult TagGetType(SymbolService& s, std::uint32_t ctx, std::uint32_t tag,
                       std::uint32_t* type) {
  if (type == nullptr) return symResInvalidParameter;
  SymbolView v;
  QXSymResult r = s.FindTag(ctx, tag, &v);
  if (r != symResOk) return r;
  return s.TypeId(ctx, v.type, type);
}

// ---- Type entries -----------------------------------------------------------------

template <std::uint32_t Flag>
QXSymResult TypeIs(SymbolService& s, std::uint32_t ctx, std::uint32_t type, bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r == symResOk) *answer = (t->properties & Flag) != 0 ? TRUE : FALSE;
  return r;
}

enum class TypeNumber { kSize, kChildren, kDims, kProperties };

template <TypeNumber What>
QXSymResult TypeGetU32(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                       std::uint32_t* value) {
  if (value == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  switch (What) {
    case TypeNumber::kSize:
      *value = t->size;
      break;
    case TypeNumber::kChildren:
      *value = t->ChildCount();
      break;
    case TypeNumber::kDims:
      *value = static_cast<std::uint32_t>(t->dims.size());
      break;
    case TypeNumber::kProperties:
      *value = t->properties;
      break;
  }
  return symResOk;
}

QXSymResult TypeGetName(SymbolService& s, std::uint32_t ctx, std::uint32_t type, char** text) {
  if (text == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  return Dup(t->name, text);
}

QXSymResult TypeChildId(SymbolService& s, std::uint32_t ctx, const Type* child, QXSymResult missing,
                        std::uint32_t* out) {
  if (child == nullptr) return missing;
  return s.TypeId(ctx, child, out);
}

QXSymResult TypeGetChild(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                         std::uint32_t index, std::uint32_t* child) {
  if (child == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  return TypeChildId(s, ctx, t->Child(index), symResInvalidParameter, child);
}

QXSymResult TypeGetChildByName(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                               const char* name, std::uint32_t* child) {
  if (child == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  return TypeChildId(s, ctx, t->ChildByName(name != nullptr ? name : ""), symResSymbolNotFound,
                     child);
}

QXSymResult TypeGetChildName(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                             std::uint32_t index, char** text) {
  if (text == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  const std::string* name = t->ChildName(index);
  if (name == nullptr) return symResInvalidParameter;
  return Dup(*name, text);
}

QXSymResult TypeGetArrayDimension(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                                  std::uint32_t index, std::uint32_t* value) {
  if (value == nullptr) return symResInvalidParameter;
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  if (index >= t->dims.size()) return symResInvalidParameter;
  *value = t->dims[index].count();
  return symResOk;
}

QXSymResult TypeGetArrayDimensions(SymbolService& s, std::uint32_t ctx, std::uint32_t type,
                                   std::uint32_t* values, std::uint8_t max_count) {
  const Type* t;
  QXSymResult r = s.FindType(ctx, type, &t);
  if (r != symResOk) return r;
  if (t->dims.size() > max_count) return symResInvalidParameter;
  if (values == nullptr && !t->dims.empty()) return symResInvalidParameter;
  for (std::size_t k = 0; k < t->dims.size(); ++k) values[k] = t->dims[k].count();
  return symResOk;
}

// ---- Group entries ----------------------------------------------------------------

QXSymResult GroupDelete(SymbolService& s, std::uint32_t ctx, std::uint32_t group) {
  return s.DeleteGroup(ctx, group);
}

QXSymResult GroupAddTag(SymbolService& s, std::uint32_t ctx, std::uint32_t group, std::uint32_t tag,
                        std::uint32_t* member_size) {
  if (member_size == nullptr) return symResInvalidParameter;
  return s.GroupAddTag(ctx, group, tag, member_size);
}

QXSymResult GroupRemoveTag(SymbolService& s, std::uint32_t ctx, std::uint32_t group,
                           std::uint32_t tag) {
  return s.GroupRemoveTag(ctx, group, tag);
}

QXSymResult GroupRead(SymbolService& s, std::uint32_t ctx, std::uint32_t group, void* buffer,
                      std::uint32_t size) {
  std::vector<std::uint8_t> values;
  QXSymResult r = s.GroupRead(ctx, group, size, &values);
  if (r != symResOk) return r;
  return CopyOut(values, buffer, size, nullptr);
}

QXSymResult GroupWrite(SymbolService& s, std::uint32_t ctx, std::uint32_t group, const void* buffer,
                       std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  return s.GroupWrite(ctx, group, static_cast<const std::uint8_t*>(buffer), size);
}

// ---- Binding entries to slots -------------------------------------------------------

// Thunk<S, F>::Call has the plain signature of a table entry and forwards to
// F with the service of slot S.
template <int S, auto F>
struct Thunk;

template <int S, typename... A, QXSymResult (*F)(SymbolService&, A...)>
struct Thunk<S, F> {
  static QXSymResult Call(A... args) {
    std::shared_ptr<SymbolService> service = SlotService(S);
    if (!service) return symResShutdownInProgress;
    try {
      return F(*service, args...);
    } catch (const std::bad_alloc&) {
      return symResMemoryAllocError;
    } catch (...) {
      return symResNotOk;
    }
  }
};

template <int S>
QXSymDirectAccessTable MakeTable() {
  QXSymDirectAccessTable t;
  std::memset(&t, 0, sizeof t);
  t.Open = &Thunk<S, &Open>::Call;
  t.GetServerVersion = &Thunk<S, &GetServerVersion>::Call;
  t.Close = &Thunk<S, &Close>::Call;
  t.IsValid = &Thunk<S, &IsValid>::Call;
  t.GetGlobalTag = &Thunk<S, &GetGlobalTag>::Call;
  t.GetGlobalTags = &Thunk<S, &GetGlobalTags>::Call;
  t.GetGlobalTagsNum = &Thunk<S, &GetGlobalTagsNum>::Call;
  t.TagClose = &Thunk<S, &TagClose>::Call;
  t.TagGetName = &Thunk<S, &TagGetText<TagText::kName>>::Call;
  t.TagGetDataType = &Thunk<S, &TagGetText<TagText::kDataType>>::Call;
  t.TagGetDataTypeVar = &Thunk<S, &TagGetU32<TagNumber::kTyVar>>::Call;
  t.TagGetRawValue = &Thunk<S, &TagGetRawValue>::Call;
  t.TagSetRawValue = &Thunk<S, &TagSetRawValue>::Call;
  t.TagGetDescr = &Thunk<S, &TagGetText<TagText::kDescr>>::Call;
  t.TagGetAttribute = &Thunk<S, &TagGetAttribute>::Call;
  t.TagGetDataSize = &Thunk<S, &TagGetU32<TagNumber::kDataSize>>::Call;
  t.TagGetDataFullSize = &Thunk<S, &TagGetU32<TagNumber::kFullSize>>::Call;
  t.TagIsReadOnly = &Thunk<S, &TagGetFlag<false>>::Call;
  t.TagIsBitAddress = &Thunk<S, &TagGetFlag<true>>::Call;
  t.TagGetDims = &Thunk<S, &TagGetDims>::Call;
  t.TagGetArrayAddress = &Thunk<S, &TagGetArrayAddress>::Call;
  t.TagGetArrayValue = &Thunk<S, &TagGetArrayValue>::Call;
  t.TagGetValue = &Thunk<S, &TagGetValue>::Call;
  t.TagSetArrayValue = &Thunk<S, &TagSetArrayValue>::Call;
  t.TagSetValue = &Thunk<S, &TagSetValue>::Call;
  t.TagGetType = &Thunk<S, &TagGetType>::Call;
  t.TypeIsBasic = &Thunk<S, &TypeIs<QXSymTypeIsBasic>>::Call;
  t.TypeIsComplex = &Thunk<S, &TypeIs<QXSymTypeIsComplex>>::Call;
  t.TypeIsString = &Thunk<S, &TypeIs<QXSymTypeIsString>>::Call;
  t.TypeIsArray = &Thunk<S, &TypeIs<QXSymTypeIsArray>>::Call;
  t.TypeIsStruct = &Thunk<S, &TypeIs<QXSymTypeIsStruct>>::Call;
  t.TypeIsFunctionBlock = &Thunk<S, &TypeIs<QXSymTypeIsFunctionBlock>>::Call;
  t.TypeIsNumeric = &Thunk<S, &TypeIs<QXSymTypeIsNumeric>>::Call;
  t.TypeIsSigned = &Thunk<S, &TypeIs<QXSymTypeIsSigned>>::Call;
  t.TypeIsInteger = &Thunk<S, &TypeIs<QXSymTypeIsInteger>>::Call;
  t.TypeGetSize = &Thunk<S, &TypeGetU32<TypeNumber::kSize>>::Call;
  t.TypeGetName = &Thunk<S, &TypeGetName>::Call;
  t.TypeGetNumChildren = &Thunk<S, &TypeGetU32<TypeNumber::kChildren>>::Call;
  t.TypeGetChild = &Thunk<S, &TypeGetChild>::Call;
  t.TypeGetChildByName = &Thunk<S, &TypeGetChildByName>::Call;
  t.TypeGetChildName = &Thunk<S, &TypeGetChildName>::Call;
  t.TypeGetArrayNumDimensions = &Thunk<S, &TypeGetU32<TypeNumber::kDims>>::Call;
  t.TypeGetArrayDimension = &Thunk<S, &TypeGetArrayDimension>::Call;
  t.TypeGetArrayDimensions = &Thunk<S, &TypeGetArrayDimensions>::Call;
  t.TypeGetProperties = &Thunk<S, &TypeGetU32<TypeNumber::kProperties>>::Call;
  t.CreateGroup = &Thunk<S, &CreateGroup>::Call;
  t.GroupDelete = &Thunk<S, &GroupDelete>::Call;
  t.GroupAddTag = &Thunk<S, &GroupAddTag>::Call;
  t.GroupRemoveTag = &Thunk<S, &GroupRemoveTag>::Call;
  t.GroupRead = &Thunk<S, &GroupRead>::Call;
  t.GroupWrite = &Thunk<S, &GroupWrite>::Call;
  t.QueryGlobalTags = &Thunk<S, &QueryGlobalTags>::Call;
  t.QueryGlobalTagsNum = &Thunk<S, &QueryGlobalTagsNum>::Call;
  return t;
}

template <std::size_t... S>
const QXSymDirectAccessTable* Tables(std::index_sequence<S...>) {
  static const QXSymDirectAccessTable tables[] = {MakeTable<static_cast<int>(S)>()...};
  return tables;
}

const QXSymDirectAccessTable* AllTables() {
  return Tables(std::make_index_sequence<HostTable::kSlots>());
}

}  // namespace

HostTable::HostTable(std::shared_ptr<SymbolModel> model)
    : HostTable(std::make_shared<SymbolService>(std::move(model))) {}

HostTable::HostTable(std::shared_ptr<SymbolService> service) : service_(std::move(service)) {
  AllTables();  // built before the first entry can be reached
  SlotRegistry& r = Slots();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (int i = 0; i < kSlots; ++i) {
    if (!r.used[i]) {
      r.used[i] = true;
      r.service[i] = service_;
      slot_ = i;
      return;
    }
  }
  throw std::runtime_error("all host-table slots are in use");
}

HostTable::~HostTable() {
  StopLiveValues();
  SlotRegistry& r = Slots();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.service[slot_].reset();
  r.used[slot_] = false;
}

const QXSymDirectAccessTable* HostTable::table() const { return &AllTables()[slot_]; }

void HostTable::FillAddress(QXSymServerAddress* address) const {
  std::memset(address, 0, sizeof *address);
  address->protocol = symProtDirectAccess;
  const QXSymDirectAccessTable* t = table();
  std::memcpy(address->ip, &t, sizeof t);
}

void HostTable::StartLiveValues(std::chrono::milliseconds period) {
  if (!live_) live_ = std::make_unique<LiveScan>(service_->model(), period);
  live_->Start();
}

void HostTable::StopLiveValues() {
  if (live_) live_->Stop();
}

}  // namespace qxsym::sim
