// A tag: one global variable of the PLC application behind a workspace.
//
// Every operation is one question to the workspace's source of symbols (one
// Transact for a Remote tag, one table entry for a Direct tag); indices,
// buffers and sizes are passed through and the source's verdict is returned
// unchanged. The only state is a cache of the data size, the full size and
// the basic variable type: once known, a value is never asked for again.
//
// Text operations take a buffer and a length that holds the capacity on entry
// and the text's length with its terminator on return, also when the result
// is symResInvalidBuffer.
//
// A tag used after its workspace was closed gets what the closed channel
// answers (symResConnectionLost for a Remote tag); the channel stays alive
// while any object still holds it.
#pragma once

#include <cstdint>
#include <memory>

#include "QXSymbols.h"
#include "WorkspaceKey.h"

namespace qxsym {

class QXSymClientType;

class QXSymClientTag {
 public:
  virtual ~QXSymClientTag() = default;

  // Releases the tag at the source.
  virtual QXSymResult Close() = 0;
  virtual QXSymResult GetName(TCHAR* buffer, std::uint16_t* length) = 0;
  // Name of the tag's data type, e.g. "INT".
  virtual QXSymResult GetDataType(TCHAR* buffer, std::uint16_t* length) = 0;
  // Basic variable type (a QXSymTyVar value); cached.
  virtual QXSymResult GetDataTypeVar(std::uint32_t* type);
  virtual QXSymResult GetDescr(TCHAR* buffer, std::uint16_t* length) = 0;
  // name may be null: the empty name.
  virtual QXSymResult GetAttribute(const TCHAR* name, TCHAR* buffer, std::uint16_t* length) = 0;
  // Value size as the value operations move it; cached.
  virtual QXSymResult GetDataSize(std::uint32_t* size);
  // Size of the tag's whole memory as the raw operations move it; cached.
  virtual QXSymResult GetDataFullSize(std::uint32_t* size);
  virtual QXSymResult IsReadOnly(bool_t* answer) = 0;
  virtual QXSymResult IsBitAddress(bool_t* answer) = 0;
  virtual QXSymResult GetDims(std::uint32_t* dim1, std::uint32_t* dim2, std::uint32_t* dim3) = 0;
  virtual QXSymResult GetValue(void* buffer, std::uint32_t size) = 0;
  virtual QXSymResult SetValue(const void* data, std::uint32_t size) = 0;
  virtual QXSymResult GetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                    std::uint32_t index3, void* buffer, std::uint32_t size) = 0;
  virtual QXSymResult SetArrayValue(std::uint32_t index1, std::uint32_t index2,
                                    std::uint32_t index3, const void* data, std::uint32_t size) = 0;
  // A new type object for the tag's data type; *type is untouched on failure.
  virtual QXSymResult GetType(std::unique_ptr<QXSymClientType>* type) = 0;
  // size bytes of the tag's memory from its start.
  virtual QXSymResult GetRawValue(void* buffer, std::uint32_t size) = 0;
  virtual QXSymResult SetRawValue(const void* data, std::uint32_t size) = 0;
  // Address and bit offset of one element (the tag itself for 0, 0, 0).
  // bitOffset may be null. An address that does not fit qxsym_addr_t:
  // symResAddressMismatch32vs64.
  virtual QXSymResult GetArrayAddress(std::uint32_t index1, std::uint32_t index2,
                                      std::uint32_t index3, qxsym_addr_t* address,
                                      std::uint32_t* bitOffset) = 0;
  // The caller-facing value operations: the size rules, then the source.
  // ReadValue: a buffer smaller than the value's size answers
  // symResInvalidBuffer before the source is asked.
  QXSymResult ReadValue(void* buffer, std::uint32_t capacity);
  // ReadRawValue: the tag's whole memory (its full size); a smaller buffer
  // answers symResInvalidBuffer. WriteRawValue: size bytes from the start of
  // the tag's memory; more than its full size answers symResInvalidParameter.
  // Both answer symResOk without asking the source for a full size of 0.
  QXSymResult ReadRawValue(void* buffer, std::uint32_t capacity);
  QXSymResult WriteRawValue(const void* data, std::uint32_t size);

  // A copy with the same link, identity and cache; it shares the channel or
  // table and is otherwise independent. Null when memory runs out.
  virtual std::unique_ptr<QXSymClientTag> Clone() const = 0;

  // The workspace the tag belongs to.
  virtual WorkspaceKey GetWorkspaceKey() const = 0;

  // The cache.
  void SetCachedDataSize(std::uint32_t value);
  void SetCachedDataFullSize(std::uint32_t value);
  void SetCachedDataTypeVar(std::uint32_t value);
  bool GetCachedDataSize(std::uint32_t* out) const;
  bool GetCachedDataFullSize(std::uint32_t* out) const;
  bool GetCachedDataTypeVar(std::uint32_t* out) const;
  void CopyCachedValuesTo(QXSymClientTag* target) const;

 protected:
  QXSymClientTag() = default;
  QXSymClientTag(const QXSymClientTag&) = default;
  QXSymClientTag& operator=(const QXSymClientTag&) = default;

  // Ask the source when the value is not cached. On symResOk *out holds it.
  virtual QXSymResult AskDataSize(std::uint32_t* out) = 0;
  virtual QXSymResult AskDataFullSize(std::uint32_t* out) = 0;
  virtual QXSymResult AskDataTypeVar(std::uint32_t* out) = 0;

 private:
  std::uint32_t data_size_ = 0;
  bool data_size_known_ = false;
  std::uint32_t full_size_ = 0;
  bool full_size_known_ = false;
  std::uint32_t type_var_ = 0;
  bool type_var_known_ = false;
};

}  // namespace qxsym
