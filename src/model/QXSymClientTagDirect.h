// A tag served by the host program's table: one entry per operation
// (entries 9 to 27). The caller's output pointers go to the entry unchanged,
// except for texts (taken and freed here), the type and the address.
#pragma once

#include <cstdint>

#include "QXSymClientTag.h"
#include "QXSymDirectAccess.h"

namespace qxsym {

class QXSymClientTagDirect : public QXSymClientTag {
 public:
  QXSymClientTagDirect(const QXSymDirectAccessTable* table, std::uint32_t context, std::uint32_t id)
      : table_(table), context_(context), id_(id) {}

  QXSymResult Close() override;
  QXSymResult GetName(TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult GetDataType(TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult GetDescr(TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult GetAttribute(const TCHAR* name, TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult IsReadOnly(bool_t* answer) override;
  QXSymResult IsBitAddress(bool_t* answer) override;
  QXSymResult GetDims(std::uint32_t* dim1, std::uint32_t* dim2, std::uint32_t* dim3) override;
  QXSymResult GetValue(void* buffer, std::uint32_t size) override;
  QXSymResult SetValue(const void* data, std::uint32_t size) override;
  QXSymResult GetArrayValue(std::uint32_t index1, std::uint32_t index2, std::uint32_t index3,
                            void* buffer, std::uint32_t size) override;
  QXSymResult SetArrayValue(std::uint32_t index1, std::uint32_t index2, std::uint32_t index3,
                            const void* data, std::uint32_t size) override;
  QXSymResult GetType(std::unique_ptr<QXSymClientType>* type) override;
  QXSymResult GetRawValue(void* buffer, std::uint32_t size) override;
  QXSymResult SetRawValue(const void* data, std::uint32_t size) override;
  // The host reports a 64-bit address into a local; the caller's address is
  // zeroed first and receives the narrowed value only when it fits.
  QXSymResult GetArrayAddress(std::uint32_t index1, std::uint32_t index2, std::uint32_t index3,
                              qxsym_addr_t* address, std::uint32_t* bitOffset) override;
  std::unique_ptr<QXSymClientTag> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const QXSymDirectAccessTable* table() const { return table_; }
  std::uint32_t context() const { return context_; }
  std::uint32_t id() const { return id_; }

 protected:
  QXSymResult AskDataSize(std::uint32_t* out) override;
  QXSymResult AskDataFullSize(std::uint32_t* out) override;
  QXSymResult AskDataTypeVar(std::uint32_t* out) override;

 private:
  QXSymResult AskText(QXSymDA_ObjText QXSymDirectAccessTable::*entry, TCHAR* buffer,
                      std::uint16_t* length);

  const QXSymDirectAccessTable* table_;
  std::uint32_t context_;
  std::uint32_t id_;
};

}  // namespace qxsym
