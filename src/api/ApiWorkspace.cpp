// Exported functions for workspaces and global tags.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "ApiShape.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientWorkspace.h"
#include "QXSymClientWorkspaceDirect.h"
#include "QXSymClientWorkspaceRemote.h"
#include "QXSymbols.h"
#include "QXSymbolsExt.h"

using namespace qxsym;
using namespace qxsym::api;

namespace {

// The largest symbol table the library holds in memory for a download.
constexpr std::uint32_t kMaxSymbolTableSize = 256u * 1024u * 1024u;

// Registers every tag of list under the lock and writes their handles to
// out. On failure (no handle left) nothing stays registered.
QXSymResult RegisterTags(QXSymClientWorkspace::TagList* list, QXSymTagHandle* out) {
  std::vector<int> handles;
  handles.reserve(list->size());
  std::lock_guard<std::mutex> guard(State().lock());
  for (auto& tag : *list) {
    int h = RegisterLocked(std::move(tag));
    if (h == 0) {
      for (int done : handles) State().registry().Remove(Id(done), HandleKind::kTag);
      return symResMemoryAllocError;
    }
    handles.push_back(h);
  }
  for (std::size_t i = 0; i < handles.size(); ++i) out[i] = handles[i];
  return symResOk;
}

// The two list forms share everything but the question asked.
template <typename Count, typename List>
QXSymResult AllocatedList(QXSymWorkspaceHandle workspace, QXSymTagHandle** tags, uint32_t* count,
                          Count&& ask_count, List&& ask_list) {
  if (!Started()) return symResNotInited;
  if (workspace == 0) return symResInvalidHandle;
  if (tags == nullptr || count == nullptr) return symResInvalidParameter;
  return WithCopy<QXSymClientWorkspace>(workspace, [&](QXSymClientWorkspace& ws) {
    std::uint32_t n = 0;
    QXSymResult r = ask_count(ws, &n);
    if (r != symResOk) return r;
    // The list is sized from what the source delivers, never from the count
    // alone; a source that reports more tags than it counted is refused.
    QXSymClientWorkspace::TagList list;
    r = ask_list(ws, &list, n);
    if (r != symResOk) return r;
    std::vector<QXSymTagHandle> handles(list.size() + 1, 0);
    r = RegisterTags(&list, handles.data());
    if (r != symResOk) return r;
    std::lock_guard<std::mutex> guard(State().lock());
    *count = static_cast<uint32_t>(handles.size() - 1);
    *tags = State().registry().AddList(std::move(handles));
    return symResOk;
  });
}

template <typename List>
QXSymResult CallerList(QXSymWorkspaceHandle workspace, QXSymTagHandle* tags, uint32_t count,
                       List&& ask_list) {
  if (!Started()) return symResNotInited;
  if (workspace == 0) return symResInvalidHandle;
  if (tags == nullptr || count == 0) return symResInvalidParameter;
  return WithCopy<QXSymClientWorkspace>(workspace, [&](QXSymClientWorkspace& ws) {
    QXSymClientWorkspace::TagList list;
    QXSymResult r = ask_list(ws, &list, count);
    if (r != symResOk) return r;
    return RegisterTags(&list, tags);
  });
}

}  // namespace

extern "C" {

QXSymResult QXSYM_CALL QXSym_OpenWorkspace(uint8_t selector, const QXSymServerAddress* address,
                                           QXSymWorkspaceHandle* workspace) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == nullptr) return symResInvalidParameter;
    if (address == nullptr) return symResInvalidAddress;
    *workspace = 0;
    std::unique_ptr<QXSymClientWorkspace> ws;
    // Read as a plain integer: a caller may put any value in the field.
    std::int32_t protocol = 0;
    std::memcpy(&protocol, &address->protocol, sizeof protocol);
    if (protocol == symProtDirectAccess) {
      ws = std::make_unique<QXSymClientWorkspaceDirect>();
    } else {
      ws = std::make_unique<QXSymClientWorkspaceRemote>();
    }
    QXSymResult r = symResOk;
    std::uint8_t major = 0, minor = 0, revision = 0, build = 0;
    if (!ws->Attach(address)) {
      r = symResInvalidAddress;
    } else if ((r = ws->OpenOnServer(selector)) == symResOk &&
               (r = ws->GetServerVersion(&major, &minor, &revision, &build)) == symResOk &&
               major != QXSYMBOLS_VERSION_MAJOR) {
      r = symResServerNotCompatible;
    }
    if (r != symResOk) {
      // Destroying the workspace closes and retires its channel; drop it now
      // rather than letting failed opens pile up until the next close.
      ws.reset();
      State().ReleaseRetired();
      return r;
    }
    const QXSymResult result =
        (minor == 0 && revision == 0) ? symResOkServerNotFullSupport : symResOk;
    int h = Register(std::move(ws));
    if (h == 0) return symResMemoryAllocError;
    *workspace = h;
    return result;
  });
}

QXSymResult QXSYM_CALL QXSym_CloseWorkspace(QXSymWorkspaceHandle workspace) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    QXSymResult r = WithCopy<QXSymClientWorkspace>(
        workspace, [](QXSymClientWorkspace& ws) { return ws.CloseOnServer(); });
    if (r == symResInvalidHandle) {
      std::lock_guard<std::mutex> guard(State().lock());
      if (State().registry().Find(Id(workspace), HandleKind::kWorkspace) == nullptr) return r;
    }
    // Whatever the source answered, the workspace is gone afterwards. A second
    // closer that lost the race finds the handle missing.
    std::shared_ptr<void> obj = Unregister<QXSymClientWorkspace>(workspace);
    if (!obj) return symResInvalidHandle;
    obj.reset();  // closes the channel and retires it
    State().ReleaseRetired();
    return r;
  });
}

QXSymResult QXSYM_CALL QXSym_IsValidWorkspace(QXSymWorkspaceHandle workspace) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    return WithCopy<QXSymClientWorkspace>(workspace,
                                          [](QXSymClientWorkspace& ws) { return ws.IsValid(); });
  });
}

QXSymResult QXSYM_CALL QXSym_GetServerVersion(QXSymWorkspaceHandle workspace, uint8_t* major,
                                              uint8_t* minor, uint8_t* revision, uint8_t* build) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (!major || !minor || !revision || !build) return symResInvalidParameter;
    return WithCopy<QXSymClientWorkspace>(workspace, [&](QXSymClientWorkspace& ws) {
      return ws.GetServerVersion(major, minor, revision, build);
    });
  });
}

namespace {

// Turns the channel's reports (reply bytes, the 4-byte reply header
// included) into the caller's: table bytes, rising, below the table's size.
// The call with the whole size comes after the download succeeded.
struct TableProgress {
  QXSymProgressCallback callback = nullptr;
  void* context = nullptr;
  std::uint32_t size = 0;
  std::uint32_t last = 0;

  static void Relay(std::uint32_t received, std::uint32_t, void* self) {
    auto* p = static_cast<TableProgress*>(self);
    const std::uint32_t table = received > kReplyHeaderSize ? received - kReplyHeaderSize : 0;
    if (table > p->last && table < p->size) {
      p->last = table;
      p->callback(table, p->size, p->context);
    }
  }
};

QXSymResult DownloadSymbolTable(QXSymWorkspaceHandle workspace, const TCHAR* fileName,
                                bool_t overwrite, QXSymProgressCallback callback, void* context) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (fileName == nullptr) return symResInvalidParameter;
    if (!overwrite) {
      if (std::FILE* existing = std::fopen(fileName, "rb")) {
        std::fclose(existing);
        return symResFileAlreadyExists;
      }
    }
    std::vector<std::uint8_t> table;
    TableProgress progress{callback, context};
    QXSymResult r = WithCopy<QXSymClientWorkspace>(workspace, [&](QXSymClientWorkspace& ws) {
      std::uint32_t size = 0;
      QXSymResult rr = ws.GetSymbolTableSize(&size);
      if (rr != symResOk) return rr;
      if (size > kMaxSymbolTableSize) return symResMemoryAllocError;
      table.resize(size);
      if (callback == nullptr) return ws.ReadSymbolTable(size, table.data());
      progress.size = size;
      return ws.ReadSymbolTableReporting(size, table.data(),
                                         TransferProgress{&TableProgress::Relay, &progress});
    });
    if (r != symResOk) return r;
    if (callback != nullptr) callback(progress.size, progress.size, context);
    std::FILE* f = std::fopen(fileName, "wb");
    if (f == nullptr) return symResCannotOpenFile;
    const std::size_t written = table.empty() ? 0 : std::fwrite(table.data(), 1, table.size(), f);
    const bool closed = std::fclose(f) == 0;
    if (written != table.size() || !closed) return symResCannotWriteFile;
    return symResOk;
  });
}

}  // namespace

QXSymResult QXSYM_CALL QXSym_GetSymbolTable(QXSymWorkspaceHandle workspace, const TCHAR* fileName,
                                            bool_t overwrite) {
  return DownloadSymbolTable(workspace, fileName, overwrite, nullptr, nullptr);
}

QXSymResult QXSYM_CALL QXSym_GetSymbolTableProgress(QXSymWorkspaceHandle workspace,
                                                    const TCHAR* fileName, bool_t overwrite,
                                                    QXSymProgressCallback callback, void* context) {
  return DownloadSymbolTable(workspace, fileName, overwrite, callback, context);
}

QXSymResult QXSYM_CALL QXSym_GetGlobalTag(QXSymWorkspaceHandle workspace, const TCHAR* name,
                                          QXSymTagHandle* tag) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (name == nullptr || tag == nullptr) return symResInvalidParameter;
    std::unique_ptr<QXSymClientTag> obj;
    QXSymResult r = WithCopy<QXSymClientWorkspace>(
        workspace, [&](QXSymClientWorkspace& ws) { return ws.GetGlobalTag(name, &obj); });
    if (r != symResOk) return r;
    int h = Register(std::move(obj));
    if (h == 0) return symResMemoryAllocError;
    *tag = h;
    return symResOk;
  });
}

QXSymResult QXSYM_CALL QXSym_GetGlobalTagsNum(QXSymWorkspaceHandle workspace, uint32_t* count) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (count == nullptr) return symResInvalidParameter;
    return WithCopy<QXSymClientWorkspace>(
        workspace, [&](QXSymClientWorkspace& ws) { return ws.GetGlobalTagsNum(count); });
  });
}

QXSymResult QXSYM_CALL QXSym_QueryGlobalTagsNum(QXSymWorkspaceHandle workspace, const TCHAR* filter,
                                                uint32_t* count) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
    if (workspace == 0) return symResInvalidHandle;
    if (count == nullptr) return symResInvalidParameter;
    return WithCopy<QXSymClientWorkspace>(workspace, [&](QXSymClientWorkspace& ws) {
      std::uint32_t n = 0;
      QXSymResult r = ws.QueryGlobalTagsNum(filter, &n);
      if (r == symResOk) *count = n;
      return r;
    });
  });
}

QXSymResult QXSYM_CALL QXSym_GetGlobalTags(QXSymWorkspaceHandle workspace, QXSymTagHandle** tags,
                                           uint32_t* count) {
  return Guard([&]() -> QXSymResult {
    return AllocatedList(
        workspace, tags, count,
        [](QXSymClientWorkspace& ws, std::uint32_t* n) { return ws.GetGlobalTagsNum(n); },
        [](QXSymClientWorkspace& ws, QXSymClientWorkspace::TagList* list, std::uint32_t cap) {
          return ws.GetGlobalTags(list, cap);
        });
  });
}

QXSymResult QXSYM_CALL QXSym_QueryGlobalTags(QXSymWorkspaceHandle workspace, const TCHAR* filter,
                                             QXSymTagHandle** tags, uint32_t* count) {
  return Guard([&]() -> QXSymResult {
    return AllocatedList(
        workspace, tags, count,
        [filter](QXSymClientWorkspace& ws, std::uint32_t* n) {
          return ws.QueryGlobalTagsNum(filter, n);
        },
        [filter](QXSymClientWorkspace& ws, QXSymClientWorkspace::TagList* list, std::uint32_t cap) {
          return ws.QueryGlobalTags(filter, list, cap);
        });
  });
}

QXSymResult QXSYM_CALL QXSym_FillGlobalTagList(QXSymWorkspaceHandle workspace, QXSymTagHandle* tags,
                                               uint32_t count) {
  return Guard([&]() -> QXSymResult {
    return CallerList(workspace, tags, count,
                      [](QXSymClientWorkspace& ws, QXSymClientWorkspace::TagList* list,
                         std::uint32_t cap) { return ws.GetGlobalTags(list, cap); });
  });
}

QXSymResult QXSYM_CALL QXSym_QueryFillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                    const TCHAR* filter, QXSymTagHandle* tags,
                                                    uint32_t count) {
  return Guard([&]() -> QXSymResult {
    return CallerList(
        workspace, tags, count,
        [filter](QXSymClientWorkspace& ws, QXSymClientWorkspace::TagList* list, std::uint32_t cap) {
          return ws.QueryGlobalTags(filter, list, cap);
        });
  });
}

QXSymResult QXSYM_CALL QXSym_FreeTagList(QXSymTagHandle* tags) {
  return Guard([&]() -> QXSymResult {
    if (!Started()) return symResNotInited;
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
