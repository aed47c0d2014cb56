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
  // '*' any run, '?' one byte of the session's encoding; empty: every tag.
  // UTF-8, at most 259 bytes once in the session's encoding.
  std::string filter;
  bool details = false;
  bool descriptions = false;
  unsigned connections = 1;  // 1 to 8, the session's own included
};

// Opens one more connection to the same controller (0 when it cannot);
// the lister closes what it opened with QXSym_CloseWorkspace. Extra
// connections are opened only for a listing beyond one reply, one after the
// other; the first that cannot be opened ends the opening. A call of Next()
// that has an open under way goes on listing over the connections it has
// and returns once the open is back, so an open should use a short
// time-out.
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
  // until a batch is found or the listing ends: the first batch is the
  // first list named, later ones hold a reply's worth. True with a batch
  // (possibly empty only at the end, *done set); false with *rc set on a
  // failure: the source's result on the session's own connection (a failed
  // extra connection is retired and its work done by the others),
  // symResBufferOverflow when counts never add up (after a bounded number
  // of requests), symResInvalidParameter for options out of range or a
  // filter the encoding cannot carry. The same failure on every later call.
  bool Next(std::vector<TagInfo>* batch, bool* done, QXSymResult* rc);

  // Requests sent to the source so far (list, count and per-tag calls).
  std::uint64_t requests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qxsym::client
