#include "QXSymClientTagRemote.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "NoThrowNew.h"
#include "QXSymClientTypeRemote.h"
#include "RemoteCall.h"
#include "ScratchBuffer.h"
#include "TagMessages.h"

namespace qxsym {

namespace {

constexpr std::uint32_t kMaxValueSize = 0xFFFF;  // value lengths are 16-bit on the wire
// Raw transfers of up to 1000 bytes use fixed buffers.
constexpr std::size_t kRawInline = 1000;
constexpr std::size_t kValueInline = 256;

}  // namespace

QXSymResult QXSymClientTagRemote::Close() { return AskStatus(target(), kCmdTagClose); }

QXSymResult QXSymClientTagRemote::GetName(TCHAR* buffer, std::uint16_t* length) {
  return AskText(target(), kCmdTagGetName, nullptr, buffer, length);
}

QXSymResult QXSymClientTagRemote::GetDataType(TCHAR* buffer, std::uint16_t* length) {
  return AskText(target(), kCmdTagGetDataType, nullptr, buffer, length);
}

QXSymResult QXSymClientTagRemote::GetDescr(TCHAR* buffer, std::uint16_t* length) {
  return AskText(target(), kCmdTagGetDescr, nullptr, buffer, length);
}

QXSymResult QXSymClientTagRemote::GetAttribute(const TCHAR* name, TCHAR* buffer,
                                               std::uint16_t* length) {
  std::uint8_t req[kTagAttributeRequestCapacity];
  WireWriter w(req, sizeof req);
  PackTagAttributeRequest(w, workspace_, tag_, name);
  return ExchangeForText(channel_.get(), w, buffer, length);
}

QXSymResult QXSymClientTagRemote::AskDataSize(std::uint32_t* out) {
  return AskU32(target(), kCmdTagGetDataSize, nullptr, out);
}

QXSymResult QXSymClientTagRemote::AskDataFullSize(std::uint32_t* out) {
  return AskU32(target(), kCmdTagGetDataFullSize, nullptr, out);
}

QXSymResult QXSymClientTagRemote::AskDataTypeVar(std::uint32_t* out) {
  return AskU32(target(), kCmdTagGetDataTypeVar, nullptr, out);
}

QXSymResult QXSymClientTagRemote::IsReadOnly(bool_t* answer) {
  return AskBool(target(), kCmdTagIsReadOnly, answer);
}

QXSymResult QXSymClientTagRemote::IsBitAddress(bool_t* answer) {
  return AskBool(target(), kCmdTagIsBitAddress, answer);
}

QXSymResult QXSymClientTagRemote::GetDims(std::uint32_t* dim1, std::uint32_t* dim2,
                                          std::uint32_t* dim3) {
  if (dim1 == nullptr || dim2 == nullptr || dim3 == nullptr) return symResInvalidParameter;
  std::uint8_t req[kObjectHeaderSize];
  WireWriter w(req, sizeof req);
  PackObjectHeader(w, kCmdTagGetDims, workspace_, tag_);
  std::uint8_t reply[kTagDimsReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint32_t dims[3];
  if (!UnpackTagDimsReply(payload, dims)) return symResNotOk;
  *dim1 = dims[0];
  *dim2 = dims[1];
  *dim3 = dims[2];
  return symResOk;
}

QXSymResult QXSymClientTagRemote::ReadValueOnServer(std::uint16_t code,
                                                    const std::uint32_t* indices, void* buffer,
                                                    std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  std::uint8_t req[kTagIndexedRequestSize];
  WireWriter w(req, sizeof req);
  PackValueReadRequest(w, code, workspace_, tag_, indices);

  // A reply carries at most a 16-bit length of value: a larger buffer is
  // welcome, only the part a reply can fill is offered.
  const std::uint32_t capacity = std::min(size, kMaxValueSize) + kValueReplyOverhead;
  ScratchBuffer<kValueInline> reply(capacity);
  if (!reply.ok()) return symResNotOk;
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply.data(), capacity, &payload);
  if (r != symResOk) return r;
  std::uint16_t value_length = 0;
  const std::uint8_t* value = nullptr;
  if (!UnpackValueReply(payload, &value_length, &value)) return symResNotOk;
  if (value_length > size) return symResInvalidBuffer;
  if (value == nullptr) return symResNotOk;
  if (value_length != 0) std::memcpy(buffer, value, value_length);
  return symResOk;
}

QXSymResult QXSymClientTagRemote::WriteValueOnServer(std::uint16_t code,
                                                     const std::uint32_t* indices, const void* data,
                                                     std::uint32_t size) {
  if (size > kMaxValueSize) return symResInvalidParameter;
  if (data == nullptr && size != 0) return symResInvalidParameter;
  const std::size_t request_size = ValueWriteRequestSize(code, size);
  ScratchBuffer<kValueInline + kTagIndexedRequestSize + 2> req(request_size);
  if (!req.ok()) return symResNotOk;
  WireWriter w(req.data(), request_size);
  PackValueWriteRequest(w, code, workspace_, tag_, indices, data, size);
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientTagRemote::GetValue(void* buffer, std::uint32_t size) {
  return ReadValueOnServer(kCmdTagGetValue, nullptr, buffer, size);
}

QXSymResult QXSymClientTagRemote::SetValue(const void* data, std::uint32_t size) {
  return WriteValueOnServer(kCmdTagSetValue, nullptr, data, size);
}

QXSymResult QXSymClientTagRemote::GetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                                std::uint32_t index3, void* buffer,
                                                std::uint32_t size) {
  const std::uint32_t indices[3] = {index1, index2, index3};
  return ReadValueOnServer(kCmdTagGetArrayValue, indices, buffer, size);
}

QXSymResult QXSymClientTagRemote::SetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                                std::uint32_t index3, const void* data,
                                                std::uint32_t size) {
  const std::uint32_t indices[3] = {index1, index2, index3};
  return WriteValueOnServer(kCmdTagSetArrayValue, indices, data, size);
}

QXSymResult QXSymClientTagRemote::GetType(std::unique_ptr<QXSymClientType>* type) {
  if (type == nullptr) return symResInvalidParameter;
  SymRef ref;
  const QXSymResult r = AskRef(target(), kCmdTagGetType, nullptr, &ref);
  if (r != symResOk) return r;
  return MakeObject<QXSymClientTypeRemote>(type, channel_, workspace_, ref);
}

QXSymResult QXSymClientTagRemote::GetRawValue(void* buffer, std::uint32_t size) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  if (size > std::numeric_limits<std::uint32_t>::max() - kRawReplyOverhead) {
    return symResInvalidParameter;
  }
  std::uint8_t req[kRawRequestSize];
  WireWriter w(req, sizeof req);
  PackRawReadRequest(w, workspace_, tag_, 0, size);

  const std::uint32_t capacity = size + kRawReplyOverhead;
  ScratchBuffer<kRawInline + kRawReplyOverhead> reply(capacity);
  if (!reply.ok()) return symResNotOk;
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply.data(), capacity, &payload);
  if (r != symResOk) return r;
  std::uint32_t raw_length = 0;
  const std::uint8_t* raw = nullptr;
  if (!UnpackRawReply(payload, &raw_length, &raw)) return symResNotOk;
  // The caller's buffer holds size bytes; a longer answer is not cut.
  if (raw_length > size) return symResInvalidBuffer;
  if (raw == nullptr) return symResNotOk;
  if (raw_length != 0) std::memcpy(buffer, raw, raw_length);
  return symResOk;
}

QXSymResult QXSymClientTagRemote::SetRawValue(const void* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return symResInvalidParameter;
  if (size > std::numeric_limits<std::uint32_t>::max() - kRawRequestSize) {
    return symResInvalidParameter;
  }
  const std::uint32_t request_size = kRawRequestSize + size;
  ScratchBuffer<kRawInline + kRawRequestSize> req(request_size);
  if (!req.ok()) return symResNotOk;
  WireWriter w(req.data(), request_size);
  PackRawWriteRequest(w, workspace_, tag_, 0, data, size);
  std::uint8_t reply[kU32ReplyCapacity];
  WireReader payload(nullptr, 0);
  return Exchange(channel_.get(), w, reply, sizeof reply, &payload);
}

QXSymResult QXSymClientTagRemote::GetArrayAddress(std::uint32_t index1, std::uint32_t index2,
                                                  std::uint32_t index3, qxsym_addr_t* address,
                                                  std::uint32_t* bitOffset) {
  if (address == nullptr) return symResInvalidParameter;
  const std::uint32_t indices[3] = {index1, index2, index3};
  std::uint8_t req[kTagIndexedRequestSize];
  WireWriter w(req, sizeof req);
  PackArrayAddressRequest(w, workspace_, tag_, indices);
  std::uint8_t reply[kAddressReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint64_t full_address = 0;
  std::uint32_t bit_offset = 0;
  if (!UnpackArrayAddressReply(payload, &full_address, &bit_offset)) return symResNotOk;
  if (full_address > std::numeric_limits<qxsym_addr_t>::max()) {
    return symResAddressMismatch32vs64;
  }
  *address = static_cast<qxsym_addr_t>(full_address);
  if (bitOffset != nullptr) *bitOffset = bit_offset;
  return symResOk;
}

std::unique_ptr<QXSymClientTag> QXSymClientTagRemote::Clone() const {
  std::unique_ptr<QXSymClientTag> copy =
      NewOrNull<QXSymClientTagRemote>(channel_, workspace_, tag_);
  if (copy) CopyCachedValuesTo(copy.get());
  return copy;
}

WorkspaceKey QXSymClientTagRemote::GetWorkspaceKey() const {
  return WorkspaceKey{channel_.get(), workspace_.w0, workspace_.w1};
}

}  // namespace qxsym
