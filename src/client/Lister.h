// Every global tag that matches a filter, also beyond one list reply of the
// source, for any characters in tag names; found in batches so a front end
// can show the first names at once.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LeafCodec.h"

namespace qxsym::client {

struct TagInfo {
  std::string name;  // UTF-8
  // With ListOptions::details:
  std::string type_name;
  std::uint32_t tyvar = 0;
  std::uint32_t size = 0;       // data size in bytes
  std::uint32_t full_size = 0;  // bytes of the tag's whole memory (all elements)
  std::uint32_t flags = 0;      // kTagReadOnly, kTagBitAddress
  // With ListOptions::descriptions:
  std::string description;
};

constexpr std::uint32_t kTagReadOnly = 1;
constexpr std::uint32_t kTagBitAddress = 2;

// Connections one listing may use, the session's own included.
constexpr unsigned kMaxListConnections = 8;

struct ListOptions {
  std::string filter;  // '*' any run, '?' one character; empty: every tag
  bool details = false;
  bool descriptions = false;
  unsigned connections = 1;  // 1 to 8, the session's own included
};

// Opens one more connection to the same controller (0 when it cannot);
// the lister closes what it opened with QXSym_CloseWorkspace.
using OpenExtra = std::function<QXSymWorkspaceHandle()>;

class Lister {
 public:
  Lister(QXSymWorkspaceHandle workspace, Encoding encoding, OpenExtra open_extra,
         ListOptions options);
  ~Lister();
  Lister(const Lister&) = delete;
  Lister& operator=(const Lister&) = delete;

  // The next batch of tags not handed out before, each once. Works (with
  // worker threads for extra connections, all joined before it returns)
  // until a batch is found or the listing ends. True with a batch (possibly
  // empty only at the end, *done set); false with *rc set on a failure (the
  // source's result, or symResBufferOverflow when counts never add up).
  bool Next(std::vector<TagInfo>* batch, bool* done, QXSymResult* rc);

  // Requests sent to the source so far (list, count and per-tag calls).
  std::uint64_t requests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qxsym::client
