// Exported functions for tags. All but QXSym_CloseTag's removal run on a
// copy of the registered tag, outside the library lock.
#include "ApiShape.h"
#include "QXSymClientTag.h"
#include "QXSymClientType.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

using Tag = QXSymClientTag;

// A buffer may be null only when it carries no bytes.
bool BufferOk(const void* p, uint32_t size) { return p != nullptr || size == 0; }

}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_GetTagName(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnCopy<Tag>(tag, buffer && length, [&](Tag& t) { return t.GetName(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDescr(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnCopy<Tag>(tag, buffer && length, [&](Tag& t) { return t.GetDescr(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataType(QXSymTagHandle tag, TCHAR* buffer, uint16_t* length) {
  return OnCopy<Tag>(tag, buffer && length, [&](Tag& t) { return t.GetDataType(buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagAttribute(QXSymTagHandle tag, const TCHAR* name, TCHAR* buffer,
                                             uint16_t* length) {
  return OnCopy<Tag>(tag, buffer && length,
                     [&](Tag& t) { return t.GetAttribute(name, buffer, length); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataTypeVar(QXSymTagHandle tag, QXSymTyVar* type) {
  return OnCopy<Tag>(tag, type != nullptr, [&](Tag& t) {
    std::uint32_t v = 0;
    const QXSymResult r = t.GetDataTypeVar(&v);
    if (r == symResOk) *type = static_cast<QXSymTyVar>(v);
    return r;
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataSize(QXSymTagHandle tag, uint32_t* size) {
  return OnCopy<Tag>(tag, size != nullptr, [&](Tag& t) { return t.GetDataSize(size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDataFullSize(QXSymTagHandle tag, uint32_t* size) {
  return OnCopy<Tag>(tag, size != nullptr, [&](Tag& t) { return t.GetDataFullSize(size); });
}

QXSymResult QXSYM_CALL QXSym_IsTagReadOnly(QXSymTagHandle tag, bool_t* answer) {
  return OnCopy<Tag>(tag, answer != nullptr, [&](Tag& t) { return t.IsReadOnly(answer); });
}

QXSymResult QXSYM_CALL QXSym_IsTagBitAddress(QXSymTagHandle tag, bool_t* answer) {
  return OnCopy<Tag>(tag, answer != nullptr, [&](Tag& t) { return t.IsBitAddress(answer); });
}

QXSymResult QXSYM_CALL QXSym_GetTagDims(QXSymTagHandle tag, uint32_t* dim1, uint32_t* dim2,
                                        uint32_t* dim3) {
  return OnCopy<Tag>(tag, dim1 && dim2 && dim3,
                     [&](Tag& t) { return t.GetDims(dim1, dim2, dim3); });
}

QXSymResult QXSYM_CALL QXSym_GetTagAddress(QXSymTagHandle tag, qxsym_addr_t* address) {
  return OnCopy<Tag>(tag, address != nullptr, [&](Tag& t) {
    // The source always gets somewhere to put the bit offset; it is dropped.
    std::uint32_t dropped = 0;
    return t.GetArrayAddress(0, 0, 0, address, &dropped);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagAddressBitOffset(QXSymTagHandle tag, qxsym_addr_t* address,
                                                    uint32_t* bitOffset) {
  return OnCopy<Tag>(tag, address && bitOffset,
                     [&](Tag& t) { return t.GetArrayAddress(0, 0, 0, address, bitOffset); });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayAddress(QXSymTagHandle tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3,
                                                qxsym_addr_t* address) {
  return OnCopy<Tag>(tag, address != nullptr, [&](Tag& t) {
    return t.GetArrayAddress(index1, index2, index3, address, nullptr);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayAddressBitOffset(QXSymTagHandle tag, uint32_t index1,
                                                         uint32_t index2, uint32_t index3,
                                                         qxsym_addr_t* address,
                                                         uint32_t* bitOffset) {
  return OnCopy<Tag>(tag, address && bitOffset, [&](Tag& t) {
    return t.GetArrayAddress(index1, index2, index3, address, bitOffset);
  });
}

QXSymResult QXSYM_CALL QXSym_GetTagValue_Ptr(QXSymTagHandle tag, void* buffer, uint32_t size) {
  return OnCopy<Tag>(tag, BufferOk(buffer, size),
                     [&](Tag& t) { return t.ReadValue(buffer, size); });
}

QXSymResult QXSYM_CALL QXSym_SetTagValue_Ptr(QXSymTagHandle tag, const void* data, uint32_t size) {
  return OnCopy<Tag>(tag, BufferOk(data, size), [&](Tag& t) { return t.SetValue(data, size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3, void* buffer,
                                                  uint32_t size) {
  return OnCopy<Tag>(tag, BufferOk(buffer, size),
                     [&](Tag& t) { return t.GetArrayValue(index1, index2, index3, buffer, size); });
}

QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3,
                                                  const void* data, uint32_t size) {
  return OnCopy<Tag>(tag, BufferOk(data, size),
                     [&](Tag& t) { return t.SetArrayValue(index1, index2, index3, data, size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagRawValue_Ptr(QXSymTagHandle tag, void* buffer, uint32_t size) {
  return OnCopy<Tag>(tag, buffer != nullptr, [&](Tag& t) { return t.ReadRawValue(buffer, size); });
}

QXSymResult QXSYM_CALL QXSym_SetTagRawValue_Ptr(QXSymTagHandle tag, const void* data,
                                                uint32_t size) {
  return OnCopy<Tag>(tag, data != nullptr, [&](Tag& t) { return t.WriteRawValue(data, size); });
}

QXSymResult QXSYM_CALL QXSym_GetTagType(QXSymTagHandle tag, QXSymTypeHandle* type) {
  return MakeOnCopy<QXSymClientType, Tag>(
      tag, true, type,
      [](Tag& t, std::unique_ptr<QXSymClientType>* made) { return t.GetType(made); });
}

QXSymResult QXSYM_CALL QXSym_CloseTag(QXSymTagHandle tag) {
  return Call(tag, true, [&]() -> QXSymResult {
    const QXSymResult r = WithCopy<Tag>(tag, [](Tag& t) { return t.Close(); });
    // Otherwise on failure the handle stays valid; the caller may retry.
    if (r == symResOk || NothingLeftAtSource(r)) {
      // A second closer that lost the race finds nothing to remove.
      Forget<Tag>(tag);
    }
    return r;
  });
}

}  // extern "C"
