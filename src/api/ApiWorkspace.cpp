// Exported functions for workspaces and global tags.
#include <memory>
#include <mutex>
#include <vector>

#include "ApiShape.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientWorkspace.h"
#include "QXSymbols.h"
#include "QXSymbolsExt.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {
using Workspace = QXSymClientWorkspace;
using TagList = QXSymClientWorkspace::TagList;
using Tag = QXSymClientTag;
}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_OpenWorkspace(uint8_t selector, const QXSymServerAddress* address,
                                           QXSymWorkspaceHandle* workspace) {
  return Call([&]() -> QXSymResult {
    if (workspace == nullptr) return symResInvalidParameter;
    if (address == nullptr) return symResInvalidAddress;
    *workspace = 0;
    std::unique_ptr<Workspace> ws;
    const QXSymResult r = Workspace::Open(selector, address, &ws);
    if (!ws) {
      // The failed workspace is gone with its channel; drop what is retired
      // now rather than letting failed opens pile up until the next close.
      State().ReleaseRetired();
      return r;
    }
    return Publish(std::move(ws), workspace, r);
  });
}

QXSymResult QXSYM_CALL QXSym_CloseWorkspace(QXSymWorkspaceHandle workspace) {
  return Call(workspace, true, [&]() -> QXSymResult {
    const QXSymResult r =
        WithCopy<Workspace>(workspace, [](Workspace& ws) { return ws.CloseOnServer(); });
    // Whatever the source answered, the workspace is gone afterwards (its
    // channel closed and retired). A second closer that lost the race, or a
    // handle that was never there, finds nothing to remove.
    if (Forget<Workspace>(workspace) != symResOk) return symResInvalidHandle;
    State().ReleaseRetired();
    return r;
  });
}

QXSymResult QXSYM_CALL QXSym_IsValidWorkspace(QXSymWorkspaceHandle workspace) {
  return OnCopy<Workspace>(workspace, true, [](Workspace& ws) { return ws.IsValid(); });
}

QXSymResult QXSYM_CALL QXSym_GetServerVersion(QXSymWorkspaceHandle workspace, uint8_t* major,
                                              uint8_t* minor, uint8_t* revision, uint8_t* build) {
  return OnCopy<Workspace>(workspace, major && minor && revision && build, [&](Workspace& ws) {
    return ws.GetServerVersion(major, minor, revision, build);
  });
}

QXSymResult QXSYM_CALL QXSym_GetSymbolTableProgress(QXSymWorkspaceHandle workspace,
                                                    const TCHAR* fileName, bool_t overwrite,
                                                    QXSymProgressCallback callback, void* context) {
  return Call(workspace, fileName != nullptr, [&]() -> QXSymResult {
    // An existing file is refused before the handle is even looked up.
    if (Workspace::RefusesTarget(fileName, overwrite)) return symResFileAlreadyExists;
    return WithCopy<Workspace>(workspace, [&](Workspace& ws) {
      return ws.WriteSymbolTable(fileName, overwrite, callback, context);
    });
  });
}

QXSymResult QXSYM_CALL QXSym_GetSymbolTable(QXSymWorkspaceHandle workspace, const TCHAR* fileName,
                                            bool_t overwrite) {
  return QXSym_GetSymbolTableProgress(workspace, fileName, overwrite, nullptr, nullptr);
}

QXSymResult QXSYM_CALL QXSym_GetGlobalTag(QXSymWorkspaceHandle workspace, const TCHAR* name,
                                          QXSymTagHandle* tag) {
  return MakeOnCopy<Tag, Workspace>(
      workspace, name != nullptr, tag,
      [&](Workspace& ws, std::unique_ptr<Tag>* made) { return ws.GetGlobalTag(name, made); });
}

QXSymResult QXSYM_CALL QXSym_GetGlobalTagsNum(QXSymWorkspaceHandle workspace, uint32_t* count) {
  return OnCopy<Workspace>(workspace, count != nullptr,
                           [&](Workspace& ws) { return ws.GetGlobalTagsNum(count); });
}

QXSymResult QXSYM_CALL QXSym_QueryGlobalTagsNum(QXSymWorkspaceHandle workspace, const TCHAR* filter,
                                                uint32_t* count) {
  return OnCopy<Workspace>(workspace, count != nullptr, [&](Workspace& ws) {
    std::uint32_t n = 0;
    const QXSymResult r = ws.QueryGlobalTagsNum(filter, &n);
    if (r == symResOk) *count = n;
    return r;
  });
}

// The allocating lists ask for the count, then for that many tags; the list
// is sized from what the source delivers, and a source that reports more
// tags than it counted is refused.
QXSymResult QXSYM_CALL QXSym_GetGlobalTags(QXSymWorkspaceHandle workspace, QXSymTagHandle** tags,
                                           uint32_t* count) {
  return OnCopy<Workspace>(workspace, tags && count, [&](Workspace& ws) {
    std::uint32_t n = 0;
    TagList list;
    QXSymResult r = ws.GetGlobalTagsNum(&n);
    if (r == symResOk) r = ws.GetGlobalTags(&list, n);
    if (r != symResOk) return r;
    return PublishTagList(&list, tags, count);
  });
}

QXSymResult QXSYM_CALL QXSym_QueryGlobalTags(QXSymWorkspaceHandle workspace, const TCHAR* filter,
                                             QXSymTagHandle** tags, uint32_t* count) {
  return OnCopy<Workspace>(workspace, tags && count, [&](Workspace& ws) {
    std::uint32_t n = 0;
    TagList list;
    QXSymResult r = ws.QueryGlobalTagsNum(filter, &n);
    if (r == symResOk) r = ws.QueryGlobalTags(filter, &list, n);
    if (r != symResOk) return r;
    return PublishTagList(&list, tags, count);
  });
}

QXSymResult QXSYM_CALL QXSym_FillGlobalTagList(QXSymWorkspaceHandle workspace, QXSymTagHandle* tags,
                                               uint32_t count) {
  return OnCopy<Workspace>(workspace, tags && count != 0, [&](Workspace& ws) {
    TagList list;
    const QXSymResult r = ws.GetGlobalTags(&list, count);
    if (r != symResOk) return r;
    return PublishTags(&list, tags);
  });
}

QXSymResult QXSYM_CALL QXSym_QueryFillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                    const TCHAR* filter, QXSymTagHandle* tags,
                                                    uint32_t count) {
  return OnCopy<Workspace>(workspace, tags && count != 0, [&](Workspace& ws) {
    TagList list;
    const QXSymResult r = ws.QueryGlobalTags(filter, &list, count);
    if (r != symResOk) return r;
    return PublishTags(&list, tags);
  });
}

QXSymResult QXSYM_CALL QXSym_FreeTagList(QXSymTagHandle* tags) {
  return Call([&]() -> QXSymResult {
    if (tags == nullptr) return symResInvalidParameter;
    std::vector<QXSymTagHandle> entries;
    {
      std::lock_guard<std::mutex> guard(State().lock());
      entries = State().registry().ListEntries(tags);
    }
    if (entries.empty()) return symResInvalidHandle;
    // The list's own copy of its entries is walked, up to its first 0.
    for (QXSymTagHandle h : entries) {
      if (h == 0) break;
      QXSym_CloseTag(h);  // a tag that fails to close stays open and valid
    }
    std::lock_guard<std::mutex> guard(State().lock());
    State().registry().RemoveList(tags);
    return symResOk;
  });
}

}  // extern "C"
