#include "QXSymClientGroup.h"

namespace qxsym {

QXSymClientGroup::~QXSymClientGroup() {
  if (!is_copy_ && members_ && retired_sink_) retired_sink_->RetireGroupData(std::move(members_));
}

QXSymResult QXSymClientGroup::Delete() {
  if (!members_) return symResNotOk;
  members_->Clear();
  return SourceDelete();
}

QXSymResult QXSymClientGroup::AddTag(QXSymTagHandle handle, const QXSymClientTag& tag) {
  if (!members_) return symResNotOk;
  if (!Accepts(tag)) return symResInvalidHandle;
  std::uint32_t size = 0;
  const QXSymResult told = SourceAdd(tag, &size);
  if (told != symResOk) return told;
  const QXSymResult added = members_->Add(handle, size);
  if (added != symResOk) {
    // The source holds a member the table could not take: take it back.
    // The undo's own answer does not change the outcome.
    (void)SourceRemove(tag);
  }
  return added;
}

QXSymResult QXSymClientGroup::RemoveTag(QXSymTagHandle handle, const QXSymClientTag& tag) {
  if (!members_) return symResNotOk;
  if (!Accepts(tag)) return symResInvalidHandle;
  const QXSymResult removed = members_->Remove(handle);
  if (removed != symResOk) return removed;
  return SourceRemove(tag);
}

QXSymResult QXSymClientGroup::GetTagValue(QXSymTagHandle handle, void* buffer, std::uint32_t size) {
  if (!members_) return symResNotOk;
  return members_->GetValue(handle, buffer, size);
}

QXSymResult QXSymClientGroup::SetTagValue(QXSymTagHandle handle, const void* data,
                                          std::uint32_t size) {
  if (!members_) return symResNotOk;
  return members_->SetValue(handle, data, size);
}

void QXSymClientGroup::GetInfo(std::uint32_t* count, std::uint32_t* size) const {
  if (members_) {
    members_->GetInfo(count, size);
    return;
  }
  if (count != nullptr) *count = 0;
  if (size != nullptr) *size = 0;
}

}  // namespace qxsym
