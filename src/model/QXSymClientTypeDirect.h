// A type served by the host program's table: one entry per question
// (entries 28 to 46).
#pragma once

#include <cstdint>

#include "QXSymClientType.h"
#include "QXSymDirectAccess.h"

namespace qxsym {

class QXSymClientTypeDirect : public QXSymClientType {
 public:
  QXSymClientTypeDirect(const QXSymDirectAccessTable* table, std::uint32_t context,
                        std::uint32_t id)
      : table_(table), context_(context), id_(id) {}

  QXSymResult IsBasic(bool_t* answer) override;
  QXSymResult IsComplex(bool_t* answer) override;
  QXSymResult IsString(bool_t* answer) override;
  QXSymResult IsArray(bool_t* answer) override;
  QXSymResult IsStruct(bool_t* answer) override;
  QXSymResult IsFunctionBlock(bool_t* answer) override;
  QXSymResult IsNumeric(bool_t* answer) override;
  QXSymResult IsSigned(bool_t* answer) override;
  QXSymResult IsInteger(bool_t* answer) override;
  QXSymResult GetSize(std::uint32_t* size) override;
  QXSymResult GetName(TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult GetNumChildren(std::uint32_t* count) override;
  QXSymResult GetChild(std::uint32_t index, std::unique_ptr<QXSymClientType>* child) override;
  QXSymResult GetChildByName(const TCHAR* name, std::unique_ptr<QXSymClientType>* child) override;
  QXSymResult GetChildName(std::uint32_t index, TCHAR* buffer, std::uint16_t* length) override;
  QXSymResult GetArrayNumDimensions(std::uint32_t* count) override;
  QXSymResult GetArrayDimension(std::uint32_t index, std::uint32_t* value) override;
  QXSymResult GetArrayDimensions(std::uint32_t* values, std::uint8_t maxCount) override;
  QXSymResult GetProperties(std::uint32_t* flags) override;
  std::unique_ptr<QXSymClientType> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const QXSymDirectAccessTable* table() const { return table_; }
  std::uint32_t context() const { return context_; }
  std::uint32_t id() const { return id_; }

 private:
  QXSymResult AskBool(QXSymDA_ObjBool QXSymDirectAccessTable::*entry, bool_t* answer);
  QXSymResult MakeChild(QXSymResult entry_result, std::uint32_t child_id,
                        std::unique_ptr<QXSymClientType>* child);

  const QXSymDirectAccessTable* table_;
  std::uint32_t context_;
  std::uint32_t id_;
};

}  // namespace qxsym
