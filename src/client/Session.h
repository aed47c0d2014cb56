// One connection to a controller (or to a host's in-process table) for the
// client core: the workspace, the tag handles and groups it keeps for
// repeated use, the types it has learned, and the count of exchanges it
// caused. A session is used by one thread at a time; different sessions
// may be used from different threads at once.
#pragma once

#include <QXSymbols.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Backoff.h"
#include "LeafCodec.h"
#include "TypeCatalog.h"

namespace qxsym::client {

struct Layout;

// What a lookup by name tells about a tag, without a further exchange.
struct TagFacts {
  QXSymTagHandle handle = 0;
  std::uint32_t tyvar = 0;
  std::uint32_t data_size = 0;  // bytes the value operations and groups move
  std::uint32_t full_size = 0;  // bytes of the tag's whole memory
};

struct SessionOptions {
  std::uint16_t timeout_ms = 0;  // 0: the address's own time-out
  Encoding encoding = Encoding::kLatin1;
  unsigned connections = 1;  // for listing, the session's own included (1 to 8)
  WalkLimits limits;
};

// Reconnecting and program changes. With reconnect on (SetReconnect), a
// request that finds the connection lost (symResSocketError,
// symResConnectionLost) makes the session away once the call ends: the dead
// workspace is closed, and calls fail with symResConnectionLost without a
// request until an attempt to open it again is due (see Backoff) and
// succeeds. A time-out is not a loss: the controller may answer again on
// the same connection. Tags and groups are looked up again after a
// reopen. A stopped controller, which does not even acknowledge, gives
// symResSocketError and so counts as lost. The program counts as changed when the controller
// answers symResInvalidHandle to a reference the session holds, or when the fingerprint taken after
// a reopen differs from the one before: the types and layouts learned are dropped, and a layout
// handed out before is kept aside, so that a write through it is refused while it no longer holds.
class Session {
 public:
  using Clock = std::chrono::steady_clock;

  // Tags kept open per session; the source holds an object for each, so
  // the one used longest ago is closed beyond this.
  static constexpr std::size_t kMaxTags = 16384;

  // Opens the workspace; nullptr with *rc set when the source refuses.
  static std::unique_ptr<Session> Open(const QXSymServerAddress& address,
                                       const SessionOptions& options, QXSymResult* rc);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  QXSymWorkspaceHandle workspace() const { return workspace_; }
  Encoding encoding() const { return options_.encoding; }
  unsigned connections() const { return options_.connections; }
  bool remote() const { return address_.protocol == symProtGDB_TCP; }
  // False when the source's version does not support every function.
  bool full_support() const { return full_support_; }

  // One more workspace on the same controller (0 when it cannot be
  // opened); whoever asked closes it with QXSym_CloseWorkspace.
  QXSymWorkspaceHandle OpenExtra();

  // The tag at path, looked up once and kept for the session.
  QXSymResult Tag(const std::string& path, TagFacts* facts);
  // The name of the tag's type, asked once per path.
  QXSymResult TypeName(const std::string& path, std::string* name);
  // The tag's address, asked once per path; a member at a bit address is
  // refused (symResBitCommandRequired), as its bytes hold other bits.
  QXSymResult Address(const std::string& path, std::uint64_t* address);

  // A group whose members are the given tags in this order, made once per
  // list and kept for the next read or write of the same tags (the one
  // used longest ago goes first); 0 with *rc set on a failure (nothing
  // kept then).
  QXSymGroupHandle GroupFor(const std::vector<QXSymTagHandle>& members, QXSymResult* rc);

  TypeCatalog& types() { return *types_; }

  // Layouts described in this session, by path.
  std::shared_ptr<const Layout> KnownLayout(const std::string& path) const;
  void KeepLayout(std::shared_ptr<const Layout> layout);

  // Counts one request to the source, notes a loss or an unknown
  // reference, and passes its result on.
  QXSymResult Sent(QXSymResult r) {
    ++exchanges_;
    Watch(r);
    return r;
  }

  // Turns reconnecting on (first_ms above 0) or off; symResInvalidParameter
  // for steps out of range (see Backoff::Set). Turning it on takes the
  // program's fingerprint (its requests counted), failing with its result.
  QXSymResult SetReconnect(std::uint32_t first_ms, std::uint32_t max_ms);
  // Before a call: symResOk when the connection is there (opened again
  // first when away and an attempt is due), else symResConnectionLost
  // with no request sent. A program change seen earlier is taken in.
  QXSymResult Ready(Clock::time_point now);
  // After a call: a loss or program change it saw takes effect.
  void Settle(Clock::time_point now);
  bool away() const { return away_; }
  // The next attempt to open again; the end of time when none will be made.
  Clock::time_point next_attempt() const {
    return away_ && backoff_.on() ? backoff_.next() : Clock::time_point::max();
  }
  std::uint64_t reconnects() const { return reconnects_; }
  std::uint64_t online_changes() const { return online_changes_; }
  std::uint64_t fingerprint() const { return fingerprint_; }
  // False when path was handed out with a layout from before the program
  // changed that differs from now (nothing may be written by it); once
  // told, the present layout counts as handed out.
  bool StillHolds(const std::string& path, const Layout& now);
  // The caller was given path's present layout.
  void Acknowledge(const std::string& path) { outdated_.erase(path); }
  void AddExchanges(std::uint64_t n) { exchanges_ += n; }

  // The symbol cache on disk (see SymbolCache.h). An empty directory turns
  // it off; otherwise the program's fingerprint is taken when none is
  // known yet (its requests counted, failing with its result) and, while
  // no type is learned yet, the file for this controller and fingerprint
  // fills the catalog. The types learned before are written back first. A
  // host's table keeps no cache.
  QXSymResult SetCache(const std::string& directory);
  // Writes the types back when the catalog grew since it was read or
  // written; after a program change, under the new program's fingerprint.
  void FlushCache();
  // After a reopen found another program: its file, if there is one, fills
  // the new catalog.
  void FollowCache();
  // Requests sent to the source for this session: open and close
  // included, extra connections for listing once added with AddExchanges,
  // the link's own mode handshakes on connecting not.
  std::uint64_t exchanges() const { return exchanges_; }

 private:
  struct TagEntry {
    TagFacts facts;
    std::string type_name;  // empty until asked
    std::uint64_t address = 0;
    bool address_known = false;
    std::list<std::string>::iterator use;  // place in use_order_
  };
  struct GroupEntry {
    std::vector<QXSymTagHandle> members;
    QXSymGroupHandle handle = 0;
  };

  Session(const QXSymServerAddress& address, const SessionOptions& options);
  TagEntry* Entry(const std::string& path, QXSymResult* rc);
  // Closes the tag used longest ago, and the groups it is a member of.
  void Evict();
  void ReleaseObjects();
  void Watch(QXSymResult r);
  void GoAway(Clock::time_point now);
  QXSymResult Reopen(Clock::time_point now);
  void ProgramChanged();

  QXSymServerAddress address_{};
  SessionOptions options_;
  QXSymWorkspaceHandle workspace_ = 0;
  std::uint64_t exchanges_ = 0;
  bool full_support_ = true;
  std::map<std::string, TagEntry> tags_;
  std::list<std::string> use_order_;  // least recently used first
  std::deque<GroupEntry> groups_;     // used longest ago first
  std::unique_ptr<TypeCatalog> types_;
  std::map<std::string, std::shared_ptr<const Layout>> layouts_;
  // Layouts handed out before the last program change, by path.
  std::map<std::string, std::shared_ptr<const Layout>> outdated_;
  Backoff backoff_;
  bool lost_ = false;     // a request found the connection lost
  bool away_ = false;     // the workspace is closed until an attempt succeeds
  bool changed_ = false;  // the controller no longer knew a reference
  std::uint64_t reconnects_ = 0;
  std::uint64_t online_changes_ = 0;
  std::uint64_t fingerprint_ = 0;
  // The cache: its directory (empty: off), this controller's part of the
  // file name, and the catalog and fingerprint it last read or wrote with
  // the number of types then.
  std::string cache_dir_;
  std::string cache_key_;
  const TypeCatalog* cache_catalog_ = nullptr;
  std::uint64_t cache_print_ = 0;
  std::size_t cache_stored_ = 0;
};

}  // namespace qxsym::client
