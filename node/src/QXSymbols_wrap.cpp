// The module "QXSymbols": every exported library function (except the
// VARIANT and memory functions) as a JavaScript function that checks its
// argument count, converts its arguments in order, calls the C function once
// and converts the result; the constants as read-only properties; and the
// address record as the class QXSymServerAddress.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Binding.h"
#include "QXSymbols.h"

namespace qxsym {
namespace node {
namespace {

// ---- Proxy objects ----------------------------------------------------------

// External memory reported per address object, taken back when it is
// collected.
constexpr int64_t kAddressExternalBytes = 1000;

// Marks the objects this module made, so a foreign or forged object is never
// taken for a proxy.
constexpr napi_type_tag kProxyTag = {0x5158'5379'6d50'726fULL, 0x7879'4164'6472'6573ULL};

struct Proxy {
  bool owned = false;
  void* ptr = nullptr;
};

Proxy* GetProxy(napi_env env, napi_value object) {
  if (!IsType(env, object, napi_object)) return nullptr;
  bool tagged = false;
  if (napi_check_object_type_tag(env, object, &kProxyTag, &tagged) != napi_ok || !tagged) {
    return nullptr;
  }
  void* raw = nullptr;
  if (napi_unwrap(env, object, &raw) != napi_ok) return nullptr;
  return static_cast<Proxy*>(raw);
}

QXSymServerAddress* GetAddress(napi_env env, napi_value object) {
  Proxy* proxy = GetProxy(env, object);
  return proxy ? static_cast<QXSymServerAddress*>(proxy->ptr) : nullptr;
}

// The protocol field holds any 32-bit value JavaScript stored, which need not
// be an enumerator, so it is moved as the plain integer it is.
int32_t ProtocolOf(const QXSymServerAddress* rec) {
  int32_t v = 0;
  std::memcpy(&v, &rec->protocol, sizeof v);
  return v;
}

void SetProtocol(QXSymServerAddress* rec, int32_t v) {
  static_assert(sizeof rec->protocol == sizeof v, "the protocol is 32 bits");
  std::memcpy(&rec->protocol, &v, sizeof v);
}

void FinalizeAddress(napi_env env, void* data, void*) {
  auto* proxy = static_cast<Proxy*>(data);
  if (proxy->owned) delete static_cast<QXSymServerAddress*>(proxy->ptr);
  delete proxy;
  int64_t unused = 0;
  napi_adjust_external_memory(env, -kAddressExternalBytes, &unused);
}

napi_value NoOpConstructor(napi_env, napi_callback_info) { return nullptr; }

napi_value ProxyEquals(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  if (a.argc != 1) {
    ThrowError(env, "Illegal number of arguments for equals.");
    return nullptr;
  }
  Proxy* self = GetProxy(env, a.self);
  if (self == nullptr) {
    ThrowError(env, "Could not get pointer from 'this' object for equals.");
    return nullptr;
  }
  Proxy* other = GetProxy(env, a.argv[0]);
  if (other == nullptr) {
    ThrowError(env, "in method 'equals', argument 1 of type 'void *'");
    return nullptr;
  }
  return MakeBool(env, self->ptr == other->ptr);
}

napi_value ProxyGetCPtr(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  Proxy* self = GetProxy(env, a.self);
  if (self == nullptr) {
    ThrowError(env, "in method 'getCPtr', argument 1 of type 'void *'");
    return nullptr;
  }
  napi_value v = nullptr;
  napi_create_double(env, static_cast<double>(reinterpret_cast<uintptr_t>(self->ptr)), &v);
  return v;
}

napi_value NewAddress(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  napi_value new_target = nullptr;
  if (napi_get_new_target(env, info, &new_target) != napi_ok || new_target == nullptr) {
    ThrowError(env, "Class constructor QXSymServerAddress cannot be invoked without 'new'");
    return nullptr;
  }
  if (a.argc != 0) {
    ThrowArgCount(env, "new_QXSymServerAddress");
    return nullptr;
  }
  auto* record = new (std::nothrow) QXSymServerAddress();  // zero-filled
  auto* proxy = new (std::nothrow) Proxy();
  if (record == nullptr || proxy == nullptr) {
    delete record;
    delete proxy;
    ThrowError(env, "out of memory for a QXSymServerAddress");
    return nullptr;
  }
  proxy->owned = true;
  proxy->ptr = record;
  if (napi_type_tag_object(env, a.self, &kProxyTag) != napi_ok ||
      napi_wrap(env, a.self, proxy, FinalizeAddress, nullptr, nullptr) != napi_ok) {
    delete record;
    delete proxy;
    ThrowError(env, "could not make a QXSymServerAddress");
    return nullptr;
  }
  int64_t unused = 0;
  napi_adjust_external_memory(env, kAddressExternalBytes, &unused);
  return a.self;
}

// Accessors of the record's four fields; `this` must be an address proxy.
enum class Field { kProtocol, kIp, kPort, kTimeout };

constexpr const char* FieldName(Field f) {
  return f == Field::kProtocol ? "protocol"
         : f == Field::kIp     ? "ip"
         : f == Field::kPort   ? "port"
                               : "timeout";
}

void ThrowAccessorSelf(napi_env env, Field f, const char* way) {
  ThrowArgType(env, (std::string("QXSymServerAddress_") + FieldName(f) + way).c_str(), 1,
               "_QXSymServerAddress *");
}

template <Field F>
napi_value GetField(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  QXSymServerAddress* rec = GetAddress(env, a.self);
  if (rec == nullptr) {
    ThrowAccessorSelf(env, F, "_get");
    return nullptr;
  }
  switch (F) {
    case Field::kProtocol:
      return MakeInt(env, ProtocolOf(rec));
    case Field::kIp:
      return MakeText(env, rec->ip, sizeof rec->ip);
    case Field::kPort:
      return MakeInt(env, rec->port);
    case Field::kTimeout:
      return MakeInt(env, rec->timeout);
  }
  return nullptr;
}

template <Field F>
napi_value SetField(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  QXSymServerAddress* rec = GetAddress(env, a.self);
  if (rec == nullptr) {
    ThrowAccessorSelf(env, F, "_set");
    return nullptr;
  }
  const std::string name = std::string("QXSymServerAddress_") + FieldName(F) + "_set";
  napi_value value = a.argc > 0 ? a.argv[0] : nullptr;
  if (F == Field::kProtocol) {
    int32_t v = 0;
    if (!ToInt32Cut(env, value, &v)) {
      ThrowArgType(env, name.c_str(), 2, "QXSymProtocol");
      return nullptr;
    }
    SetProtocol(rec, v);
  } else if (F == Field::kIp) {
    std::string text;
    if (!ToUtf8(env, value, &text) || text.size() > sizeof rec->ip) {
      ThrowArgType(env, name.c_str(), 2, "char [60]");
      return nullptr;
    }
    std::memset(rec->ip, 0, sizeof rec->ip);
    std::memcpy(rec->ip, text.data(), text.size());
  } else {
    int64_t v = 0;
    if (!ToIntInRange(env, value, 0, 65535, &v)) {
      ThrowArgType(env, name.c_str(), 2, "uint16_t");
      return nullptr;
    }
    (F == Field::kPort ? rec->port : rec->timeout) = static_cast<uint16_t>(v);
  }
  return nullptr;
}

// ---- Argument kinds -----------------------------------------------------------
//
// Each kind converts one C argument. kJs: it takes a JavaScript argument;
// kOut: its value comes back as the second element of the result array.

struct InKind {
  static constexpr bool kJs = true;
  static constexpr bool kOut = false;
  template <typename S>
  static napi_value ToJs(napi_env, S&) {
    return nullptr;
  }
};

#define QXSYM_TYPE_NAME(Id, Text)              \
  struct Id {                                  \
    static constexpr const char* kText = Text; \
  }
QXSYM_TYPE_NAME(WorkspaceName, "QXSymWorkspaceHandle");
QXSYM_TYPE_NAME(TagName, "QXSymTagHandle");
QXSYM_TYPE_NAME(TypeName, "QXSymTypeHandle");
QXSYM_TYPE_NAME(GroupName, "QXSymGroupHandle");
QXSYM_TYPE_NAME(MapName, "QXSymTagMapHandle");
QXSYM_TYPE_NAME(Uint32Name, "uint32_t");
QXSYM_TYPE_NAME(Uint16Name, "uint16_t");
QXSYM_TYPE_NAME(Uint8Name, "uint8_t");
QXSYM_TYPE_NAME(BoolName, "bool_t");
QXSYM_TYPE_NAME(Uint32PtrName, "uint32_t *");
QXSYM_TYPE_NAME(Uint8PtrName, "uint8_t *");
QXSYM_TYPE_NAME(BoolPtrName, "bool_t *");
QXSYM_TYPE_NAME(AddrPtrName, "qxsym_addr_t *");
QXSYM_TYPE_NAME(TyVarPtrName, "QXSymTyVar *");
QXSYM_TYPE_NAME(TagPtrName, "QXSymTagHandle *");
QXSYM_TYPE_NAME(TagPtrPtrName, "QXSymTagHandle **");
QXSYM_TYPE_NAME(TypePtrName, "QXSymTypeHandle *");
QXSYM_TYPE_NAME(GroupPtrName, "QXSymGroupHandle *");
QXSYM_TYPE_NAME(VoidPtrName, "void *");
QXSYM_TYPE_NAME(ConstVoidPtrName, "void const *");
#undef QXSYM_TYPE_NAME

template <typename Name>
struct Handle : InKind {
  using Store = int32_t;
  static bool Convert(napi_env env, napi_value v, Store& s) { return ToInt32Cut(env, v, &s); }
  static int Pass(Store& s) { return s; }
  static constexpr const char* kType = Name::kText;
};
using WsH = Handle<WorkspaceName>;
using TagH = Handle<TagName>;
using TypeH = Handle<TypeName>;
using GroupH = Handle<GroupName>;
using MapH = Handle<MapName>;

template <typename T, int64_t Max, typename Name>
struct Unsigned : InKind {
  using Store = T;
  static bool Convert(napi_env env, napi_value v, Store& s) {
    int64_t n = 0;
    if (!ToIntInRange(env, v, 0, Max, &n)) return false;
    s = static_cast<T>(n);
    return true;
  }
  static T Pass(Store& s) { return s; }
  static constexpr const char* kType = Name::kText;
};
using U32 = Unsigned<uint32_t, 2147483647, Uint32Name>;
using U16 = Unsigned<uint16_t, 65535, Uint16Name>;
using U8 = Unsigned<uint8_t, 255, Uint8Name>;
using Bool = Unsigned<bool_t, 255, BoolName>;

struct Text : InKind {
  using Store = std::string;
  static bool Convert(napi_env env, napi_value v, Store& s) { return ToUtf8(env, v, &s); }
  static const TCHAR* Pass(Store& s) { return s.c_str(); }
  static constexpr const char* kType = "TCHAR const *";
};

// A caller's text buffer: the string's UTF-8 copy, with its size (length
// plus 1, at most what the 16-bit length holds) as the capacity passed in.
struct TextBuffer {
  std::string bytes;
  uint16_t length = 0;
};
struct TextBuf : InKind {
  static constexpr bool kOut = true;
  using Store = TextBuffer;
  static bool Convert(napi_env env, napi_value v, Store& s) {
    if (!ToUtf8(env, v, &s.bytes)) return false;
    s.length = static_cast<uint16_t>(s.bytes.size() > 65535 ? 65535 : s.bytes.size());
    return true;
  }
  static TextBuffer* Pass(Store& s) { return &s; }
  static napi_value ToJs(napi_env env, Store& s) { return MakeInt(env, s.length); }
  static constexpr const char* kType = "TCHAR *";
};

struct Address : InKind {
  using Store = const QXSymServerAddress*;
  static bool Convert(napi_env env, napi_value v, Store& s) {
    if (IsType(env, v, napi_null)) {
      s = nullptr;
      return true;
    }
    s = GetAddress(env, v);
    return s != nullptr;
  }
  static Store Pass(Store& s) { return s; }
  static constexpr const char* kType = "QXSymServerAddress const *";
};

// Pointers of types the module makes no proxies of: only null converts.
template <typename T, typename Name>
struct Ptr : InKind {
  using Store = T*;
  static bool Convert(napi_env env, napi_value v, Store& s) {
    s = nullptr;
    return IsType(env, v, napi_null);
  }
  static T* Pass(Store& s) { return s; }
  static constexpr const char* kType = Name::kText;
};
using PU32 = Ptr<uint32_t, Uint32PtrName>;
using PU8 = Ptr<uint8_t, Uint8PtrName>;
using PBool = Ptr<bool_t, BoolPtrName>;
using PAddr = Ptr<qxsym_addr_t, AddrPtrName>;
using PTyVar = Ptr<QXSymTyVar, TyVarPtrName>;
using PTag = Ptr<QXSymTagHandle, TagPtrName>;
using PTagList = Ptr<QXSymTagHandle*, TagPtrPtrName>;
using PType = Ptr<QXSymTypeHandle, TypePtrName>;
using PGroup = Ptr<QXSymGroupHandle, GroupPtrName>;
using PVoid = Ptr<void, VoidPtrName>;
using PConstVoid = Ptr<const void, ConstVoidPtrName>;

// Output parameters that the module supplies and hands back.
template <typename T>
struct Out {
  static constexpr bool kJs = false;
  static constexpr bool kOut = true;
  using Store = T;
  static bool Convert(napi_env, napi_value, Store& s) {
    s = T();
    return true;
  }
  static T* Pass(Store& s) { return &s; }
  static napi_value ToJs(napi_env env, Store& s) {
    return std::is_signed<T>::value ? MakeInt(env, static_cast<int32_t>(s))
                                    : MakeUint(env, static_cast<uint32_t>(s));
  }
  static constexpr const char* kType = "";
};
using OutHandle = Out<int>;
using OutSize = Out<uint32_t>;

// ---- The generic wrapper -------------------------------------------------------

template <typename... K>
constexpr std::size_t CountJs() {
  return (std::size_t{0} + ... + (K::kJs ? 1 : 0));
}

template <auto Fn, typename... K, std::size_t... I>
napi_value CallWith(napi_env env, const CallArgs& a, [[maybe_unused]] const char* name,
                    std::index_sequence<I...>) {
  std::tuple<typename K::Store...> stores;
  // Outputs come last, so a JavaScript argument's index is its C index.
  bool ok = true;
  ((ok = ok && (K::Convert(env, K::kJs ? a.argv[I] : nullptr, std::get<I>(stores)) ||
                (ThrowArgType(env, name, static_cast<int>(I) + 1, K::kType), false))),
   ...);
  if (!ok) return nullptr;
  const int32_t result = static_cast<int32_t>(Fn(K::Pass(std::get<I>(stores))...));
  napi_value out = nullptr;
  ((K::kOut ? (out = K::ToJs(env, std::get<I>(stores)), 0) : 0), ...);
  return out ? MakePair(env, result, out) : MakeInt(env, result);
}

template <auto Fn, typename... K>
napi_value Bind(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  const char* name = static_cast<const char*>(a.data);
  if (a.argc != CountJs<K...>()) {
    ThrowArgCount(env, name);
    return nullptr;
  }
  return CallWith<Fn, K...>(env, a, name, std::index_sequence_for<K...>{});
}

// The text-buffer functions: the buffer's capacity goes in through the
// length argument, and the length the library reports comes back.
QXSymResult GetTagAttribute(QXSymTagHandle tag, const TCHAR* name, TextBuffer* b) {
  return QXSym_GetTagAttribute(tag, name, &b->bytes[0], &b->length);
}
QXSymResult GetTagName(QXSymTagHandle tag, TextBuffer* b) {
  return QXSym_GetTagName(tag, &b->bytes[0], &b->length);
}
QXSymResult GetTagDataType(QXSymTagHandle tag, TextBuffer* b) {
  return QXSym_GetTagDataType(tag, &b->bytes[0], &b->length);
}
QXSymResult GetTagDescr(QXSymTagHandle tag, TextBuffer* b) {
  return QXSym_GetTagDescr(tag, &b->bytes[0], &b->length);
}
QXSymResult TypeGetName(QXSymTypeHandle type, TextBuffer* b) {
  return QXSym_TypeGetName(type, &b->bytes[0], &b->length);
}
QXSymResult TypeGetChildName(QXSymTypeHandle type, uint32_t index, TextBuffer* b) {
  return QXSym_TypeGetChildName(type, index, &b->bytes[0], &b->length);
}

// A JavaScript address can never hold a host program's direct-access table
// (the ip text cannot carry a valid table address), so such an address is
// refused as one the library could not attach to, before the library would
// call into whatever the bytes point at.
QXSymResult OpenWorkspace(uint8_t selector, const QXSymServerAddress* address,
                          QXSymWorkspaceHandle* workspace) {
  if (address != nullptr && ProtocolOf(address) == symProtDirectAccess &&
      QXSym_IsInitOk() == symResOk) {
    *workspace = 0;
    return symResInvalidAddress;
  }
  return QXSym_OpenWorkspace(selector, address, workspace);
}

#define QXSYM_FN(name, fn, ...)                                                 \
  napi_property_descriptor {                                                    \
    name, nullptr, Bind<fn, ##__VA_ARGS__>, nullptr, nullptr, nullptr,          \
        static_cast<napi_property_attributes>(napi_writable | napi_enumerable | \
                                              napi_configurable),               \
        const_cast<char*>(name)                                                 \
  }
#define QXSYM_C(fn, ...) QXSYM_FN(#fn, &::fn, ##__VA_ARGS__)

const napi_property_descriptor kFunctions[] = {
    QXSYM_C(QXSym_Init),
    QXSYM_C(QXSym_Shutdown),
    QXSYM_C(QXSym_IsInitOk),
    // Workspaces and global tags
    QXSYM_FN("QXSym_OpenWorkspace", &OpenWorkspace, U8, Address, OutHandle),
    QXSYM_C(QXSym_GetServerVersion, WsH, PU8, PU8, PU8, PU8),
    QXSYM_C(QXSym_CloseWorkspace, WsH),
    QXSYM_C(QXSym_IsValidWorkspace, WsH),
    QXSYM_C(QXSym_GetSymbolTable, WsH, Text, Bool),
    QXSYM_C(QXSym_GetGlobalTag, WsH, Text, OutHandle),
    QXSYM_C(QXSym_CloseTag, TagH),
    QXSYM_C(QXSym_GetGlobalTags, WsH, PTagList, PU32),
    QXSYM_C(QXSym_FreeTagList, PTag),
    QXSYM_C(QXSym_GetGlobalTagsNum, WsH, PU32),
    QXSYM_C(QXSym_FillGlobalTagList, WsH, PTag, U32),
    QXSYM_C(QXSym_QueryGlobalTags, WsH, Text, PTagList, PU32),
    QXSYM_C(QXSym_QueryGlobalTagsNum, WsH, Text, PU32),
    QXSYM_C(QXSym_QueryFillGlobalTagList, WsH, Text, PTag, U32),
    QXSYM_C(QXSym_GetGlobalTagsMap, WsH, OutHandle),
    QXSYM_C(QXSym_FreeTagMap, MapH),
    QXSYM_C(QXSym_GetTagFromMap, MapH, Text, OutHandle),
    QXSYM_C(QXSym_GetCodeId, WsH, PU32, Bool, U16, U16),
    // Tags
    QXSYM_FN("QXSym_GetTagAttribute", &GetTagAttribute, TagH, Text, TextBuf),
    QXSYM_FN("QXSym_GetTagName", &GetTagName, TagH, TextBuf),
    QXSYM_FN("QXSym_GetTagDataType", &GetTagDataType, TagH, TextBuf),
    QXSYM_C(QXSym_GetTagDataTypeVar, TagH, PTyVar),
    QXSYM_C(QXSym_GetTagAddress, TagH, PAddr),
    QXSYM_C(QXSym_GetTagAddressBitOffset, TagH, PAddr, PU32),
    QXSYM_C(QXSym_GetTagArrayAddress, TagH, U32, U32, U32, PAddr),
    QXSYM_C(QXSym_GetTagArrayAddressBitOffset, TagH, U32, U32, U32, PAddr, PU32),
    QXSYM_C(QXSym_GetTagDataSize, TagH, OutSize),
    QXSYM_C(QXSym_GetTagDataFullSize, TagH, OutSize),
    QXSYM_C(QXSym_IsTagReadOnly, TagH, PBool),
    QXSYM_C(QXSym_IsTagBitAddress, TagH, PBool),
    QXSYM_FN("QXSym_GetTagDescr", &GetTagDescr, TagH, TextBuf),
    QXSYM_C(QXSym_GetTagDims, TagH, PU32, PU32, PU32),
    QXSYM_C(QXSym_GetTagValue_Ptr, TagH, PVoid, U32),
    QXSYM_C(QXSym_SetTagValue_Ptr, TagH, PConstVoid, U32),
    QXSYM_C(QXSym_GetTagArrayValue_Ptr, TagH, U32, U32, U32, PVoid, U32),
    QXSYM_C(QXSym_SetTagArrayValue_Ptr, TagH, U32, U32, U32, PConstVoid, U32),
    QXSYM_C(QXSym_GetTagRawValue_Ptr, TagH, PVoid, U32),
    QXSYM_C(QXSym_SetTagRawValue_Ptr, TagH, PConstVoid, U32),
    QXSYM_C(QXSym_GetTagType, TagH, PType),
    // Types
    QXSYM_C(QXSym_CloseType, TypeH),
    QXSYM_C(QXSym_TypeIsBasic, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsComplex, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsString, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsArray, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsStruct, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsFunctionBlock, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsNumeric, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsSigned, TypeH, PBool),
    QXSYM_C(QXSym_TypeIsInteger, TypeH, PBool),
    QXSYM_C(QXSym_TypeGetSize, TypeH, PU32),
    QXSYM_FN("QXSym_TypeGetName", &TypeGetName, TypeH, TextBuf),
    QXSYM_C(QXSym_TypeGetNumChildren, TypeH, PU32),
    QXSYM_C(QXSym_TypeGetChild, TypeH, U32, PType),
    QXSYM_C(QXSym_TypeGetChildByName, TypeH, Text, PType),
    QXSYM_FN("QXSym_TypeGetChildName", &TypeGetChildName, TypeH, U32, TextBuf),
    QXSYM_C(QXSym_TypeGetArrayNumDimensions, TypeH, PU32),
    QXSYM_C(QXSym_TypeGetArrayDimension, TypeH, U32, PU32),
    QXSYM_C(QXSym_TypeGetArrayDimensions, TypeH, PU32, U8),
    QXSYM_C(QXSym_TypeGetProperties, TypeH, PU32),
    // Groups
    QXSYM_C(QXSym_CreateGroup, WsH, PGroup),
    QXSYM_C(QXSym_DeleteGroup, GroupH),
    QXSYM_C(QXSym_AddTagToGroup, GroupH, TagH),
    QXSYM_C(QXSym_RemoveTagFromGroup, GroupH, TagH),
    QXSYM_C(QXSym_GetGroupInfo, GroupH, PU32, PU32),
    QXSYM_C(QXSym_ReadGroup, GroupH),
    QXSYM_C(QXSym_WriteGroup, GroupH),
    QXSYM_C(QXSym_GetTagValueFromGroup_Ptr, GroupH, TagH, PVoid, U32),
    QXSYM_C(QXSym_SetTagValueIntoGroup_Ptr, GroupH, TagH, PConstVoid, U32),
};
#undef QXSYM_C
#undef QXSYM_FN

// ---- Constants -------------------------------------------------------------------

struct Constant {
  const char* name;
  int32_t value;
};

#define QXSYM_K(n) \
  Constant { #n, n }
// Defined first, as the module's first properties.
const Constant kLeadingConstants[] = {QXSYM_K(FALSE), QXSYM_K(TRUE), QXSYM_K(symProtGDB_TCP),
                                      QXSYM_K(symProtDirectAccess)};
const Constant kConstants[] = {
    QXSYM_K(QXSYMBOLS_VERSION_MAJOR),
    QXSYM_K(QXSYMBOLS_VERSION_MINOR),
    QXSYM_K(QXSYMBOLS_VERSION_REVISION),
    QXSYM_K(QXSYMBOLS_VERSION_BUILD),
    QXSYM_K(QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR),
    QXSYM_K(QXSYM_MAX_STRING),
    QXSYM_K(symResOk),
    QXSYM_K(symResNotInited),
    QXSYM_K(symResSocketInitError),
    QXSYM_K(symResSymbolTableLoadError),
    QXSYM_K(symResInvalidHandle),
    QXSYM_K(symResInvalidParameter),
    QXSYM_K(symResSymbolNotFound),
    QXSYM_K(symResAttributeNotFound),
    QXSYM_K(symResInvalidAddress),
    QXSYM_K(symResMemReadError),
    QXSYM_K(symResInvalidBuffer),
    QXSYM_K(symResUnknownTagSize),
    QXSYM_K(symResMemWriteError),
    QXSYM_K(symResTimeoutError),
    QXSYM_K(symResInvalidVARIANT),
    QXSYM_K(symResInvalidArrayIndex),
    QXSYM_K(symResReadOnlyTag),
    QXSYM_K(symResConnectionLost),
    QXSYM_K(symResNotOk),
    QXSYM_K(symResInvalidAttributeValue),
    QXSYM_K(symResBitCommandRequired),
    QXSYM_K(symResInvalidTagSize),
    QXSYM_K(symResNotImplemented),
    QXSYM_K(symResVersionNotSupported),
    QXSYM_K(symResCommandNotSupported),
    QXSYM_K(symResAddressMismatch32vs64),
    QXSYM_K(symResMemoryAllocError),
    QXSYM_K(symResInvalidArea),
    QXSYM_K(symResInvalidWorkspace),
    QXSYM_K(symResMaxReached),
    QXSYM_K(symResBufferOverflow),
    QXSYM_K(symResUnkownCommand),
    QXSYM_K(symResShutdownInProgress),
    QXSYM_K(symResInvalidComm),
    QXSYM_K(symResServerNotCompatible),
    QXSYM_K(symResOkServerNotFullSupport),
    QXSYM_K(symResFileAlreadyExists),
    QXSYM_K(symResCannotWriteFile),
    QXSYM_K(symResCannotOpenFile),
    QXSYM_K(symResCannotReadFile),
    QXSYM_K(symResSegmentationError),
    QXSYM_K(symResHandleAlreadyExists),
    QXSYM_K(symResInvalidGroupSize),
    QXSYM_K(symResGroupMustBeRead),
    QXSYM_K(symResGroupConfigError),
    QXSYM_K(symResInvalidGroupTag),
    QXSYM_K(symResGroupIsEmpty),
    QXSYM_K(symResInvalidTagType),
    QXSYM_K(symResSocketError),
    QXSYM_K(symResProtocolError),
    QXSYM_K(QXSymTypeIsBasic),
    QXSYM_K(QXSymTypeIsComplex),
    QXSYM_K(QXSymTypeIsString),
    QXSYM_K(QXSymTypeIsArray),
    QXSYM_K(QXSymTypeIsStruct),
    QXSYM_K(QXSymTypeIsFunctionBlock),
    QXSYM_K(QXSymTypeIsNumeric),
    QXSYM_K(QXSymTypeIsSigned),
    QXSYM_K(QXSymTypeIsInteger),
    QXSYM_K(QXSymTyVarNull),
    QXSYM_K(QXSymTyVarBool),
    QXSYM_K(QXSymTyVarSInt),
    QXSYM_K(QXSymTyVarUSInt),
    QXSYM_K(QXSymTyVarByte),
    QXSYM_K(QXSymTyVarInt),
    QXSYM_K(QXSymTyVarUInt),
    QXSYM_K(QXSymTyVarWord),
    QXSYM_K(QXSymTyVarDInt),
    QXSYM_K(QXSymTyVarUDInt),
    QXSYM_K(QXSymTyVarDWord),
    QXSYM_K(QXSymTyVarLInt),
    QXSYM_K(QXSymTyVarULInt),
    QXSYM_K(QXSymTyVarLWord),
    QXSYM_K(QXSymTyVarReal),
    QXSYM_K(QXSymTyVarLReal),
    QXSYM_K(QXSymTyVarString),
    QXSYM_K(QXSymTyVarUserDef),
    QXSYM_K(QXSymTyVarPointer),
};
#undef QXSYM_K

napi_value GetConstant(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  return MakeInt(env, static_cast<const Constant*>(a.data)->value);
}

napi_value SetConstant(napi_env env, napi_callback_info info) {
  CallArgs a;
  if (!GetArgs(env, info, &a)) return nullptr;
  const char* name = static_cast<const Constant*>(a.data)->name;
  ThrowError(env, std::string("Tried to write read-only variable: ") + name + ".");
  return nullptr;
}

template <std::size_t N>
bool DefineConstants(napi_env env, napi_value exports, const Constant (&list)[N]) {
  napi_property_descriptor props[N];
  for (std::size_t i = 0; i < N; ++i) {
    props[i] = napi_property_descriptor{
        list[i].name, nullptr, nullptr,         GetConstant,
        SetConstant,  nullptr, napi_enumerable, const_cast<Constant*>(&list[i])};
  }
  return napi_define_properties(env, exports, N, props) == napi_ok;
}

// ---- Classes -----------------------------------------------------------------------

bool CallObjectSetPrototypeOf(napi_env env, napi_value object, napi_value proto) {
  napi_value global = nullptr, object_ctor = nullptr, set_proto = nullptr, result = nullptr;
  napi_value args[2] = {object, proto};
  return napi_get_global(env, &global) == napi_ok &&
         napi_get_named_property(env, global, "Object", &object_ctor) == napi_ok &&
         napi_get_named_property(env, object_ctor, "setPrototypeOf", &set_proto) == napi_ok &&
         napi_call_function(env, object_ctor, set_proto, 2, args, &result) == napi_ok;
}

// Makes `derived` inherit from `base`, for instances and for the constructors.
bool Inherit(napi_env env, napi_value derived, napi_value base) {
  napi_value derived_proto = nullptr, base_proto = nullptr;
  return napi_get_named_property(env, derived, "prototype", &derived_proto) == napi_ok &&
         napi_get_named_property(env, base, "prototype", &base_proto) == napi_ok &&
         CallObjectSetPrototypeOf(env, derived_proto, base_proto) &&
         CallObjectSetPrototypeOf(env, derived, base);
}

template <Field F>
napi_property_descriptor Accessor() {
  return {FieldName(F),
          nullptr,
          nullptr,
          GetField<F>,
          SetField<F>,
          nullptr,
          static_cast<napi_property_attributes>(napi_enumerable | napi_configurable),
          nullptr};
}

// Defines props on the prototype of a class. Plain properties, not the
// class's own members, so they work on instances of derived classes too.
bool DefineOnPrototype(napi_env env, napi_value cls, std::size_t count,
                       const napi_property_descriptor* props) {
  napi_value proto = nullptr;
  return napi_get_named_property(env, cls, "prototype", &proto) == napi_ok &&
         napi_define_properties(env, proto, count, props) == napi_ok;
}

bool DefineAddressClass(napi_env env, napi_value* address_class) {
  const auto method = static_cast<napi_property_attributes>(napi_writable | napi_configurable);
  const napi_property_descriptor proxy_methods[] = {
      {"equals", nullptr, ProxyEquals, nullptr, nullptr, nullptr, method, nullptr},
      {"getCPtr", nullptr, ProxyGetCPtr, nullptr, nullptr, nullptr, method, nullptr},
  };
  const napi_property_descriptor accessors[] = {Accessor<Field::kProtocol>(),
                                                Accessor<Field::kIp>(), Accessor<Field::kPort>(),
                                                Accessor<Field::kTimeout>()};
  napi_value proxy_class = nullptr, accessor_class = nullptr;
  return napi_define_class(env, "SwigProxy", NAPI_AUTO_LENGTH, NoOpConstructor, nullptr, 0, nullptr,
                           &proxy_class) == napi_ok &&
         DefineOnPrototype(env, proxy_class, 2, proxy_methods) &&
         napi_define_class(env, "_exports_QXSymServerAddress", NAPI_AUTO_LENGTH, NoOpConstructor,
                           nullptr, 0, nullptr, &accessor_class) == napi_ok &&
         DefineOnPrototype(env, accessor_class, 4, accessors) &&
         napi_define_class(env, "QXSymServerAddress", NAPI_AUTO_LENGTH, NewAddress, nullptr, 0,
                           nullptr, address_class) == napi_ok &&
         Inherit(env, accessor_class, proxy_class) && Inherit(env, *address_class, accessor_class);
}

// Called by Node.js with the module's exports: the classes first, then the
// leading constants, the other constants, the functions, and last the class.
napi_value QXSymbols_initialize(napi_env env, napi_value exports) {
  napi_value address_class = nullptr;
  const bool ok =
      DefineAddressClass(env, &address_class) && DefineConstants(env, exports, kLeadingConstants) &&
      DefineConstants(env, exports, kConstants) &&
      napi_define_properties(env, exports, sizeof kFunctions / sizeof kFunctions[0], kFunctions) ==
          napi_ok &&
      RegisterConvenienceFunctions(env, exports) &&
      napi_set_named_property(env, exports, "QXSymServerAddress", address_class) == napi_ok;
  if (!ok) {
    ThrowError(env, "QXSymbols: the module could not be initialised");
    return nullptr;
  }
  return exports;
}

}  // namespace
}  // namespace node
}  // namespace qxsym

NAPI_MODULE(QXSymbols, qxsym::node::QXSymbols_initialize)
