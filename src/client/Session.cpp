#include "Session.h"

#include <algorithm>

#include "Fingerprint.h"
#include "Layout.h"
#include "Lister.h"
#include "ResultInfo.h"
#include "SourcePath.h"
#include "SymbolCache.h"
#include "TypeCatalog.h"

namespace qxsym::client {
namespace {

// Groups are few and reused whole.
constexpr std::size_t kMaxGroups = 8;
constexpr std::size_t kMaxLayouts = 4096;

}  // namespace

Session::Session(const QXSymServerAddress& address, const SessionOptions& options)
    : address_(address), options_(options), types_(std::make_unique<TypeCatalog>(options.limits)) {
  if (options_.timeout_ms != 0) address_.timeout = options_.timeout_ms;
}

std::unique_ptr<Session> Session::Open(const QXSymServerAddress& address,
                                       const SessionOptions& options, QXSymResult* rc) {
  *rc = QXSym_Init();
  if (*rc != symResOk) return nullptr;
  if (options.connections < 1 || options.connections > kMaxListConnections) {
    *rc = symResInvalidParameter;
    return nullptr;
  }
  std::unique_ptr<Session> s(new Session(address, options));
  // Opening asks the source twice: the open itself and its version.
  s->exchanges_ += 2;
  *rc = QXSym_OpenWorkspace(0, &s->address_, &s->workspace_);
  if (*rc == symResOkServerNotFullSupport) {
    s->full_support_ = false;
    *rc = symResOk;
  }
  if (*rc != symResOk) return nullptr;
  return s;
}

Session::~Session() {
  FlushCache();
  if (workspace_ == 0) {
    ReleaseObjects();
  } else if (remote()) {
    // Closing the workspace releases everything the controller holds for
    // it; the tags and groups are then released here without a request.
    Sent(QXSym_CloseWorkspace(workspace_));
    ReleaseObjects();
  } else {
    ReleaseObjects();
    Sent(QXSym_CloseWorkspace(workspace_));
  }
}

void Session::ReleaseObjects() {
  for (const GroupEntry& g : groups_) {
    QXSymResult r = QXSym_DeleteGroup(g.handle);
    if (!remote()) Sent(r);
  }
  groups_.clear();
  for (const auto& [path, entry] : tags_) {
    QXSymResult r = QXSym_CloseTag(entry.facts.handle);
    if (!remote()) Sent(r);
  }
  tags_.clear();
  use_order_.clear();
}

QXSymWorkspaceHandle Session::OpenExtra() {
  QXSymWorkspaceHandle ws = 0;
  exchanges_ += 2;
  QXSymResult r = QXSym_OpenWorkspace(0, &address_, &ws);
  if (r != symResOk && r != symResOkServerNotFullSupport) return 0;
  return ws;
}

Session::TagEntry* Session::Entry(const std::string& path, QXSymResult* rc) {
  auto it = tags_.find(path);
  if (it != tags_.end()) {
    use_order_.splice(use_order_.end(), use_order_, it->second.use);
    *rc = symResOk;
    return &it->second;
  }
  std::string spelt;
  if ((*rc = SpellPath(path, options_.encoding, &spelt)) != symResOk) return nullptr;
  if (tags_.size() >= kMaxTags) Evict();
  TagEntry e;
  *rc = Sent(QXSym_GetGlobalTag(workspace_, spelt.c_str(), &e.facts.handle));
  if (*rc != symResOk) return nullptr;
  // A lookup by name leaves these three with the tag: no further request.
  QXSymTyVar tyvar = QXSymTyVarNull;
  QXSym_GetTagDataTypeVar(e.facts.handle, &tyvar);
  e.facts.tyvar = static_cast<std::uint32_t>(tyvar);
  QXSym_GetTagDataSize(e.facts.handle, &e.facts.data_size);
  QXSym_GetTagDataFullSize(e.facts.handle, &e.facts.full_size);
  e.use = use_order_.insert(use_order_.end(), path);
  return &tags_.emplace(path, std::move(e)).first->second;
}

QXSymResult Session::Tag(const std::string& path, TagFacts* facts) {
  QXSymResult rc;
  TagEntry* e = Entry(path, &rc);
  if (e != nullptr) *facts = e->facts;
  return rc;
}

QXSymResult Session::TypeName(const std::string& path, std::string* name) {
  QXSymResult rc;
  TagEntry* e = Entry(path, &rc);
  if (e == nullptr) return rc;
  if (e->type_name.empty()) {
    char buffer[QXSYM_MAX_STRING] = {};
    std::uint16_t length = sizeof buffer;
    rc = Sent(QXSym_GetTagDataType(e->facts.handle, buffer, &length));
    if (rc != symResOk) return rc;
    if (buffer[0] == '\0') return symResNotOk;
    e->type_name = TextToUtf8(buffer, options_.encoding);
  }
  *name = e->type_name;
  return symResOk;
}

QXSymResult Session::Address(const std::string& path, std::uint64_t* address) {
  QXSymResult rc;
  TagEntry* e = Entry(path, &rc);
  if (e == nullptr) return rc;
  if (!e->address_known) {
    qxsym_addr_t a = 0;
    std::uint32_t bit = 0;
    rc = Sent(QXSym_GetTagAddressBitOffset(e->facts.handle, &a, &bit));
    if (rc != symResOk) return rc;
    if (bit != 0) return symResBitCommandRequired;
    e->address = a;
    e->address_known = true;
  }
  *address = e->address;
  return symResOk;
}

QXSymGroupHandle Session::GroupFor(const std::vector<QXSymTagHandle>& members, QXSymResult* rc) {
  for (auto g = groups_.begin(); g != groups_.end(); ++g) {
    if (g->members != members) continue;
    // Used again: the group a poller reads every interval is the last to go.
    GroupEntry used = std::move(*g);
    groups_.erase(g);
    groups_.push_back(std::move(used));
    *rc = symResOk;
    return groups_.back().handle;
  }
  if (members.empty()) {
    *rc = symResGroupIsEmpty;
    return 0;
  }
  GroupEntry g;
  g.members = members;
  *rc = Sent(QXSym_CreateGroup(workspace_, &g.handle));
  if (*rc != symResOk) return 0;
  for (QXSymTagHandle tag : members) {
    *rc = Sent(QXSym_AddTagToGroup(g.handle, tag));
    if (*rc != symResOk) break;
  }
  if (*rc != symResOk) {
    Sent(QXSym_DeleteGroup(g.handle));
    return 0;
  }
  if (groups_.size() >= kMaxGroups) {
    Sent(QXSym_DeleteGroup(groups_.front().handle));
    groups_.pop_front();
  }
  groups_.push_back(std::move(g));
  return groups_.back().handle;
}

QXSymResult Session::SetReconnect(std::uint32_t first_ms, std::uint32_t max_ms) {
  Backoff b;
  if (!b.Set(first_ms, max_ms)) return symResInvalidParameter;
  if (b.on() && !backoff_.on() && !away_) {
    unsigned requests = 0;
    const QXSymResult rc = TakeFingerprint(workspace_, remote(), &fingerprint_, &requests);
    exchanges_ += requests;
    if (rc != symResOk) return rc;
  }
  backoff_ = b;
  if (!backoff_.on()) lost_ = false;
  return symResOk;
}

void Session::Watch(QXSymResult r) {
  if (r == symResSocketError || r == symResConnectionLost) {
    lost_ = lost_ || backoff_.on();
  } else if (r == symResInvalidHandle && (!tags_.empty() || !groups_.empty())) {
    changed_ = true;
  }
}

QXSymResult Session::Ready(Clock::time_point now) {
  Settle(now);
  if (away_) {
    // Turned off while away: lost for good, as without reconnecting.
    if (!backoff_.on() || !backoff_.Due(now)) return symResConnectionLost;
    if (Reopen(now) != symResOk) return symResConnectionLost;
  }
  return symResOk;
}

void Session::Settle(Clock::time_point now) {
  if (lost_) GoAway(now);
  if (!changed_ || away_) return;
  ProgramChanged();
  if (!backoff_.on()) return;
  // Changed on a live connection: the next reopen compares with this program.
  unsigned requests = 0;
  const QXSymResult rc = TakeFingerprint(workspace_, remote(), &fingerprint_, &requests);
  exchanges_ += requests;
  Watch(rc);
  if (lost_) GoAway(now);
}

void Session::GoAway(Clock::time_point now) {
  // The link is dead: closing sends nothing, and the tags and groups are
  // released here alone.
  QXSym_CloseWorkspace(workspace_);
  workspace_ = 0;
  ReleaseObjects();
  away_ = true;
  lost_ = false;
  changed_ = false;
  backoff_.Lost(now);
}

QXSymResult Session::Reopen(Clock::time_point now) {
  QXSymWorkspaceHandle ws = 0;
  exchanges_ += 2;
  QXSymResult rc = QXSym_OpenWorkspace(0, &address_, &ws);
  if (rc != symResOk && rc != symResOkServerNotFullSupport) {
    backoff_.Failed(now);
    return rc;
  }
  full_support_ = rc == symResOk;
  workspace_ = ws;
  away_ = false;
  ++reconnects_;
  std::uint64_t print = 0;
  unsigned requests = 0;
  rc = TakeFingerprint(workspace_, remote(), &print, &requests);
  exchanges_ += requests;
  if (IsTransportFailure(rc) && rc != symResTimeoutError) {
    GoAway(now);
    return rc;
  }
  // A program that cannot be fingerprinted is taken as changed.
  if (rc != symResOk || print != fingerprint_) {
    fingerprint_ = print;
    ProgramChanged();
  }
  return symResOk;
}

void Session::ProgramChanged() {
  ++online_changes_;
  changed_ = false;
  // The controller no longer knows these references; releasing them costs
  // a request each (answered with a refusal) that is not watched.
  exchanges_ += remote() && workspace_ != 0 ? groups_.size() + tags_.size() : 0;
  ReleaseObjects();
  types_ = std::make_unique<TypeCatalog>(options_.limits);
  // The first layout handed out for a path is the one its values were made for.
  for (auto& [path, layout] : layouts_) outdated_.emplace(path, std::move(layout));
  layouts_.clear();
  while (outdated_.size() > 2 * kMaxLayouts) outdated_.erase(outdated_.begin());
}

QXSymResult Session::SetCache(const std::string& directory) {
  FlushCache();
  cache_dir_.clear();
  cache_catalog_ = nullptr;
  if (directory.empty() || !remote()) return symResOk;
  if (fingerprint_ == 0) {
    if (away_) return symResConnectionLost;
    unsigned requests = 0;
    const QXSymResult rc = TakeFingerprint(workspace_, remote(), &fingerprint_, &requests);
    exchanges_ += requests;
    Watch(rc);
    if (rc != symResOk) return rc;
  }
  cache_dir_ = directory;
  cache_key_ = CacheControllerKey(address_);
  cache_print_ = fingerprint_;
  if (types_->size() == 0) {
    std::unique_ptr<TypeCatalog> loaded =
        LoadCache(cache_dir_, cache_key_, fingerprint_, options_.limits);
    if (loaded) types_ = std::move(loaded);
  }
  cache_catalog_ = types_.get();
  cache_stored_ = types_->size();
  return symResOk;
}

void Session::FollowCache() {
  if (cache_dir_.empty() || types_.get() == cache_catalog_ || fingerprint_ == cache_print_ ||
      types_->size() != 0) {
    return;
  }
  std::unique_ptr<TypeCatalog> loaded =
      LoadCache(cache_dir_, cache_key_, fingerprint_, options_.limits);
  if (loaded) types_ = std::move(loaded);
  cache_catalog_ = types_.get();
  cache_print_ = fingerprint_;
  cache_stored_ = types_->size();
}

void Session::FlushCache() {
  if (cache_dir_.empty()) return;
  if (types_.get() != cache_catalog_) {
    // The program changed since: the types now learned are of another
    // program, whose fingerprint a plain session has not taken yet.
    if (types_->size() == 0) return;
    if (fingerprint_ == cache_print_) {
      if (workspace_ == 0) return;
      unsigned requests = 0;
      std::uint64_t print = 0;
      const QXSymResult rc = TakeFingerprint(workspace_, remote(), &print, &requests);
      exchanges_ += requests;
      if (rc != symResOk) return;
      fingerprint_ = print;
    }
    cache_catalog_ = types_.get();
    cache_print_ = fingerprint_;
    cache_stored_ = 0;
  }
  if (types_->size() <= cache_stored_) return;
  if (StoreCache(cache_dir_, cache_key_, cache_print_, *types_)) cache_stored_ = types_->size();
}

bool Session::StillHolds(const std::string& path, const Layout& now) {
  auto it = outdated_.find(path);
  if (it == outdated_.end()) return true;
  // Refused once: the refusal tells the caller of the new layout, so a
  // front end that writes plain values without describing first is not
  // locked out of the path for good.
  const bool same = SameLayout(*it->second, now);
  outdated_.erase(it);
  return same;
}

std::shared_ptr<const Layout> Session::KnownLayout(const std::string& path) const {
  auto it = layouts_.find(path);
  return it == layouts_.end() ? nullptr : it->second;
}

void Session::KeepLayout(std::shared_ptr<const Layout> layout) {
  // Layouts are cheap to make again from the learned types.
  if (layouts_.size() >= kMaxLayouts) layouts_.clear();
  layouts_[layout->path] = std::move(layout);
}

void Session::Evict() {
  auto oldest = tags_.find(use_order_.front());
  const QXSymTagHandle handle = oldest->second.facts.handle;
  // Groups name their members by handle: none may outlive the tag.
  for (auto g = groups_.begin(); g != groups_.end();) {
    if (std::find(g->members.begin(), g->members.end(), handle) == g->members.end()) {
      ++g;
      continue;
    }
    Sent(QXSym_DeleteGroup(g->handle));
    g = groups_.erase(g);
  }
  Sent(QXSym_CloseTag(handle));
  tags_.erase(oldest);
  use_order_.pop_front();
}

}  // namespace qxsym::client
