// Exported functions for groups. Membership changes and taking or putting
// single values run on the registered group under the library lock; reading,
// writing and creating run on copies outside it.
#include <memory>
#include <mutex>

#include "ApiShape.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientWorkspace.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

// Both handles looked up under the lock (group first), then op on the
// registered group with the registered tag.
template <typename Op>
QXSymResult OnGroupAndTag(QXSymGroupHandle group, QXSymTagHandle tag, Op&& op) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (group == 0 || tag == 0) return symResInvalidHandle;
    std::lock_guard<std::mutex> guard(State().lock());
    auto* g = State().registry().Find<QXSymClientGroup>(Id(group), HandleKind::kGroup);
    if (g == nullptr) return symResInvalidHandle;
    auto* t = State().registry().Find<QXSymClientTag>(Id(tag), HandleKind::kTag);
    if (t == nullptr) return symResInvalidHandle;
    return op(*g, *t);
  });
}

template <typename Op>
QXSymResult OnGroupCopy(QXSymGroupHandle group, Op&& op) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (group == 0) return symResInvalidHandle;
    return WithCopy<QXSymClientGroup>(group, op);
  });
}

}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_CreateGroup(QXSymWorkspaceHandle workspace, QXSymGroupHandle* group) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (group == nullptr) return symResInvalidParameter;
    std::unique_ptr<QXSymClientGroup> obj;
    QXSymResult r = WithCopy<QXSymClientWorkspace>(
        workspace, [&](QXSymClientWorkspace& ws) { return ws.CreateGroup(&obj); });
    if (r != symResOk) return r;
    int h = Register(std::move(obj));
    if (h == 0) return symResMemoryAllocError;
    *group = h;
    return symResOk;
  });
}

QXSymResult QXSYM_CALL QXSym_DeleteGroup(QXSymGroupHandle group) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (group == 0) return symResInvalidHandle;
    std::shared_ptr<void> gone;  // destroyed after the lock is released
    std::lock_guard<std::mutex> guard(State().lock());
    auto* g = State().registry().Find<QXSymClientGroup>(Id(group), HandleKind::kGroup);
    if (g == nullptr) return symResInvalidHandle;
    QXSymResult r = g->Delete();
    if (r == symResOk) gone = State().registry().Remove(Id(group), HandleKind::kGroup);
    return r;
  });
}

QXSymResult QXSYM_CALL QXSym_GetGroupInfo(QXSymGroupHandle group, uint32_t* count, uint32_t* size) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (group == 0) return symResInvalidHandle;
    if (count == nullptr || size == nullptr) return symResInvalidParameter;
    return WithRegistered<QXSymClientGroup>(group, [&](QXSymClientGroup& g) {
      g.GetInfo(count, size);
      return symResOk;
    });
  });
}

QXSymResult QXSYM_CALL QXSym_AddTagToGroup(QXSymGroupHandle group, QXSymTagHandle tag) {
  return OnGroupAndTag(group, tag,
                       [&](QXSymClientGroup& g, QXSymClientTag& t) { return g.AddTag(tag, t); });
}

QXSymResult QXSYM_CALL QXSym_RemoveTagFromGroup(QXSymGroupHandle group, QXSymTagHandle tag) {
  return OnGroupAndTag(group, tag,
                       [&](QXSymClientGroup& g, QXSymClientTag& t) { return g.RemoveTag(tag, t); });
}

QXSymResult QXSYM_CALL QXSym_ReadGroup(QXSymGroupHandle group) {
  return OnGroupCopy(group, [](QXSymClientGroup& g) { return g.Read(); });
}

QXSymResult QXSYM_CALL QXSym_WriteGroup(QXSymGroupHandle group) {
  return OnGroupCopy(group, [](QXSymClientGroup& g) { return g.Write(); });
}

QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_Ptr(QXSymGroupHandle group, QXSymTagHandle tag,
                                                      void* buffer, uint32_t size) {
  return OnGroupAndTag(group, tag, [&](QXSymClientGroup& g, QXSymClientTag&) {
    return g.GetTagValue(tag, buffer, size);
  });
}

QXSymResult QXSYM_CALL QXSym_SetTagValueIntoGroup_Ptr(QXSymGroupHandle group, QXSymTagHandle tag,
                                                      const void* data, uint32_t size) {
  return OnGroupAndTag(group, tag, [&](QXSymClientGroup& g, QXSymClientTag&) {
    return g.SetTagValue(tag, data, size);
  });
}

}  // extern "C"
