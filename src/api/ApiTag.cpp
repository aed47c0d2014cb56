// Exported functions for tags. All but QXSym_CloseTag run on a copy of the
// registered tag, outside the library lock.
#include <memory>
#include <mutex>

#include "ApiShape.h"
#include "QXSymClientTag.h"
#include "QXSymClientType.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

// Started check, null-handle check, the function's own pointer checks
// (checks_ok false: symResInvalidParameter), then op on a copy of the tag.
template <typename Op>
QXSymResult OnTag(QXSymTagHandle tag, bool checks_ok, Op&& op) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (tag == 0) return symResInvalidHandle;
    if (!checks_ok) return symResInvalidParameter;
    return WithCopy<QXSymClientTag>(tag, op);
  });
}

// A buffer may be null only when it carries no bytes.
bool BufferOk(const void* p, uint32_t size) { return p != nullptr || size == 0; }

}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_GetTagName(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnTag(tag, buffer && length, [&](QXSymClientTag& t) { return t.GetName(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDescr(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnTag(tag, buffer && length,
               [&](QXSymClientTag& t) { return t.GetDescr(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataType(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnTag(tag, buffer && length,
               [&](QXSymClientTag& t) { return t.GetDataType(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagAttribute(QXSymTagHandle tag, const TCHAR* name, TCHAR* buffer,
                                             uint16_t* length) {
  return OnTag(tag, buffer && length,
               [&](QXSymClientTag& t) { return t.GetAttribute(name, buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataTypeVar(QXSymTagHandle tag, QXSymTyVar* type) {
  return OnTag(tag, type != nullptr, [&](QXSymClientTag& t) {
    std::uint32_t v = 0;
    QXSymResult r = t.GetDataTypeVar(&v);
    if (r == symResOk) *type = static_cast<QXSymTyVar>(v);
    return r;
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataSize(QXSymTagHandle tag, uint32_t* size) {
  return OnTag(tag, size != nullptr, [&](QXSymClientTag& t) { return t.GetDataSize(size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataFullSize(QXSymTagHandle tag, uint32_t* size) {
  return OnTag(tag, size != nullptr, [&](QXSymClientTag& t) { return t.GetDataFullSize(size); });
}

QXSymResult QXSYM_CALL QXSym_IsTagReadOnly(QXSymTagHandle tag, bool_t* answer) {
  return OnTag(tag, answer != nullptr, [&](QXSymClientTag& t) { return t.IsReadOnly(answer); });
}

QXSymResult QXSYM_CALL QXSym_IsTagBitAddress(QXSymTagHandle tag, bool_t* answer) {
  return OnTag(tag, answer != nullptr, [&](QXSymClientTag& t) { return t.IsBitAddress(answer); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDims(QXSymTagHandle tag, uint32_t* dim1, uint32_t* dim2,
                                        uint32_t* dim3) {
  return OnTag(tag, dim1 && dim2 && dim3,
               [&](QXSymClientTag& t) { return t.GetDims(dim1, dim2, dim3); });
}

QXSymResult QXSYM_CALL QXSym_GetTagAddress(QXSymTagHandle tag, qxsym_addr_t* address) {
  return OnTag(tag, address != nullptr, [&](QXSymClientTag& t) {
    std::uint32_t dropped = 0;
    return t.GetArrayAddress(0, 0, 0, address, &dropped);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagAddressBitOffset(QXSymTagHandle tag, qxsym_addr_t* address,
                                                    uint32_t* bitOffset) {
  return OnTag(tag, address && bitOffset,
               [&](QXSymClientTag& t) { return t.GetArrayAddress(0, 0, 0, address, bitOffset); });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayAddress(QXSymTagHandle tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3,
                                                qxsym_addr_t* address) {
  return OnTag(tag, address != nullptr, [&](QXSymClientTag& t) {
    return t.GetArrayAddress(index1, index2, index3, address, nullptr);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayAddressBitOffset(QXSymTagHandle tag, uint32_t index1,
                                                         uint32_t index2, uint32_t index3,
                                                         qxsym_addr_t* address,
                                                         uint32_t* bitOffset) {
  return OnTag(tag, address && bitOffset, [&](QXSymClientTag& t) {
    return t.GetArrayAddress(index1, index2, index3, address, bitOffset);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagValue_Ptr(QXSymTagHandle tag, void* buffer, uint32_t size) {
  return OnTag(tag, BufferOk(buffer, size), [&](QXSymClientTag& t) {
    std::uint32_t data_size = 0;
    QXSymResult r = t.GetDataSize(&data_size);
    if (r != symResOk) return r;
    if (size < data_size) return symResInvalidBuffer;
    return t.GetValue(buffer, size);
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagValue_Ptr(QXSymTagHandle tag, const void* data, uint32_t size) {
  return OnTag(tag, BufferOk(data, size),
               [&](QXSymClientTag& t) { return t.SetValue(data, size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3, void* buffer,
                                                  uint32_t size) {
  return OnTag(tag, BufferOk(buffer, size), [&](QXSymClientTag& t) {
    return t.GetArrayValue(index1, index2, index3, buffer, size);
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3,
                                                  const void* data, uint32_t size) {
  return OnTag(tag, BufferOk(data, size), [&](QXSymClientTag& t) {
    return t.SetArrayValue(index1, index2, index3, data, size);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagRawValue_Ptr(QXSymTagHandle tag, void* buffer, uint32_t size) {
  return OnTag(tag, buffer != nullptr, [&](QXSymClientTag& t) {
    std::uint32_t full = 0;
    QXSymResult r = t.GetDataFullSize(&full);
    if (r != symResOk) return r;
    if (full > size) return symResInvalidBuffer;
    if (full == 0) return symResOk;
    return t.GetRawValue(buffer, full);  // exactly the full size
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagRawValue_Ptr(QXSymTagHandle tag, const void* data,
                                                uint32_t size) {
  return OnTag(tag, data != nullptr, [&](QXSymClientTag& t) {
    std::uint32_t full = 0;
    QXSymResult r = t.GetDataFullSize(&full);
    if (r != symResOk) return r;
    if (size > full) return symResInvalidParameter;
    if (full == 0) return symResOk;
    return t.SetRawValue(data, size);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagType(QXSymTagHandle tag, QXSymTypeHandle* type) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (tag == 0) return symResInvalidHandle;
    if (type == nullptr) return symResInvalidParameter;
    std::unique_ptr<QXSymClientType> obj;
    QXSymResult r =
        WithCopy<QXSymClientTag>(tag, [&](QXSymClientTag& t) { return t.GetType(&obj); });
    if (r != symResOk) return r;
    int h = Register(std::move(obj));
    if (h == 0) return symResMemoryAllocError;
    *type = h;
    return symResOk;
  });
}

QXSymResult QXSYM_CALL QXSym_CloseTag(QXSymTagHandle tag) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (tag == 0) return symResInvalidHandle;
    QXSymResult r = WithCopy<QXSymClientTag>(tag, [](QXSymClientTag& t) { return t.Close(); });
    if (r != symResOk) return r;  // the handle stays valid; the caller may retry
    // A second closer that lost the race finds nothing to remove.
    std::shared_ptr<void> obj = Unregister<QXSymClientTag>(tag);
    return symResOk;
  });
}

}  // extern "C"
