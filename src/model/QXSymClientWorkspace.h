// A workspace: one open connection to one source of symbols.
//
// It opens and closes itself at the source, reports the source's version,
// finds global tags by name or lists them (all, or those matching a filter),
// counts them, makes groups and fetches the raw symbol table. The objects it
// makes carry their own copy of the link to the source and no pointer to the
// workspace.
//
// Tag lists: the caller states how many tags it can hold. A source that
// reports more is answered symResBufferOverflow and nothing is kept; on
// success *tags holds exactly the tags reported, on failure it is untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "QXSymbols.h"
#include "QXSymbolsExt.h"
#include "RetiredSink.h"
#include "TransferProgress.h"
#include "WorkspaceKey.h"

namespace qxsym {

class QXSymClientTag;
class QXSymClientGroup;

class QXSymClientWorkspace {
 public:
  using TagList = std::vector<std::unique_ptr<QXSymClientTag>>;

  virtual ~QXSymClientWorkspace() = default;

  // Makes the workspace for address (Direct for symProtDirectAccess, Remote
  // for any other protocol), attaches it, opens it at the source and checks
  // the source's version. On success *out holds it and the result is
  // symResOk, or symResOkServerNotFullSupport for a version x.0.0.x. Fails
  // with symResInvalidAddress (nothing to attach to), the source's refusal,
  // or symResServerNotCompatible (another major version); *out is then
  // untouched and the workspace, with its channel, already destroyed.
  static QXSymResult Open(std::uint8_t selector, const QXSymServerAddress* address,
                          std::unique_ptr<QXSymClientWorkspace>* out);

  // True when path names a file that can be read and overwrite is 0: a
  // download to it is refused with symResFileAlreadyExists.
  static bool RefusesTarget(const TCHAR* path, bool_t overwrite);
  // The whole symbol table, exactly as the source delivers it. A table
  // larger than the library holds in memory: symResMemoryAllocError.
  // callback, when not null, hears the table bytes received so far (rising,
  // below the table's size) while a long table arrives, and the whole size
  // once it has arrived; nothing after a failure.
  QXSymResult DownloadSymbolTable(std::vector<std::uint8_t>* table,
                                  QXSymProgressCallback callback = nullptr,
                                  void* context = nullptr);
  // Downloads the symbol table and writes it to path in binary, in one
  // write. symResFileAlreadyExists (RefusesTarget; nothing asked),
  // DownloadSymbolTable's failures (no file touched), symResCannotOpenFile,
  // symResCannotWriteFile (the file keeps what was written).
  QXSymResult WriteSymbolTable(const TCHAR* path, bool_t overwrite,
                               QXSymProgressCallback callback = nullptr, void* context = nullptr);

  // Takes the channel or table named by address; false when there is none.
  virtual bool Attach(const QXSymServerAddress* address) = 0;
  virtual QXSymResult OpenOnServer(std::uint8_t selector) = 0;
  virtual QXSymResult GetServerVersion(std::uint8_t* major, std::uint8_t* minor,
                                       std::uint8_t* revision, std::uint8_t* build) = 0;
  virtual QXSymResult CloseOnServer() = 0;
  virtual QXSymResult IsValid() = 0;
  virtual QXSymResult GetSymbolTableSize(std::uint32_t* size) = 0;
  virtual QXSymResult ReadSymbolTable(std::uint32_t size, void* buffer) = 0;
  // As ReadSymbolTable, telling progress how much of the reply has arrived
  // (reply bytes, the 4-byte reply header included). Sources that deliver
  // the table at once report nothing.
  virtual QXSymResult ReadSymbolTableReporting(std::uint32_t size, void* buffer,
                                               const TransferProgress& progress) {
    (void)progress;
    return ReadSymbolTable(size, buffer);
  }
  // *tag receives a new tag whose cache holds the type and sizes the lookup
  // reported; untouched on failure.
  virtual QXSymResult GetGlobalTag(const TCHAR* name, std::unique_ptr<QXSymClientTag>* tag) = 0;
  virtual QXSymResult GetGlobalTags(TagList* tags, std::uint32_t capacity) = 0;
  // filter may be null: the empty filter.
  virtual QXSymResult QueryGlobalTags(const TCHAR* filter, TagList* tags,
                                      std::uint32_t capacity) = 0;
  virtual QXSymResult GetGlobalTagsNum(std::uint32_t* count) = 0;
  virtual QXSymResult QueryGlobalTagsNum(const TCHAR* filter, std::uint32_t* count) = 0;
  // *group receives a new, empty group; untouched on failure.
  virtual QXSymResult CreateGroup(std::unique_ptr<QXSymClientGroup>* group) = 0;
  // A copy sharing the link and owning nothing; null when memory runs out.
  virtual std::unique_ptr<QXSymClientWorkspace> Clone() const = 0;

  virtual WorkspaceKey GetWorkspaceKey() const = 0;

  bool isCopy() const { return is_copy_; }
  // Given to the registered workspace by its owner; receives the channel
  // when the workspace is destroyed.
  void SetRetiredSink(RetiredSink* sink) { retired_sink_ = sink; }

 protected:
  QXSymClientWorkspace() = default;
  explicit QXSymClientWorkspace(bool is_copy) : is_copy_(is_copy) {}
  QXSymClientWorkspace(const QXSymClientWorkspace&) = delete;
  QXSymClientWorkspace& operator=(const QXSymClientWorkspace&) = delete;

  bool is_copy_ = false;
  RetiredSink* retired_sink_ = nullptr;
};

}  // namespace qxsym
