// Exported functions that move a tag's value as a VARIANT. The tag forms run
// on a copy of the tag outside the library lock; the group forms run on the
// registered group and tag under it, so the tag's cache keeps what they learn.
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "ApiShape.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymOle.h"
#include "QXSymVariant.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

// Room of the VARIANT's value field.
constexpr std::uint32_t kValueField = 8;
// Largest text tag moved through a VARIANT; a data size beyond it is taken
// for a broken description rather than allocated.
constexpr std::uint32_t kMaxTextSize = 1u << 20;

// The one place where a basic variable type becomes a VARIANT type; VT_EMPTY
// when it has none.
VARTYPE VariantTypeOf(std::uint32_t type_var) {
  switch (type_var) {
    case QXSymTyVarBool:
      return VT_BOOL;
    case QXSymTyVarSInt:
      return VT_I1;
    case QXSymTyVarUSInt:
    case QXSymTyVarByte:
      return VT_UI1;
    case QXSymTyVarInt:
      return VT_I2;
    case QXSymTyVarUInt:
    case QXSymTyVarWord:
      return VT_UI2;
    case QXSymTyVarDInt:
      return VT_I4;
    case QXSymTyVarUDInt:
    case QXSymTyVarDWord:
      return VT_UI4;
    case QXSymTyVarLInt:
      return VT_I8;
    case QXSymTyVarULInt:
    case QXSymTyVarLWord:
      return VT_UI8;
    case QXSymTyVarReal:
      return VT_R4;
    case QXSymTyVarLReal:
      return VT_R8;
    case QXSymTyVarString:
      return VT_BSTR;
    default:
      return VT_EMPTY;
  }
}

// Bytes of the value field that a VARIANT of a mapped scalar type holds;
// the rest of the field means nothing and may hold anything.
std::uint32_t ValueWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_BOOL:
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
      return 4;
    default:
      return 8;
  }
}

bool Refused(VARTYPE vt) { return vt == VT_EMPTY || vt == VT_NULL || vt == VT_ERROR; }

unsigned char* ValueField(VARIANT* v) { return reinterpret_cast<unsigned char*>(&v->llVal); }
const unsigned char* ValueField(const VARIANT* v) {
  return reinterpret_cast<const unsigned char*>(&v->llVal);
}

// Elements on the stack up to 128, on the heap beyond.
template <typename T>
class TextBuffer {
 public:
  explicit TextBuffer(std::size_t n) {
    if (n > sizeof(local_) / sizeof(T)) {
      heap_.reset(new (std::nothrow) T[n]);
      data_ = heap_.get();
    }
  }
  T* data() { return data_; }

 private:
  T local_[128];
  std::unique_ptr<T[]> heap_;
  T* data_ = local_;
};

// How a function reaches the tag: its type and size, and the value bytes.
struct Access {
  QXSymClientTag& tag;
  // Moves size bytes of the value (element or group member).
  QXSymResult (*read)(const Access&, void* buffer, std::uint32_t size);
  QXSymResult (*write)(const Access&, const void* data, std::uint32_t size);
  std::uint32_t index1 = 0, index2 = 0, index3 = 0;
  QXSymClientGroup* group = nullptr;
  QXSymTagHandle handle = 0;
};

QXSymResult ReadElement(const Access& a, void* buffer, std::uint32_t size) {
  return a.tag.GetArrayValue(a.index1, a.index2, a.index3, buffer, size);
}
QXSymResult WriteElement(const Access& a, const void* data, std::uint32_t size) {
  return a.tag.SetArrayValue(a.index1, a.index2, a.index3, data, size);
}
QXSymResult ReadMember(const Access& a, void* buffer, std::uint32_t size) {
  return a.group->GetTagValue(a.handle, buffer, size);
}
QXSymResult WriteMember(const Access& a, const void* data, std::uint32_t size) {
  return a.group->SetTagValue(a.handle, data, size);
}

// Text of the tag into a new BSTR; the read's result is returned and the
// VARIANT holds a string (possibly empty) whenever memory allowed one.
QXSymResult ReadText(const Access& a, std::uint32_t size, VARIANT* value) {
  TextBuffer<char> text(size + 1u);
  if (text.data() == nullptr) return symResMemoryAllocError;
  text.data()[0] = '\0';
  const QXSymResult r = a.read(a, text.data(), size);
  std::size_t n = 0;
  while (n < size && text.data()[n] != '\0') ++n;
  int wide = 0;
  if (n != 0) {
    wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(n), nullptr, 0);
    if (wide <= 0) return r != symResOk ? r : symResInvalidVARIANT;
  }
  TextBuffer<OLECHAR> converted(static_cast<std::size_t>(wide) + 1u);
  if (converted.data() == nullptr) return symResMemoryAllocError;
  if (wide != 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(n), converted.data(), wide);
  }
  converted.data()[wide] = 0;
  BSTR s = SysAllocString(converted.data());
  if (s == nullptr) return symResMemoryAllocError;
  value->bstrVal = s;
  return r;
}

QXSymResult ReadVariant(const Access& a, VARIANT* value) {
  if (value->vt != VT_EMPTY) VariantClear(value);
  VariantInit(value);  // also when clearing refused an unknown type
  std::uint32_t type_var = 0;
  QXSymResult r = a.tag.GetDataTypeVar(&type_var);
  if (r != symResOk) return r;
  const VARTYPE vt = VariantTypeOf(type_var);
  if (vt == VT_EMPTY) return symResNotOk;
  std::uint32_t size = 0;
  r = a.tag.GetDataSize(&size);
  if (r != symResOk) return r;
  if (vt == VT_BSTR ? size > kMaxTextSize : size > kValueField) return symResInvalidTagSize;
  value->vt = vt;
  if (vt == VT_BSTR) {
    value->bstrVal = nullptr;
    r = ReadText(a, size, value);
    if (value->bstrVal == nullptr) value->vt = VT_EMPTY;  // no memory for a string
    return r;
  }
  // The value field is read into whole, the bytes beyond the tag's left zero.
  unsigned char field[kValueField] = {};
  r = a.read(a, field, size);
  if (vt == VT_BOOL) {
    bool set = false;
    for (std::uint32_t i = 0; i < size; ++i) set = set || field[i] != 0;
    std::memset(field, 0, sizeof(field));
    const VARIANT_BOOL b = set ? VARIANT_TRUE : VARIANT_FALSE;
    std::memcpy(field, &b, sizeof(b));
  }
  std::memcpy(ValueField(value), field, sizeof(field));
  return r;
}

// Releases a VARIANT made by a conversion.
struct Converted {
  VARIANT v;
  Converted() { VariantInit(&v); }
  ~Converted() { VariantClear(&v); }
};

QXSymResult WriteText(const Access& a, std::uint32_t size, BSTR s) {
  // Up to the first zero character; a null BSTR is the empty text.
  std::size_t chars = 0;
  const std::size_t len = SysStringLen(s);
  while (chars < len && s[chars] != 0) ++chars;
  int bytes = 0;
  if (chars != 0) {
    bytes =
        WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return symResInvalidVARIANT;
  }
  TextBuffer<char> text(static_cast<std::size_t>(bytes) + 1u);
  TextBuffer<char> field(size);
  if (text.data() == nullptr || field.data() == nullptr) return symResMemoryAllocError;
  if (bytes != 0) {
    WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(chars), text.data(), bytes, nullptr,
                        nullptr);
  }
  if (size != 0) {
    std::memset(field.data(), 0, size);
    const std::size_t n = static_cast<std::size_t>(bytes) < size - 1u
                              ? static_cast<std::size_t>(bytes)
                              : static_cast<std::size_t>(size - 1u);
    std::memcpy(field.data(), text.data(), n);
  }
  return a.write(a, field.data(), size);
}

QXSymResult WriteVariant(const Access& a, const VARIANT& value) {
  std::uint32_t type_var = 0;
  QXSymResult r = a.tag.GetDataTypeVar(&type_var);
  if (r != symResOk) return r;
  const VARTYPE vt = VariantTypeOf(type_var);
  if (vt == VT_EMPTY) return symResNotOk;
  Converted converted;
  const VARIANT* source = &value;
  if (value.vt != vt) {
    // Windows declares the source non-const; it is only read.
    if (FAILED(VariantChangeType(&converted.v, const_cast<VARIANT*>(&value), 0, vt))) {
      return symResInvalidVARIANT;
    }
    source = &converted.v;
  }
  std::uint32_t size = 0;
  r = a.tag.GetDataSize(&size);
  if (r != symResOk) return r;
  if (vt == VT_BSTR) {
    if (size > kMaxTextSize) return symResInvalidTagSize;
    return WriteText(a, size, source->bstrVal);
  }
  if (vt == VT_BOOL) {
    const std::uint8_t byte = source->boolVal != 0 ? 1 : 0;
    return a.write(a, &byte, 1);
  }
  if (size > kValueField) return symResInvalidTagSize;
  // Only the type's own bytes are taken; a tag wider than its type gets
  // zeros beyond them, never what the rest of the field happened to hold.
  unsigned char field[kValueField] = {};
  std::memcpy(field, ValueField(source), ValueWidth(vt));
  return a.write(a, field, size);
}

template <typename Op>
QXSymResult OnTagCopy(QXSymTagHandle tag, bool checks_ok, Op&& op) {
  return OnCopy<QXSymClientTag>(tag, checks_ok, op);
}

// The group forms check the VARIANT after both handles and before the lookup.
template <typename Op>
QXSymResult OnGroupMember(QXSymGroupHandle group, QXSymTagHandle tag, bool checks_ok, Op&& op) {
  return Call([&]() -> QXSymResult {
    if (group == 0 || tag == 0) return symResInvalidHandle;
    if (!checks_ok) return symResInvalidParameter;
    return OnGroupAndTag(group, tag, op);
  });
}

}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1,
                                                      uint32_t index2, uint32_t index3,
                                                      VARIANT* value) {
  return OnTagCopy(tag, value != nullptr, [&](QXSymClientTag& t) {
    return ReadVariant(Access{t, ReadElement, WriteElement, index1, index2, index3}, value);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagValue_VARIANT(QXSymTagHandle tag, VARIANT* value) {
  return QXSym_GetTagArrayValue_VARIANT(tag, 0, 0, 0, value);
}

QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1,
                                                      uint32_t index2, uint32_t index3,
                                                      VARIANT value) {
  return OnTagCopy(tag, !Refused(value.vt), [&](QXSymClientTag& t) {
    return WriteVariant(Access{t, ReadElement, WriteElement, index1, index2, index3}, value);
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagValue_VARIANT(QXSymTagHandle tag, VARIANT value) {
  return QXSym_SetTagArrayValue_VARIANT(tag, 0, 0, 0, value);
}

QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_VARIANT(QXSymGroupHandle group,
                                                          QXSymTagHandle tag, VARIANT* value) {
  return OnGroupMember(group, tag, value != nullptr, [&](QXSymClientGroup& g, QXSymClientTag& t) {
    return ReadVariant(Access{t, ReadMember, WriteMember, 0, 0, 0, &g, tag}, value);
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagValueIntoGroup_VARIANT(QXSymGroupHandle group,
                                                          QXSymTagHandle tag, VARIANT value) {
  return OnGroupMember(group, tag, !Refused(value.vt), [&](QXSymClientGroup& g, QXSymClientTag& t) {
    return WriteVariant(Access{t, ReadMember, WriteMember, 0, 0, 0, &g, tag}, value);
  });
}

}  // extern "C"
