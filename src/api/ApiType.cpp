// Exported functions for types. All but QXSym_CloseType run on a copy of the
// registered type, outside the library lock.
#include <memory>
#include <mutex>

#include "ApiShape.h"
#include "QXSymClientType.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

// Started check, null-handle check, the function's own pointer checks
// (failing with bad_pointer), then op on a copy of the type.
template <typename Op>
QXSymResult OnType(QXSymTypeHandle type, bool checks_ok, Op&& op,
                   QXSymResult bad_pointer = symResInvalidParameter) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (type == 0) return symResInvalidHandle;
    if (!checks_ok) return bad_pointer;
    return WithCopy<QXSymClientType>(type, op);
  });
}

// A child made on the copy is registered afterwards.
template <typename Make>
QXSymResult NewChild(QXSymTypeHandle type, QXSymTypeHandle* child, Make&& make) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (type == 0) return symResInvalidHandle;
    if (child == nullptr) return symResInvalidParameter;
    std::unique_ptr<QXSymClientType> obj;
    QXSymResult r =
        WithCopy<QXSymClientType>(type, [&](QXSymClientType& t) { return make(t, &obj); });
    if (r != symResOk) return r;
    int h = Register(std::move(obj));
    if (h == 0) return symResMemoryAllocError;
    *child = h;
    return symResOk;
  });
}

}  // namespace

#define QXSYM_TYPE_PREDICATE(Name, Op)                                                        \
  QXSymResult QXSYM_CALL Name(QXSymTypeHandle type, bool_t* answer) {                         \
    return OnType(type, answer != nullptr, [&](QXSymClientType& t) { return t.Op(answer); }); \
  }

extern "C" {

QXSYM_TYPE_PREDICATE(QXSym_TypeIsBasic, IsBasic)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsComplex, IsComplex)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsString, IsString)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsArray, IsArray)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsStruct, IsStruct)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsFunctionBlock, IsFunctionBlock)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsNumeric, IsNumeric)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsSigned, IsSigned)
QXSYM_TYPE_PREDICATE(QXSym_TypeIsInteger, IsInteger)

QXSymResult QXSYM_CALL QXSym_TypeGetSize(QXSymTypeHandle type, uint32_t* size) {
  return OnType(type, size != nullptr, [&](QXSymClientType& t) { return t.GetSize(size); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetProperties(QXSymTypeHandle type, uint32_t* flags) {
  return OnType(type, flags != nullptr, [&](QXSymClientType& t) { return t.GetProperties(flags); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetNumChildren(QXSymTypeHandle type, uint32_t* count) {
  return OnType(type, count != nullptr,
                [&](QXSymClientType& t) { return t.GetNumChildren(count); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetName(QXSymTypeHandle type, TCHAR* buffer, uint16_t* length) {
  return OnType(type, buffer && length,
                [&](QXSymClientType& t) { return t.GetName(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetChildName(QXSymTypeHandle type, uint32_t index, TCHAR* buffer,
                                              uint16_t* length) {
  return OnType(
      type, buffer && length,
      [&](QXSymClientType& t) { return t.GetChildName(index, buffer, length); },
      symResInvalidBuffer);
}

QXSymResult QXSYM_CALL QXSym_TypeGetChild(QXSymTypeHandle type, uint32_t index,
                                          QXSymTypeHandle* child) {
  return NewChild(type, child, [&](QXSymClientType& t, std::unique_ptr<QXSymClientType>* out) {
    return t.GetChild(index, out);
  });
}

QXSymResult QXSYM_CALL QXSym_TypeGetChildByName(QXSymTypeHandle type, const TCHAR* name,
                                                QXSymTypeHandle* child) {
  return NewChild(type, child, [&](QXSymClientType& t, std::unique_ptr<QXSymClientType>* out) {
    return t.GetChildByName(name, out);
  });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayNumDimensions(QXSymTypeHandle type, uint32_t* count) {
  return OnType(type, count != nullptr,
                [&](QXSymClientType& t) { return t.GetArrayNumDimensions(count); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimension(QXSymTypeHandle type, uint32_t index,
                                                   uint32_t* value) {
  return OnType(type, value != nullptr,
                [&](QXSymClientType& t) { return t.GetArrayDimension(index, value); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimensions(QXSymTypeHandle type, uint32_t* values,
                                                    uint8_t maxCount) {
  return OnType(type, values != nullptr,
                [&](QXSymClientType& t) { return t.GetArrayDimensions(values, maxCount); });
}

QXSymResult QXSYM_CALL QXSym_CloseType(QXSymTypeHandle type) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (type == 0) return symResInvalidHandle;
    std::shared_ptr<void> obj = Unregister<QXSymClientType>(type);
    return obj ? symResOk : symResInvalidHandle;
  });
}

}  // extern "C"
