// A host table for unit tests: every entry records its number and its
// arguments (integers as they are, pointers as addresses, texts as copies,
// written data as bytes) and answers from a script. Outputs are written only
// when the scripted result is symResOk. Texts are handed out with malloc and
// identifier arrays with new[], as the library expects to release them.
//
// Entries are plain functions without user data, so the table answers for
// the one FakeHostTable alive at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "QXSymDirectAccess.h"

namespace qxsym {
namespace test {

struct HostCall {
  int entry;
  std::vector<std::uint64_t> args;  // in order; pointers as addresses
  std::string text;                 // name or filter passed in
  bool text_null = false;
  std::vector<std::uint8_t> data;  // bytes passed in by write entries
};

class FakeHostTable {
 public:
  FakeHostTable() {
    Current() = this;
    Fill();
  }
  ~FakeHostTable() { Current() = nullptr; }
  FakeHostTable(const FakeHostTable&) = delete;
  FakeHostTable& operator=(const FakeHostTable&) = delete;

  const QXSymDirectAccessTable* table() const { return &table_; }
  // For tests that remove an entry.
  QXSymDirectAccessTable& entries() { return table_; }

  // Script. Results per entry (default symResOk).
  std::map<int, QXSymResult> result;
  // Values for the uint32_t outputs of an entry, in argument order.
  std::map<int, std::vector<std::uint32_t>> u32;
  // Value for the bool_t output of an entry.
  std::map<int, bool_t> flag;
  // Text handed out by a text entry; absent: a null text.
  std::map<int, std::string> text;
  // Identifiers handed out by entries 7 and 54; count_override replaces the
  // count reported.
  std::vector<std::uint32_t> ids;
  bool ids_null = false;
  bool count_override_set = false;
  std::uint32_t count_override = 0;
  // Bytes written into the buffer of a read entry (13, 23, 24, 51).
  std::map<int, std::vector<std::uint8_t>> bytes;
  // Entry 22.
  addr64_t address = 0;
  bool write_address = true;
  std::uint32_t bit_offset = 0;
  // Entry 1.
  std::uint8_t version[4] = {3, 0, 1, 1};

  // Record.
  std::vector<HostCall> calls;
  int count(int entry) const {
    int n = 0;
    for (const HostCall& c : calls) n += c.entry == entry;
    return n;
  }
  const HostCall* last(int entry) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->entry == entry) return &*it;
    }
    return nullptr;
  }

 private:
  static FakeHostTable*& Current() {
    static FakeHostTable* current = nullptr;
    return current;
  }
  static std::uint64_t P(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

  // Records a call and answers its scripted result.
  static QXSymResult Rec(int entry, std::vector<std::uint64_t> args, const char* text = nullptr,
                         bool has_text = false, const void* data = nullptr, std::size_t size = 0) {
    FakeHostTable* t = Current();
    HostCall call{entry, std::move(args), {}, false, {}};
    if (has_text) {
      call.text_null = text == nullptr;
      if (text != nullptr) call.text = text;
    }
    if (data != nullptr && size != 0) {
      const auto* d = static_cast<const std::uint8_t*>(data);
      call.data.assign(d, d + size);
    }
    t->calls.push_back(std::move(call));
    const auto r = t->result.find(entry);
    return r == t->result.end() ? symResOk : r->second;
  }
  static std::uint32_t U32(int entry, std::size_t i) {
    const auto it = Current()->u32.find(entry);
    if (it == Current()->u32.end() || i >= it->second.size()) return 0;
    return it->second[i];
  }
  static void PutU32(int entry, std::size_t i, std::uint32_t* out) {
    if (out != nullptr) *out = U32(entry, i);
  }
  static void PutText(int entry, char** out) {
    const auto it = Current()->text.find(entry);
    if (it == Current()->text.end()) return;
    char* s = static_cast<char*>(std::malloc(it->second.size() + 1));
    std::memcpy(s, it->second.c_str(), it->second.size() + 1);
    *out = s;
  }
  static void PutBytes(int entry, void* buffer, std::uint32_t size) {
    const auto it = Current()->bytes.find(entry);
    if (it == Current()->bytes.end()) return;
    std::memcpy(buffer, it->second.data(), std::min<std::size_t>(size, it->second.size()));
  }
  static void PutIds(std::uint32_t** ids, std::uint32_t* count) {
    FakeHostTable* t = Current();
    if (!t->ids_null) {
      *ids = new std::uint32_t[t->ids.size() + 1];
      for (std::size_t i = 0; i < t->ids.size(); ++i) (*ids)[i] = t->ids[i];
    }
    *count = t->count_override_set ? t->count_override : static_cast<std::uint32_t>(t->ids.size());
  }
  static void PutFlag(int entry, bool_t* out) {
    const auto it = Current()->flag.find(entry);
    *out = it == Current()->flag.end() ? 0 : it->second;
  }

  // ---- Workspace entries ----
  static QXSymResult Open(std::uint32_t z1, std::uint32_t sel, std::uint32_t z2,
                          std::uint32_t* ctx) {
    const QXSymResult r = Rec(0, {z1, sel, z2, P(ctx)});
    if (r == symResOk) PutU32(0, 0, ctx);
    return r;
  }
  static QXSymResult Version(std::uint8_t* a, std::uint8_t* b, std::uint8_t* c, std::uint8_t* d) {
    const QXSymResult r = Rec(1, {P(a), P(b), P(c), P(d)});
    if (r == symResOk) {
      *a = Current()->version[0];
      *b = Current()->version[1];
      *c = Current()->version[2];
      *d = Current()->version[3];
    }
    return r;
  }
  static QXSymResult Close(std::uint32_t ctx) { return Rec(2, {ctx}); }
  static QXSymResult IsValid(std::uint32_t ctx) { return Rec(3, {ctx}); }
  static QXSymResult GlobalTag(std::uint32_t ctx, const char* name, std::uint32_t* tag,
                               std::uint32_t* ty, std::uint32_t* ds, std::uint32_t* fs) {
    const QXSymResult r = Rec(6, {ctx, P(name), P(tag), P(ty), P(ds), P(fs)}, name, true);
    if (r == symResOk) {
      PutU32(6, 0, tag);
      PutU32(6, 1, ty);
      PutU32(6, 2, ds);
      PutU32(6, 3, fs);
    }
    return r;
  }
  static QXSymResult GlobalTags(std::uint32_t ctx, std::uint32_t** ids, std::uint32_t* count) {
    const QXSymResult r = Rec(7, {ctx, P(ids), P(count)});
    if (r == symResOk) PutIds(ids, count);
    return r;
  }
  static QXSymResult GlobalTagsNum(std::uint32_t ctx, std::uint32_t* count) {
    const QXSymResult r = Rec(8, {ctx, P(count)});
    if (r == symResOk) PutU32(8, 0, count);
    return r;
  }
  static QXSymResult QueryTags(std::uint32_t ctx, const char* filter, std::uint32_t** ids,
                               std::uint32_t* count) {
    const QXSymResult r = Rec(54, {ctx, P(filter), P(ids), P(count)}, filter, true);
    if (r == symResOk) PutIds(ids, count);
    return r;
  }
  static QXSymResult QueryTagsNum(std::uint32_t ctx, const char* filter, std::uint32_t* count) {
    const QXSymResult r = Rec(55, {ctx, P(filter), P(count)}, filter, true);
    if (r == symResOk) PutU32(55, 0, count);
    return r;
  }

  // ---- Entries on one object ----
  template <int N>
  static QXSymResult Obj(std::uint32_t ctx, std::uint32_t id) {
    return Rec(N, {ctx, id});
  }
  template <int N>
  static QXSymResult ObjText(std::uint32_t ctx, std::uint32_t id, char** text) {
    const QXSymResult r = Rec(N, {ctx, id, P(text)});
    if (r == symResOk) PutText(N, text);
    return r;
  }
  template <int N>
  static QXSymResult ObjU32(std::uint32_t ctx, std::uint32_t id, std::uint32_t* value) {
    const QXSymResult r = Rec(N, {ctx, id, P(value)});
    if (r == symResOk) PutU32(N, 0, value);
    return r;
  }
  template <int N>
  static QXSymResult ObjBool(std::uint32_t ctx, std::uint32_t id, bool_t* answer) {
    const QXSymResult r = Rec(N, {ctx, id, P(answer)});
    if (r == symResOk) PutFlag(N, answer);
    return r;
  }

  // ---- Tag entries ----
  static QXSymResult RawGet(std::uint32_t ctx, std::uint32_t tag, std::uint32_t off,
                            std::uint32_t size, void* buf, std::uint32_t bufSize,
                            std::uint32_t* count) {
    const QXSymResult r = Rec(13, {ctx, tag, off, size, P(buf), bufSize, P(count)});
    if (r == symResOk) PutBytes(13, buf, size);
    return r;
  }
  static QXSymResult RawSet(std::uint32_t ctx, std::uint32_t tag, std::uint32_t off,
                            std::uint32_t size, const void* data, std::uint32_t* count) {
    return Rec(14, {ctx, tag, off, size, P(data), P(count)}, nullptr, false, data, size);
  }
  static QXSymResult Attribute(std::uint32_t ctx, std::uint32_t tag, const char* name,
                               char** text) {
    const QXSymResult r = Rec(16, {ctx, tag, P(name), P(text)}, name, true);
    if (r == symResOk) PutText(16, text);
    return r;
  }
  static QXSymResult Dims(std::uint32_t ctx, std::uint32_t tag, std::uint32_t* d1,
                          std::uint32_t* d2, std::uint32_t* d3) {
    const QXSymResult r = Rec(21, {ctx, tag, P(d1), P(d2), P(d3)});
    if (r == symResOk) {
      PutU32(21, 0, d1);
      PutU32(21, 1, d2);
      PutU32(21, 2, d3);
    }
    return r;
  }
  static QXSymResult ArrayAddress(std::uint32_t ctx, std::uint32_t tag, std::uint32_t i1,
                                  std::uint32_t i2, std::uint32_t i3, addr64_t* address,
                                  std::uint32_t* bit, std::uint8_t* r1, std::uint8_t* r2) {
    const QXSymResult r = Rec(22, {ctx, tag, i1, i2, i3, P(address), P(bit), P(r1), P(r2),
                                   static_cast<std::uint64_t>(*address), *r1, *r2});
    if (r == symResOk) {
      if (Current()->write_address) *address = Current()->address;
      if (bit != nullptr) *bit = Current()->bit_offset;
    }
    return r;
  }
  static QXSymResult ArrayGet(std::uint32_t ctx, std::uint32_t tag, std::uint32_t i1,
                              std::uint32_t i2, std::uint32_t i3, void* buf, std::uint32_t size,
                              std::uint32_t* count) {
    const QXSymResult r = Rec(23, {ctx, tag, i1, i2, i3, P(buf), size, P(count)});
    if (r == symResOk) PutBytes(23, buf, size);
    return r;
  }
  static QXSymResult ValueGet(std::uint32_t ctx, std::uint32_t tag, void* buf, std::uint32_t size,
                              std::uint32_t* count) {
    const QXSymResult r = Rec(24, {ctx, tag, P(buf), size, P(count)});
    if (r == symResOk) PutBytes(24, buf, size);
    return r;
  }
  static QXSymResult ArraySet(std::uint32_t ctx, std::uint32_t tag, std::uint32_t i1,
                              std::uint32_t i2, std::uint32_t i3, const void* data,
                              std::uint32_t size) {
    return Rec(25, {ctx, tag, i1, i2, i3, P(data), size}, nullptr, false, data, size);
  }
  static QXSymResult ValueSet(std::uint32_t ctx, std::uint32_t tag, const void* data,
                              std::uint32_t size) {
    return Rec(26, {ctx, tag, P(data), size}, nullptr, false, data, size);
  }

  // ---- Type entries ----
  static QXSymResult Child(std::uint32_t ctx, std::uint32_t type, std::uint32_t index,
                           std::uint32_t* child) {
    const QXSymResult r = Rec(40, {ctx, type, index, P(child)});
    if (r == symResOk) PutU32(40, 0, child);
    return r;
  }
  static QXSymResult ChildByName(std::uint32_t ctx, std::uint32_t type, const char* name,
                                 std::uint32_t* child) {
    const QXSymResult r = Rec(41, {ctx, type, P(name), P(child)}, name, true);
    if (r == symResOk) PutU32(41, 0, child);
    return r;
  }
  static QXSymResult ChildName(std::uint32_t ctx, std::uint32_t type, std::uint32_t index,
                               char** text) {
    const QXSymResult r = Rec(42, {ctx, type, index, P(text)});
    if (r == symResOk) PutText(42, text);
    return r;
  }
  static QXSymResult Dimension(std::uint32_t ctx, std::uint32_t type, std::uint32_t index,
                               std::uint32_t* value) {
    const QXSymResult r = Rec(44, {ctx, type, index, P(value)});
    if (r == symResOk) PutU32(44, 0, value);
    return r;
  }
  static QXSymResult Dimensions(std::uint32_t ctx, std::uint32_t type, std::uint32_t* values,
                                std::uint8_t maxCount) {
    const QXSymResult r = Rec(45, {ctx, type, P(values), maxCount});
    if (r == symResOk) {
      const auto it = Current()->u32.find(45);
      if (it != Current()->u32.end()) {
        for (std::size_t i = 0; i < it->second.size() && i < maxCount; ++i) {
          values[i] = it->second[i];
        }
      }
    }
    return r;
  }

  // ---- Group entries ----
  static QXSymResult CreateGroup(std::uint32_t ctx, std::uint32_t* group) {
    const QXSymResult r = Rec(47, {ctx, P(group)});
    if (r == symResOk) PutU32(47, 0, group);
    return r;
  }
  static QXSymResult GroupAdd(std::uint32_t ctx, std::uint32_t group, std::uint32_t tag,
                              std::uint32_t* size) {
    const QXSymResult r = Rec(49, {ctx, group, tag, P(size)});
    if (r == symResOk) {
      // Member sizes are scripted per tag identifier.
      const auto it = Current()->member_size.find(tag);
      *size = it == Current()->member_size.end() ? 0 : it->second;
    }
    return r;
  }
  static QXSymResult GroupRemove(std::uint32_t ctx, std::uint32_t group, std::uint32_t tag) {
    return Rec(50, {ctx, group, tag});
  }
  static QXSymResult GroupRead(std::uint32_t ctx, std::uint32_t group, void* buf,
                               std::uint32_t size) {
    const QXSymResult r = Rec(51, {ctx, group, P(buf), size});
    if (r == symResOk) PutBytes(51, buf, size);
    return r;
  }
  static QXSymResult GroupWrite(std::uint32_t ctx, std::uint32_t group, const void* buf,
                                std::uint32_t size) {
    return Rec(52, {ctx, group, P(buf), size}, nullptr, false, buf, size);
  }

  void Fill() {
    QXSymDirectAccessTable& t = table_;
    std::memset(&t, 0, sizeof t);
    t.Open = &Open;
    t.GetServerVersion = &Version;
    t.Close = &Close;
    t.IsValid = &IsValid;
    t.GetGlobalTag = &GlobalTag;
    t.GetGlobalTags = &GlobalTags;
    t.GetGlobalTagsNum = &GlobalTagsNum;
    t.TagClose = &Obj<9>;
    t.TagGetName = &ObjText<10>;
    t.TagGetDataType = &ObjText<11>;
    t.TagGetDataTypeVar = &ObjU32<12>;
    t.TagGetRawValue = &RawGet;
    t.TagSetRawValue = &RawSet;
    t.TagGetDescr = &ObjText<15>;
    t.TagGetAttribute = &Attribute;
    t.TagGetDataSize = &ObjU32<17>;
    t.TagGetDataFullSize = &ObjU32<18>;
    t.TagIsReadOnly = &ObjBool<19>;
    t.TagIsBitAddress = &ObjBool<20>;
    t.TagGetDims = &Dims;
    t.TagGetArrayAddress = &ArrayAddress;
    t.TagGetArrayValue = &ArrayGet;
    t.TagGetValue = &ValueGet;
    t.TagSetArrayValue = &ArraySet;
    t.TagSetValue = &ValueSet;
    t.TagGetType = &ObjU32<27>;
    t.TypeIsBasic = &ObjBool<28>;
    t.TypeIsComplex = &ObjBool<29>;
    t.TypeIsString = &ObjBool<30>;
    t.TypeIsArray = &ObjBool<31>;
    t.TypeIsStruct = &ObjBool<32>;
    t.TypeIsFunctionBlock = &ObjBool<33>;
    t.TypeIsNumeric = &ObjBool<34>;
    t.TypeIsSigned = &ObjBool<35>;
    t.TypeIsInteger = &ObjBool<36>;
    t.TypeGetSize = &ObjU32<37>;
    t.TypeGetName = &ObjText<38>;
    t.TypeGetNumChildren = &ObjU32<39>;
    t.TypeGetChild = &Child;
    t.TypeGetChildByName = &ChildByName;
    t.TypeGetChildName = &ChildName;
    t.TypeGetArrayNumDimensions = &ObjU32<43>;
    t.TypeGetArrayDimension = &Dimension;
    t.TypeGetArrayDimensions = &Dimensions;
    t.TypeGetProperties = &ObjU32<46>;
    t.CreateGroup = &CreateGroup;
    t.GroupDelete = &Obj<48>;
    t.GroupAddTag = &GroupAdd;
    t.GroupRemoveTag = &GroupRemove;
    t.GroupRead = &GroupRead;
    t.GroupWrite = &GroupWrite;
    t.QueryGlobalTags = &QueryTags;
    t.QueryGlobalTagsNum = &QueryTagsNum;
  }

  QXSymDirectAccessTable table_;

 public:
  // Entry 49: the member size reported for each tag identifier.
  std::map<std::uint32_t, std::uint32_t> member_size;
};

}  // namespace test
}  // namespace qxsym
