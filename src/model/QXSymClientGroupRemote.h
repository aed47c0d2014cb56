// A group held by the symbol service of a controller (commands 101 to 105).
#pragma once

#include <memory>

#include "CCommunication.h"
#include "QXSymClientGroup.h"
#include "SymbolMessages.h"

namespace qxsym {

class QXSymClientGroupRemote : public QXSymClientGroup {
 public:
  QXSymClientGroupRemote(std::shared_ptr<CCommunication> channel, SymRef workspace, SymRef group,
                         std::shared_ptr<QXSymGroupMemberTable> table, bool is_copy = false)
      : QXSymClientGroup(std::move(table), is_copy),
        channel_(std::move(channel)),
        workspace_(workspace),
        group_(group) {}

  QXSymResult Read() override;
  QXSymResult Write() override;
  std::unique_ptr<QXSymClientGroup> Clone() const override;
  WorkspaceKey GetWorkspaceKey() const override;

  const std::shared_ptr<CCommunication>& channel() const { return channel_; }
  const SymRef& workspaceRef() const { return workspace_; }
  const SymRef& groupRef() const { return group_; }

 protected:
  bool Accepts(const QXSymClientTag& tag) const override;
  QXSymResult SourceAdd(const QXSymClientTag& tag, std::uint32_t* size) override;
  QXSymResult SourceRemove(const QXSymClientTag& tag) override;
  QXSymResult SourceDelete() override;

 private:
  std::shared_ptr<CCommunication> channel_;
  SymRef workspace_;
  SymRef group_;
};

}  // namespace qxsym
