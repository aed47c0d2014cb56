#include "QXSymClientTypeDirect.h"

#include <cstdlib>
#include <new>

#include "DirectCall.h"
#include "NoThrowNew.h"

namespace qxsym {

QXSymResult QXSymClientTypeDirect::AskBool(QXSymDA_ObjBool QXSymDirectAccessTable::*entry,
                                           bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  return CallEntry(table_, entry, context_, id_, answer);
}

QXSymResult QXSymClientTypeDirect::IsBasic(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsBasic, a);
}
QXSymResult QXSymClientTypeDirect::IsComplex(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsComplex, a);
}
QXSymResult QXSymClientTypeDirect::IsString(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsString, a);
}
QXSymResult QXSymClientTypeDirect::IsArray(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsArray, a);
}
QXSymResult QXSymClientTypeDirect::IsStruct(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsStruct, a);
}
QXSymResult QXSymClientTypeDirect::IsFunctionBlock(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsFunctionBlock, a);
}
QXSymResult QXSymClientTypeDirect::IsNumeric(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsNumeric, a);
}
QXSymResult QXSymClientTypeDirect::IsSigned(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsSigned, a);
}
QXSymResult QXSymClientTypeDirect::IsInteger(bool_t* a) {
  return AskBool(&QXSymDirectAccessTable::TypeIsInteger, a);
}

QXSymResult QXSymClientTypeDirect::GetSize(std::uint32_t* size) {
  if (size == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetSize, context_, id_, size);
}

QXSymResult QXSymClientTypeDirect::GetName(TCHAR* buffer, std::uint16_t* length) {
  if (buffer == nullptr || length == nullptr) return symResInvalidParameter;
  char* text = nullptr;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TypeGetName, context_, id_, &text);
  if (r != symResOk) {
    std::free(text);
    return r;
  }
  return TakeHostText(text, buffer, length);
}

QXSymResult QXSymClientTypeDirect::GetNumChildren(std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetNumChildren, context_, id_, count);
}

QXSymResult QXSymClientTypeDirect::MakeChild(QXSymResult entry_result, std::uint32_t child_id,
                                             std::unique_ptr<QXSymClientType>* child) {
  if (entry_result != symResOk) return entry_result;
  return MakeObject<QXSymClientTypeDirect>(child, table_, context_, child_id);
}

QXSymResult QXSymClientTypeDirect::GetChild(std::uint32_t index,
                                            std::unique_ptr<QXSymClientType>* child) {
  if (child == nullptr) return symResInvalidParameter;
  std::uint32_t child_id = 0;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TypeGetChild, context_, id_, index, &child_id);
  return MakeChild(r, child_id, child);
}

QXSymResult QXSymClientTypeDirect::GetChildByName(const TCHAR* name,
                                                  std::unique_ptr<QXSymClientType>* child) {
  if (child == nullptr) return symResInvalidParameter;
  std::uint32_t child_id = 0;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::TypeGetChildByName, context_,
                                  id_, name, &child_id);
  return MakeChild(r, child_id, child);
}

QXSymResult QXSymClientTypeDirect::GetChildName(std::uint32_t index, TCHAR* buffer,
                                                std::uint16_t* length) {
  if (buffer == nullptr || length == nullptr) return symResInvalidParameter;
  char* text = nullptr;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TypeGetChildName, context_, id_, index, &text);
  if (r != symResOk) {
    std::free(text);
    return r;
  }
  return TakeHostText(text, buffer, length);
}

QXSymResult QXSymClientTypeDirect::GetArrayNumDimensions(std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetArrayNumDimensions, context_, id_,
                   count);
}

QXSymResult QXSymClientTypeDirect::GetArrayDimension(std::uint32_t index, std::uint32_t* value) {
  if (value == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetArrayDimension, context_, id_, index,
                   value);
}

QXSymResult QXSymClientTypeDirect::GetArrayDimensions(std::uint32_t* values,
                                                      std::uint8_t maxCount) {
  if (values == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetArrayDimensions, context_, id_, values,
                   maxCount);
}

QXSymResult QXSymClientTypeDirect::GetProperties(std::uint32_t* flags) {
  if (flags == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TypeGetProperties, context_, id_, flags);
}

std::unique_ptr<QXSymClientType> QXSymClientTypeDirect::Clone() const {
  return NewOrNull<QXSymClientTypeDirect>(*this);
}

WorkspaceKey QXSymClientTypeDirect::GetWorkspaceKey() const {
  return WorkspaceKey{table_, context_, 0};
}

}  // namespace qxsym
