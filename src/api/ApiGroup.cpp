// Exported functions for groups. Taking or putting single values runs on the
// registered group under the library lock; everything that exchanges with
// the controller (membership changes, delete, read, write, create) runs on
// copies outside it, which share the registered group's member table.
#include "ApiShape.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientWorkspace.h"
#include "QXSymbols.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {
using Group = QXSymClientGroup;
using Tag = QXSymClientTag;
}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_CreateGroup(QXSymWorkspaceHandle workspace, QXSymGroupHandle* group) {
  return MakeOnCopy<Group, QXSymClientWorkspace>(
      workspace, true, group,
      [](QXSymClientWorkspace& ws, std::unique_ptr<Group>* made) { return ws.CreateGroup(made); });
}

QXSymResult QXSYM_CALL QXSym_DeleteGroup(QXSymGroupHandle group) {
  // Deleted at the source on a copy, then unregistered: a slow controller
  // holds up no other caller meanwhile.
  return OnCopy<Group>(group, true, [&](Group& g) -> QXSymResult {
    const QXSymResult r = g.Delete();
    if (r != symResOk && !NothingLeftAtSource(r)) return r;
    const QXSymResult forgotten = Forget<Group>(group);
    return r != symResOk ? r : forgotten;
  });
}

QXSymResult QXSYM_CALL QXSym_GetGroupInfo(QXSymGroupHandle group, uint32_t* count, uint32_t* size) {
  return OnRegistered<Group>(group, count && size, [&](Group& g) {
    g.GetInfo(count, size);
    return symResOk;
  });
}

QXSymResult QXSYM_CALL QXSym_AddTagToGroup(QXSymGroupHandle group, QXSymTagHandle tag) {
  return OnGroupAndTagCopies(group, tag, [&](Group& g, Tag& t) { return g.AddTag(tag, t); });
}

QXSymResult QXSYM_CALL QXSym_RemoveTagFromGroup(QXSymGroupHandle group, QXSymTagHandle tag) {
  return OnGroupAndTagCopies(group, tag, [&](Group& g, Tag& t) { return g.RemoveTag(tag, t); });
}

QXSymResult QXSYM_CALL QXSym_ReadGroup(QXSymGroupHandle group) {
  return OnCopy<Group>(group, true, [](Group& g) { return g.Read(); });
}

QXSymResult QXSYM_CALL QXSym_WriteGroup(QXSymGroupHandle group) {
  return OnCopy<Group>(group, true, [](Group& g) { return g.Write(); });
}

QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_Ptr(QXSymGroupHandle group, QXSymTagHandle tag,
                                                      void* buffer, uint32_t size) {
  return OnGroupAndTag(group, tag,
                       [&](Group& g, Tag&) { return g.GetTagValue(tag, buffer, size); });
}

QXSymResult QXSYM_CALL QXSym_SetTagValueIntoGroup_Ptr(QXSymGroupHandle group, QXSymTagHandle tag,
                                                      const void* data, uint32_t size) {
  return OnGroupAndTag(group, tag, [&](Group& g, Tag&) { return g.SetTagValue(tag, data, size); });
}

}  // extern "C"
