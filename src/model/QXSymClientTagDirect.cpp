#include "QXSymClientTagDirect.h"

#include <cstdlib>
#include <limits>
#include <new>

#include "DirectCall.h"
#include "NoThrowNew.h"
#include "QXSymClientTypeDirect.h"

namespace qxsym {

QXSymResult QXSymClientTagDirect::Close() {
  return CallEntry(table_, &QXSymDirectAccessTable::TagClose, context_, id_);
}

QXSymResult QXSymClientTagDirect::AskText(QXSymDA_ObjText QXSymDirectAccessTable::*entry,
                                          TCHAR* buffer, std::uint16_t* length) {
  if (buffer == nullptr || length == nullptr) return symResInvalidParameter;
  char* text = nullptr;
  const QXSymResult r = CallEntry(table_, entry, context_, id_, &text);
  if (r != symResOk) {
    std::free(text);
    return r;
  }
  return TakeHostText(text, buffer, length);
}

QXSymResult QXSymClientTagDirect::GetName(TCHAR* buffer, std::uint16_t* length) {
  return AskText(&QXSymDirectAccessTable::TagGetName, buffer, length);
}

QXSymResult QXSymClientTagDirect::GetDataType(TCHAR* buffer, std::uint16_t* length) {
  return AskText(&QXSymDirectAccessTable::TagGetDataType, buffer, length);
}

QXSymResult QXSymClientTagDirect::GetDescr(TCHAR* buffer, std::uint16_t* length) {
  return AskText(&QXSymDirectAccessTable::TagGetDescr, buffer, length);
}

QXSymResult QXSymClientTagDirect::GetAttribute(const TCHAR* name, TCHAR* buffer,
                                               std::uint16_t* length) {
  if (buffer == nullptr || length == nullptr) return symResInvalidParameter;
  char* text = nullptr;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TagGetAttribute, context_, id_, name, &text);
  if (r != symResOk) {
    std::free(text);
    return r;
  }
  return TakeHostText(text, buffer, length);
}

QXSymResult QXSymClientTagDirect::AskDataSize(std::uint32_t* out) {
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetDataSize, context_, id_, out);
}

QXSymResult QXSymClientTagDirect::AskDataFullSize(std::uint32_t* out) {
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetDataFullSize, context_, id_, out);
}

QXSymResult QXSymClientTagDirect::AskDataTypeVar(std::uint32_t* out) {
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetDataTypeVar, context_, id_, out);
}

QXSymResult QXSymClientTagDirect::IsReadOnly(bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TagIsReadOnly, context_, id_, answer);
}

QXSymResult QXSymClientTagDirect::IsBitAddress(bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TagIsBitAddress, context_, id_, answer);
}

QXSymResult QXSymClientTagDirect::GetDims(std::uint32_t* dim1, std::uint32_t* dim2,
                                          std::uint32_t* dim3) {
  if (dim1 == nullptr || dim2 == nullptr || dim3 == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetDims, context_, id_, dim1, dim2, dim3);
}

QXSymResult QXSymClientTagDirect::GetValue(void* buffer, std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  std::uint32_t count = 0;
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetValue, context_, id_, buffer, size,
                   &count);
}

QXSymResult QXSymClientTagDirect::SetValue(const void* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TagSetValue, context_, id_, data, size);
}

QXSymResult QXSymClientTagDirect::GetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                                std::uint32_t index3, void* buffer,
                                                std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  std::uint32_t count = 0;
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetArrayValue, context_, id_, index1, index2,
                   index3, buffer, size, &count);
}

QXSymResult QXSymClientTagDirect::SetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                                std::uint32_t index3, const void* data,
                                                std::uint32_t size) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::TagSetArrayValue, context_, id_, index1, index2,
                   index3, data, size);
}

QXSymResult QXSymClientTagDirect::GetType(std::unique_ptr<QXSymClientType>* type) {
  if (type == nullptr) return symResInvalidParameter;
  std::uint32_t type_id = 0;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TagGetType, context_, id_, &type_id);
  if (r != symResOk) return r;
  return MakeObject<QXSymClientTypeDirect>(type, table_, context_, type_id);
}

QXSymResult QXSymClientTagDirect::GetRawValue(void* buffer, std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  std::uint32_t count = 0;
  return CallEntry(table_, &QXSymDirectAccessTable::TagGetRawValue, context_, id_, std::uint32_t{0},
                   size, buffer, size, &count);
}

QXSymResult QXSymClientTagDirect::SetRawValue(const void* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  std::uint32_t count = 0;
  return CallEntry(table_, &QXSymDirectAccessTable::TagSetRawValue, context_, id_, std::uint32_t{0},
                   size, data, &count);
}

QXSymResult QXSymClientTagDirect::GetArrayAddress(std::uint32_t index1, std::uint32_t index2,
                                                  std::uint32_t index3, qxsym_addr_t* address,
                                                  std::uint32_t* bitOffset) {
  if (address == nullptr) return symResInvalidParameter;
  *address = 0;
  addr64_t full_address = 0;
  std::uint8_t ignored1 = 0;
  std::uint8_t ignored2 = 0;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::TagGetArrayAddress, context_, id_, index1, index2,
                index3, &full_address, bitOffset, &ignored1, &ignored2);
  if (r != symResOk) return r;
  if (full_address > std::numeric_limits<qxsym_addr_t>::max()) {
    return symResAddressMismatch32vs64;
  }
  *address = static_cast<qxsym_addr_t>(full_address);
  return symResOk;
}

std::unique_ptr<QXSymClientTag> QXSymClientTagDirect::Clone() const {
  std::unique_ptr<QXSymClientTag> copy = NewOrNull<QXSymClientTagDirect>(table_, context_, id_);
  if (copy) CopyCachedValuesTo(copy.get());
  return copy;
}

WorkspaceKey QXSymClientTagDirect::GetWorkspaceKey() const {
  return WorkspaceKey{table_, context_, 0};
}

}  // namespace qxsym
