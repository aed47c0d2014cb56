// A type reached through the symbol service of a controller: one request and
// one reply per question (commands 71 to 88 and 90).
#pragma once

#include <memory>

#include "CCommunication.h"
#include "QXSymClientType.h"
#include "RemoteCall.h"
#include "SymbolMessages.h"

namespace qxsym {

class QXSymClientTypeRemote : public QXSymClientType {
 public:
  QXSymClientTypeRemote(std::shared_ptr<CCommunication> channel, SymRef workspace, SymRef type)
      : channel_(std::move(channel)), workspace_(workspace), type_(type) {}

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

  const std::shared_ptr<CCommunication>& channel() const { return channel_; }
  const SymRef& workspaceRef() const { return workspace_; }
  const SymRef& typeRef() const { return type_; }

 private:
  RemoteObject target() const { return RemoteObject{channel_.get(), workspace_, type_}; }
  // Makes the child type named by a reference that the exchange answered.
  QXSymResult MakeChild(QXSymResult asked, const SymRef& ref,
                        std::unique_ptr<QXSymClientType>* child);

  std::shared_ptr<CCommunication> channel_;
  SymRef workspace_;
  SymRef type_;
};

}  // namespace qxsym
