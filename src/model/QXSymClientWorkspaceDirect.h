// A workspace served by the host program's table in the same process
// (entries 0 to 3, 6 to 8, 47, 54, 55). The table belongs to the host and
// is never released here. The raw symbol table is not available this way.
#pragma once

#include <cstdint>

#include "QXSymClientWorkspace.h"
#include "QXSymDirectAccess.h"

namespace qxsym {

class QXSymClientWorkspaceDirect : public QXSymClientWorkspace {
 public:
  QXSymClientWorkspaceDirect() = default;
  QXSymClientWorkspaceDirect(const QXSymDirectAccessTable* table, std::uint32_t context,
                             bool is_copy = false)
      : QXSymClientWorkspace(is_copy), table_(table), context_(context) {}

  // Reads the table's address from the first sizeof(void*) bytes of ip.
  bool Attach(const QXSymServerAddress* address) override;
  QXSymResult OpenOnServer(std::uint8_t selector) override;
  QXSymResult GetServerVersion(std::uint8_t* major, std::uint8_t* minor, std::uint8_t* revision,
                               std::uint8_t* build) override;
  QXSymResult CloseOnServer() override;
  QXSymResult IsValid() override;
  // Both answer symResNotImplemented without calling the table.
  QXSymResult GetSymbolTableSize(std::uint32_t* size) override;
  QXSymResult ReadSymbolTable(std::uint32_t size, void* buffer) override;
  QXSymResult GetGlobalTag(const TCHAR* name, std::unique_ptr<QXSymClientTag>* tag) override;
  QXSymResult GetGlobalTags(TagList* tags, std::uint32_t capacity) override;
  QXSymResult QueryGlobalTags(const TCHAR* filter, TagList* tags, std::uint32_t capacity) override;
  QXSymResult GetGlobalTagsNum(std::uint32_t* count) override;
  QXSymResult QueryGlobalTagsNum(const TCHAR* filter, std::uint32_t* count) override;
  QXSymResult CreateGroup(std::unique_ptr<QXSymClientGroup>* group) override;
  std::unique_ptr<QXSymClientWorkspace> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const QXSymDirectAccessTable* table() const { return table_; }
  std::uint32_t context() const { return context_; }

 private:
  QXSymResult TakeIdList(QXSymResult entry_result, std::uint32_t* ids, std::uint32_t count,
                         TagList* tags, std::uint32_t capacity);

  const QXSymDirectAccessTable* table_ = nullptr;
  std::uint32_t context_ = 0;
};

}  // namespace qxsym
