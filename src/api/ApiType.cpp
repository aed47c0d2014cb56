// Exported functions for types. All but QXSym_CloseType run on a copy of the
// registered type, outside the library lock.
#include "ApiShape.h"
#include "QXSymClientType.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {
using Type = QXSymClientType;
}  // namespace

#define QXSYM_TYPE_PREDICATE(Name, Op)                                                   \
  QXSymResult QXSYM_CALL Name(QXSymTypeHandle type, bool_t* answer) {                    \
    return OnCopy<Type>(type, answer != nullptr, [&](Type& t) { return t.Op(answer); }); \
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
  return OnCopy<Type>(type, size != nullptr, [&](Type& t) { return t.GetSize(size); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetProperties(QXSymTypeHandle type, uint32_t* flags) {
  return OnCopy<Type>(type, flags != nullptr, [&](Type& t) { return t.GetProperties(flags); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetNumChildren(QXSymTypeHandle type, uint32_t* count) {
  return OnCopy<Type>(type, count != nullptr, [&](Type& t) { return t.GetNumChildren(count); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetName(QXSymTypeHandle type, TCHAR* buffer, uint16_t* length) {
  return OnCopy<Type>(type, buffer && length, [&](Type& t) { return t.GetName(buffer, length); });
}

// Unlike the other text functions, a missing buffer or length here answers
// symResInvalidBuffer.
QXSymResult QXSYM_CALL QXSym_TypeGetChildName(QXSymTypeHandle type, uint32_t index, TCHAR* buffer,
                                              uint16_t* length) {
  return OnCopy<Type>(
      type, buffer && length, [&](Type& t) { return t.GetChildName(index, buffer, length); },
      symResInvalidBuffer);
}

QXSymResult QXSYM_CALL QXSym_TypeGetChild(QXSymTypeHandle type, uint32_t index,
                                          QXSymTypeHandle* child) {
  return MakeOnCopy<Type, Type>(type, true, child, [&](Type& t, std::unique_ptr<Type>* made) {
    return t.GetChild(index, made);
  });
}

QXSymResult QXSYM_CALL QXSym_TypeGetChildByName(QXSymTypeHandle type, const TCHAR* name,
                                                QXSymTypeHandle* child) {
  return MakeOnCopy<Type, Type>(type, true, child, [&](Type& t, std::unique_ptr<Type>* made) {
    return t.GetChildByName(name, made);
  });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayNumDimensions(QXSymTypeHandle type, uint32_t* count) {
  return OnCopy<Type>(type, count != nullptr,
                      [&](Type& t) { return t.GetArrayNumDimensions(count); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimension(QXSymTypeHandle type, uint32_t index,
                                                   uint32_t* value) {
  return OnCopy<Type>(type, value != nullptr,
                      [&](Type& t) { return t.GetArrayDimension(index, value); });
}

QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimensions(QXSymTypeHandle type, uint32_t* values,
                                                    uint8_t maxCount) {
  return OnCopy<Type>(type, values != nullptr,
                      [&](Type& t) { return t.GetArrayDimensions(values, maxCount); });
}

QXSymResult QXSYM_CALL QXSym_CloseType(QXSymTypeHandle type) {
  return Call(type, true, [&] { return Forget<Type>(type); });
}

}  // extern "C"
