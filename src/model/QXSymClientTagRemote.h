// A tag reached through the symbol service of a controller: one request and
// one reply per operation (commands 11, 17 to 24, 26, 27, 40 to 45, 70, 89).
//
// Value lengths travel in 16-bit fields: SetValue and SetArrayValue refuse
// sizes above 65535 with symResInvalidParameter and send nothing; the value
// reads accept any buffer and offer the service at most 65535 bytes of it. A
// value or raw reply longer than the caller's size is symResInvalidBuffer and
// nothing is copied.
#pragma once

#include <memory>

#include "CCommunication.h"
#include "QXSymClientTag.h"
#include "RemoteCall.h"
#include "SymbolMessages.h"

namespace qxsym {

class QXSymClientTagRemote : public QXSymClientTag {
 public:
  QXSymClientTagRemote(std::shared_ptr<CCommunication> channel, SymRef workspace, SymRef tag)
      : channel_(std::move(channel)), workspace_(workspace), tag_(tag) {}

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
  QXSymResult GetArrayAddress(std::uint32_t index1, std::uint32_t index2, std::uint32_t index3,
                              qxsym_addr_t* address, std::uint32_t* bitOffset) override;
  std::unique_ptr<QXSymClientTag> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const std::shared_ptr<CCommunication>& channel() const { return channel_; }
  const SymRef& workspaceRef() const { return workspace_; }
  const SymRef& tagRef() const { return tag_; }

 protected:
  QXSymResult AskDataSize(std::uint32_t* out) override;
  QXSymResult AskDataFullSize(std::uint32_t* out) override;
  QXSymResult AskDataTypeVar(std::uint32_t* out) override;

 private:
  RemoteObject target() const { return RemoteObject{channel_.get(), workspace_, tag_}; }
  QXSymResult ReadValueOnServer(std::uint16_t code, const std::uint32_t* indices, void* buffer,
                                std::uint32_t size);
  QXSymResult WriteValueOnServer(std::uint16_t code, const std::uint32_t* indices, const void* data,
                                 std::uint32_t size);

  std::shared_ptr<CCommunication> channel_;
  SymRef workspace_;
  SymRef tag_;
};

}  // namespace qxsym
