// A workspace on the symbol service of a controller, reached through a
// channel (commands 4 to 10, 12, 91, 100, 110, 111).
//
// The registered workspace owns the channel: its destructor closes it and
// hands it to its RetiredSink. Copies, tags, types and groups share it; after
// the close their exchanges get what a closed channel answers
// (symResConnectionLost).
#pragma once

#include <memory>

#include "CCommunication.h"
#include "QXSymClientWorkspace.h"
#include "SymbolMessages.h"

namespace qxsym {

class WireWriter;

class QXSymClientWorkspaceRemote : public QXSymClientWorkspace {
 public:
  QXSymClientWorkspaceRemote() = default;
  // A workspace on an already open channel (is_copy: a copy, which never
  // closes the channel).
  QXSymClientWorkspaceRemote(std::shared_ptr<CCommunication> channel, SymRef workspace,
                             bool is_copy = false)
      : QXSymClientWorkspace(is_copy), channel_(std::move(channel)), workspace_(workspace) {}
  ~QXSymClientWorkspaceRemote() override;

  // Creates and opens the channel for address; the record is not kept.
  bool Attach(const QXSymServerAddress* address) override;
  QXSymResult OpenOnServer(std::uint8_t selector) override;
  // All four outputs are set to 0 before the request is sent.
  QXSymResult GetServerVersion(std::uint8_t* major, std::uint8_t* minor, std::uint8_t* revision,
                               std::uint8_t* build) override;
  QXSymResult CloseOnServer() override;
  QXSymResult IsValid() override;
  // After an exchange, *size is the size on success and 0 on a refusal.
  QXSymResult GetSymbolTableSize(std::uint32_t* size) override;
  QXSymResult ReadSymbolTable(std::uint32_t size, void* buffer) override;
  QXSymResult ReadSymbolTableReporting(std::uint32_t size, void* buffer,
                                       const TransferProgress& progress) override;
  QXSymResult GetGlobalTag(const TCHAR* name, std::unique_ptr<QXSymClientTag>* tag) override;
  QXSymResult GetGlobalTags(TagList* tags, std::uint32_t capacity) override;
  QXSymResult QueryGlobalTags(const TCHAR* filter, TagList* tags, std::uint32_t capacity) override;
  QXSymResult GetGlobalTagsNum(std::uint32_t* count) override;
  QXSymResult QueryGlobalTagsNum(const TCHAR* filter, std::uint32_t* count) override;
  QXSymResult CreateGroup(std::unique_ptr<QXSymClientGroup>* group) override;
  std::unique_ptr<QXSymClientWorkspace> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const std::shared_ptr<CCommunication>& channel() const { return channel_; }
  const SymRef& workspaceRef() const { return workspace_; }

 private:
  QXSymResult AskCount(const WireWriter& request, std::uint32_t* count);
  QXSymResult TakeTagList(const WireWriter& request, TagList* tags, std::uint32_t capacity);

  std::shared_ptr<CCommunication> channel_;
  SymRef workspace_;
};

}  // namespace qxsym
