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
