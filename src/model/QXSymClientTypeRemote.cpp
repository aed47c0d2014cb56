#include "QXSymClientTypeRemote.h"

#include <new>

#include "NoThrowNew.h"
#include "RemoteCall.h"
#include "TypeMessages.h"

namespace qxsym {

QXSymResult QXSymClientTypeRemote::MakeChild(QXSymResult asked, const SymRef& ref,
                                             std::unique_ptr<QXSymClientType>* child) {
  if (asked != symResOk) return asked;
  return MakeObject<QXSymClientTypeRemote>(child, channel_, workspace_, ref);
}

QXSymResult QXSymClientTypeRemote::IsBasic(bool_t* a) {
  return AskBool(target(), kCmdTypeIsBasic, a);
}
QXSymResult QXSymClientTypeRemote::IsComplex(bool_t* a) {
  return AskBool(target(), kCmdTypeIsComplex, a);
}
QXSymResult QXSymClientTypeRemote::IsString(bool_t* a) {
  return AskBool(target(), kCmdTypeIsString, a);
}
QXSymResult QXSymClientTypeRemote::IsArray(bool_t* a) {
  return AskBool(target(), kCmdTypeIsArray, a);
}
QXSymResult QXSymClientTypeRemote::IsStruct(bool_t* a) {
  return AskBool(target(), kCmdTypeIsStruct, a);
}
QXSymResult QXSymClientTypeRemote::IsFunctionBlock(bool_t* a) {
  return AskBool(target(), kCmdTypeIsFunctionBlock, a);
}
QXSymResult QXSymClientTypeRemote::IsNumeric(bool_t* a) {
  return AskBool(target(), kCmdTypeIsNumeric, a);
}
QXSymResult QXSymClientTypeRemote::IsSigned(bool_t* a) {
  return AskBool(target(), kCmdTypeIsSigned, a);
}
QXSymResult QXSymClientTypeRemote::IsInteger(bool_t* a) {
  return AskBool(target(), kCmdTypeIsInteger, a);
}

QXSymResult QXSymClientTypeRemote::GetSize(std::uint32_t* size) {
  return AskU32(target(), kCmdTypeGetSize, nullptr, size);
}

QXSymResult QXSymClientTypeRemote::GetName(TCHAR* buffer, std::uint16_t* length) {
  return AskText(target(), kCmdTypeGetName, nullptr, buffer, length);
}

QXSymResult QXSymClientTypeRemote::GetNumChildren(std::uint32_t* count) {
  return AskU32(target(), kCmdTypeGetNumChildren, nullptr, count);
}

QXSymResult QXSymClientTypeRemote::GetChild(std::uint32_t index,
                                            std::unique_ptr<QXSymClientType>* child) {
  if (child == nullptr) return symResInvalidParameter;
  SymRef ref;
  return MakeChild(AskRef(target(), kCmdTypeGetChild, &index, &ref), ref, child);
}

QXSymResult QXSymClientTypeRemote::GetChildByName(const TCHAR* name,
                                                  std::unique_ptr<QXSymClientType>* child) {
  if (child == nullptr) return symResInvalidParameter;
  std::uint8_t req[kChildByNameRequestCapacity];
  WireWriter w(req, sizeof req);
  PackChildByNameRequest(w, workspace_, type_, name);
  SymRef ref;
  return MakeChild(ExchangeForRef(channel_.get(), w, &ref), ref, child);
}

QXSymResult QXSymClientTypeRemote::GetChildName(std::uint32_t index, TCHAR* buffer,
                                                std::uint16_t* length) {
  return AskText(target(), kCmdTypeGetChildName, &index, buffer, length);
}

QXSymResult QXSymClientTypeRemote::GetArrayNumDimensions(std::uint32_t* count) {
  return AskU32(target(), kCmdTypeGetArrayNumDimensions, nullptr, count);
}

QXSymResult QXSymClientTypeRemote::GetArrayDimension(std::uint32_t index, std::uint32_t* value) {
  return AskU32(target(), kCmdTypeGetArrayDimension, &index, value);
}

QXSymResult QXSymClientTypeRemote::GetArrayDimensions(std::uint32_t* values,
                                                      std::uint8_t maxCount) {
  std::uint8_t req[kObjectHeaderSize];
  WireWriter w(req, sizeof req);
  PackObjectHeader(w, kCmdTypeGetArrayDimensions, workspace_, type_);
  std::uint8_t reply[kDimsReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint32_t count = 0;
  const std::uint8_t* raw = nullptr;
  if (!UnpackArrayDimensionsReply(payload, &count, &raw)) return symResNotOk;
  if (count > maxCount) return symResInvalidParameter;
  if (count == 0) return symResOk;
  if (values == nullptr) return symResInvalidParameter;
  // Every value must have arrived before any is written.
  if (raw == nullptr) return symResNotOk;
  for (std::uint32_t i = 0; i < count; ++i) values[i] = ArrayDimensionEntry(raw, i);
  return symResOk;
}

QXSymResult QXSymClientTypeRemote::GetProperties(std::uint32_t* flags) {
  return AskU32(target(), kCmdTypeGetProperties, nullptr, flags);
}

std::unique_ptr<QXSymClientType> QXSymClientTypeRemote::Clone() const {
  return NewOrNull<QXSymClientTypeRemote>(*this);
}

WorkspaceKey QXSymClientTypeRemote::GetWorkspaceKey() const {
  return WorkspaceKey{channel_.get(), workspace_.w0, workspace_.w1};
}

}  // namespace qxsym
