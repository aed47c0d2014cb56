// A group held by the host program's table (entries 48 to 52).
#pragma once

#include <cstdint>
#include <memory>

#include "QXSymClientGroup.h"
#include "QXSymDirectAccess.h"

namespace qxsym {

class QXSymClientGroupDirect : public QXSymClientGroup {
 public:
  QXSymClientGroupDirect(const QXSymDirectAccessTable* table, std::uint32_t context,
                         std::uint32_t id, std::shared_ptr<QXSymGroupMemberTable> members,
                         bool is_copy = false)
      : QXSymClientGroup(std::move(members), is_copy), table_(table), context_(context), id_(id) {}

  QXSymResult Read() override;
  QXSymResult Write() override;
  std::unique_ptr<QXSymClientGroup> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const QXSymDirectAccessTable* table() const { return table_; }
  std::uint32_t context() const { return context_; }
  std::uint32_t id() const { return id_; }

 protected:
  bool Accepts(const QXSymClientTag& tag) const override;
  QXSymResult SourceAdd(const QXSymClientTag& tag, std::uint32_t* size) override;
  QXSymResult SourceRemove(const QXSymClientTag& tag) override;
  QXSymResult SourceDelete() override;

 private:
  const QXSymDirectAccessTable* table_;
  std::uint32_t context_;
  std::uint32_t id_;
};

}  // namespace qxsym
