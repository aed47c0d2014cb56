#include "Lister.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ListDescribe.h"
#include "ListPlan.h"

namespace qxsym::client {

namespace {

// One connection the listing asks over. Only its own worker touches the
// handles; everything else is guarded by the state's mutex.
struct Conn {
  QXSymWorkspaceHandle workspace = 0;
  bool own = false;
  bool alive = true;
  bool running = false;  // a worker thread serves it now
  bool served = false;   // a worker was started for it in this call
  // A list whose tags are still being named: kept when a call returns in
  // the middle of it, so the next call goes on where this one stopped.
  // handles[next..] are open (also after the connection failed).
  bool has_leaf = false;
  ListJob leaf;
  std::vector<QXSymTagHandle> handles;
  std::size_t next = 0;
  std::vector<std::uint32_t> ids;
};

bool IsTransportFailure(QXSymResult r) {
  return r == symResTimeoutError || r == symResSocketError || r == symResConnectionLost ||
         r == symResProtocolError || r == symResSegmentationError;
}

}  // namespace

struct Lister::State {
  State(QXSymWorkspaceHandle ws, Encoding enc, OpenExtra open, ListOptions opts)
      : encoding(enc), open_extra(std::move(open)), options(std::move(opts)), plan(Filter()) {
    Conn own;
    own.workspace = ws;
    own.own = true;
    conns.push_back(std::move(own));
  }

  std::string Filter();
  void Work(Conn& c, std::vector<std::thread>* threads);
  void Coordinate(std::vector<std::thread>* threads);
  template <typename F>
  void Guarded(F&& body, Conn* c);
  void RunJob(Conn& c, const ListJob& job, std::unique_lock<std::mutex>& lock);
  bool NameOne(Conn& c, std::unique_lock<std::mutex>& lock);
  void Lost(Conn& c, QXSymResult r);
  void Open();
  bool OpenerWanted() const;
  bool Over() const;
  bool Stalled() const;
  bool WorkReady() const;
  void RunCall();
  void CloseConn(Conn& c);

  const Encoding encoding;
  const OpenExtra open_extra;
  const ListOptions options;
  QXSymResult setup = symResOk;

  std::mutex mutex;
  std::condition_variable changed;
  ListPlan plan;
  std::deque<Conn> conns;  // stable addresses: workers hold references
  std::unordered_map<std::string, std::uint32_t> seen;
  TypeFactsCache types;
  std::vector<TagInfo> ready;
  bool leaf_done = false;
  bool handed_out = false;  // a batch has been handed out
  bool stop = false;
  QXSymResult failure = symResOk;
  unsigned jobs_out = 0;
  unsigned extras = 0;
  bool opening_over = false;
  bool opener_busy = false;
  bool winding_down = false;  // the call returns once the opener is back
  std::uint64_t requests = 0;
};

std::string Lister::State::Filter() {
  std::string filter;
  CodecError err;
  if (!TextFromUtf8(options.filter, encoding, &filter, &err) || filter.size() > kMaxFilterBytes ||
      filter.find('\0') != std::string::npos) {
    setup = symResInvalidParameter;
  }
  if (options.connections < 1 || options.connections > kMaxListConnections) {
    setup = symResInvalidParameter;
  }
  return filter;
}

// A worker: runs the plan's jobs over one connection until the call stops,
// a batch is ready, the plan is over or the connection fails. The worker of
// the session's own connection (threads given) also starts the others.
void Lister::State::Work(Conn& c, std::vector<std::thread>* threads) {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stop && failure == symResOk && c.alive) {
    if (threads != nullptr) Coordinate(threads);
    // A batch is ready: park here (unless an extra connection is still
    // being opened, which the call must wait for anyway).
    if (WorkReady()) {
      winding_down = true;
      if (!opener_busy) break;
    }
    if (c.has_leaf) {
      NameOne(c, lock);
      continue;
    }
    ListJob job;
    if (!plan.Take(&job)) {
      if (plan.failure() != symResOk) failure = plan.failure();
      if (Over()) break;
      if (Stalled()) {
        failure = symResNotOk;  // nothing out and nothing to ask: never wait for ever
        break;
      }
      changed.wait(lock);
      continue;
    }
    ++jobs_out;
    RunJob(c, job, lock);
    --jobs_out;
    changed.notify_all();
  }
  c.running = false;
  changed.notify_all();
}

void Lister::State::RunJob(Conn& c, const ListJob& job, std::unique_lock<std::mutex>& lock) {
  ++requests;
  lock.unlock();
  QXSymResult r;
  std::uint32_t count = 0;
  std::vector<QXSymTagHandle> handles;
  if (job.kind == ListJob::Kind::kCount) {
    r = QXSym_QueryGlobalTagsNum(c.workspace, job.filter.c_str(), &count);
  } else {
    handles.assign(job.capacity, 0);
    r = QXSym_QueryFillGlobalTagList(c.workspace, job.filter.c_str(), handles.data(), job.capacity);
  }
  lock.lock();
  if (r == symResBufferOverflow && job.kind == ListJob::Kind::kList) {
    plan.Overflowed(job);
  } else if (r != symResOk) {
    plan.Retry(job);
    Lost(c, r);
  } else if (job.kind == ListJob::Kind::kCount) {
    plan.Counted(job, count);
  } else {
    // The handles written, up to the first 0 (a handle is never 0).
    std::size_t n = 0;
    while (n < handles.size() && handles[n] != 0) ++n;
    handles.resize(n);
    plan.Sized(job, static_cast<std::uint32_t>(n));
    c.has_leaf = true;
    c.leaf = job;
    c.handles = std::move(handles);
    c.next = 0;
    c.ids.clear();
  }
}

// Names (and describes) the next tag of the connection's list and closes
// it; the list's end settles its filter.
bool Lister::State::NameOne(Conn& c, std::unique_lock<std::mutex>& lock) {
  if (c.next == c.handles.size()) {
    c.has_leaf = false;
    c.handles.clear();
    c.next = 0;
    plan.Listed(c.leaf, c.ids);
    leaf_done = true;
    changed.notify_all();
    return true;
  }
  const QXSymTagHandle tag = c.handles[c.next];
  lock.unlock();
  std::uint64_t sent = 1;
  std::string raw;
  TagInfo info;
  QXSymResult r = ReadTagText(QXSym_GetTagName, tag, &raw);
  if (r == symResOk) {
    lock.lock();
    const bool known = seen.count(raw) != 0;
    lock.unlock();
    if (!known) r = DescribeTag(tag, options, encoding, &types, &info, &sent);
  }
  ++sent;
  const QXSymResult closed = QXSym_CloseTag(tag);
  if (r == symResOk) r = closed;
  lock.lock();
  requests += sent;
  if (closed == symResOk) ++c.next;
  if (r != symResOk) {
    Lost(c, r);
    return false;
  }
  const auto found = seen.emplace(raw, static_cast<std::uint32_t>(seen.size()));
  if (found.second) {
    info.name = TextToUtf8(raw, encoding);
    ready.push_back(std::move(info));
    plan.Learn(raw);
  }
  c.ids.push_back(found.first->second);
  return true;
}

// A failure on an extra connection retires it (its list goes to another
// connection); on the session's own connection it fails the listing.
void Lister::State::Lost(Conn& c, QXSymResult r) {
  if (c.own) {
    failure = r;
    changed.notify_all();
    return;
  }
  c.alive = false;
  if (c.has_leaf) {
    c.has_leaf = false;
    plan.Retry(c.leaf);
  }
  changed.notify_all();
}

bool Lister::State::OpenerWanted() const {
  return !opener_busy && !winding_down && !opening_over && open_extra &&
         extras + 1 < options.connections && plan.root_counted() &&
         plan.root_count() > kListReplyTags && !Over() && !stop;
}

// Opens extra connections one after the other while the listing needs
// them; a connection that cannot be opened ends the opening for good.
void Lister::State::Open() {
  std::unique_lock<std::mutex> lock(mutex);
  // Once started it makes its attempt even when the call is about to return
  // (a fast source may have a batch ready before this thread runs).
  for (bool first = true; !stop && (first || !winding_down) && !opening_over &&
                          extras + 1 < options.connections && !Over() && failure == symResOk;
       first = false) {
    lock.unlock();
    const QXSymWorkspaceHandle ws = open_extra();
    lock.lock();
    if (ws == 0) {
      opening_over = true;
      break;
    }
    Conn extra;
    extra.workspace = ws;
    conns.push_back(std::move(extra));
    ++extras;
    changed.notify_all();
  }
  opener_busy = false;
  changed.notify_all();
}

// The plan is done with and no list is half named.
bool Lister::State::Over() const {
  if (plan.failure() != symResOk || failure != symResOk) return true;
  if (!plan.finished() || jobs_out > 0) return false;
  for (const Conn& c : conns) {
    if (c.alive && c.has_leaf) return false;
  }
  return true;
}

// Nothing is out, no list is half named, and yet the plan hands out no job.
bool Lister::State::Stalled() const {
  if (jobs_out > 0 || plan.finished()) return false;
  for (const Conn& c : conns) {
    if (c.has_leaf) return false;
  }
  return true;
}

// A batch to hand out (or the end): the call may return.
bool Lister::State::WorkReady() const {
  if (failure != symResOk || plan.failure() != symResOk) return true;
  if (Over()) return true;
  // The first names as soon as one list is named, then batches of a reply.
  return ready.size() >= kListReplyTags || (leaf_done && !ready.empty() && !handed_out);
}

// Runs a thread's body; what it throws (no memory) fails the listing
// instead of ending the program.
template <typename F>
void Lister::State::Guarded(F&& body, Conn* c) {
  try {
    body();
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex);
    if (failure == symResOk) failure = symResMemoryAllocError;
    if (c != nullptr) c->running = false;
    if (c == nullptr) opener_busy = false;
    changed.notify_all();
  }
}

// Starts a worker for each extra connection that came up, and the opener
// when more connections are wanted.
void Lister::State::Coordinate(std::vector<std::thread>* threads) {
  for (Conn& c : conns) {
    if (c.alive && !c.served) {
      c.served = true;
      c.running = true;
      threads->emplace_back([this, &c] { Guarded([&] { Work(c, nullptr); }, &c); });
    }
  }
  if (OpenerWanted()) {
    opener_busy = true;
    threads->emplace_back([this] { Guarded([this] { Open(); }, nullptr); });
  }
}

// One call's work: the session's own connection on the calling thread, a
// worker for each extra connection as it comes up, and the opener; all
// joined before it returns.
void Lister::State::RunCall() {
  std::vector<std::thread> threads;
  std::unique_lock<std::mutex> lock(mutex);
  stop = false;
  leaf_done = false;
  winding_down = false;
  for (Conn& c : conns) c.served = false;
  conns.front().served = true;
  conns.front().running = true;
  lock.unlock();
  Guarded([&] { Work(conns.front(), &threads); }, &conns.front());
  lock.lock();
  // The listing goes on over the extra connections while one is still being
  // opened: the opener is joined before the call returns.
  winding_down = true;
  while (opener_busy) {
    Coordinate(&threads);
    changed.wait(lock);
  }
  stop = true;
  changed.notify_all();
  lock.unlock();
  for (std::thread& t : threads) t.join();
}

void Lister::State::CloseConn(Conn& c) {
  for (std::size_t i = c.next; i < c.handles.size(); ++i) {
    // A connection that does not answer any more would cost a time-out per
    // tag; its tags are given up with it.
    const QXSymResult r = QXSym_CloseTag(c.handles[i]);
    if (IsTransportFailure(r)) break;
  }
  c.handles.clear();
  c.has_leaf = false;
  if (!c.own) QXSym_CloseWorkspace(c.workspace);
}

Lister::Lister(QXSymWorkspaceHandle workspace, Encoding encoding, OpenExtra open_extra,
               ListOptions options)
    : state_(std::make_unique<State>(workspace, encoding, std::move(open_extra),
                                     std::move(options))) {}

Lister::~Lister() {
  for (Conn& c : state_->conns) state_->CloseConn(c);
}

bool Lister::Next(std::vector<TagInfo>* batch, bool* done, QXSymResult* rc) {
  State& s = *state_;
  batch->clear();
  *done = false;
  if (s.setup != symResOk) {
    *rc = s.setup;
    return false;
  }
  if (s.failure == symResOk && !s.Over()) s.RunCall();
  if (s.failure == symResOk && s.plan.failure() != symResOk) s.failure = s.plan.failure();
  if (s.failure != symResOk) {
    *rc = s.failure;
    return false;
  }
  batch->swap(s.ready);
  s.handed_out = s.handed_out || !batch->empty();
  *done = s.Over() && s.ready.empty();
  *rc = symResOk;
  return true;
}

std::uint64_t Lister::requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

}  // namespace qxsym::client
