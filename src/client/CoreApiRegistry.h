// The objects behind the C interface's handles and their registry: 32-bit
// ids from one counter, checked for kind on every call, and the C copies
// of the core's results that a handle keeps until its next call.
#pragma once

#include <QXSymCore.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "Layout.h"
#include "Lister.h"
#include "Session.h"
#include "Subscription.h"
#include "Values.h"

namespace qxsym::client::capi {

static_assert(QXSYMCORE_MAX_CONNECTIONS == kMaxListConnections, "one limit of connections");
static_assert(QXSYMCORE_MAX_DIMS == kMaxDims, "one limit of dimensions");

enum class Kind { kSession = 1, kListing = 2, kSubscription = 3 };

struct Object {
  virtual ~Object() = default;
};

// A layout as C structs; the strings stay in the layout it holds.
struct CLayout {
  std::shared_ptr<const Layout> layout;
  std::vector<QXSymCoreLeaf> leaves;
  QXSymCoreLayout c{};
  void Set(std::shared_ptr<const Layout> from);
};

struct SessionObject : Object {
  std::mutex busy;  // one call at a time on the session and its listings
  std::unique_ptr<Session> session;
  std::set<QXSymCoreHandle> listings;
  std::set<QXSymCoreHandle> subscriptions;
  // Waits on the session's subscriptions: one thread at a time (waiting),
  // woken when a subscription ends. Taken after busy, never before it.
  std::mutex wait_mutex;
  std::condition_variable wake;
  bool waiting = false;
  // What the last call handed out.
  CLayout described;
  std::string message;
  std::vector<ReadResult> read;
  std::vector<CLayout> read_layouts;
  std::vector<std::vector<QXSymCoreValue>> read_values;
  std::vector<QXSymCoreReadItem> read_items;
  std::vector<WriteResult> written;
  std::vector<QXSymCoreWriteResult> write_results;
};

struct ListingObject : Object {
  std::shared_ptr<SessionObject> owner;
  std::unique_ptr<Lister> lister;
  std::uint64_t counted = 0;  // lister requests already added to the session
  std::vector<TagInfo> batch;
  std::vector<QXSymCoreTagInfo> c_batch;
};

struct SubscriptionObject : Object {
  std::shared_ptr<SessionObject> owner;
  // Polled under owner->busy; ended under owner->busy and owner->wait_mutex.
  std::unique_ptr<Subscription> subscription;
  bool closed = false;        // under owner->wait_mutex
  std::vector<Event> events;  // of the last wait
  std::vector<QXSymCoreEvent> c_events;
};

// Ends a subscription and wakes its waiter; the caller holds owner->busy.
void EndSubscription(SubscriptionObject& s);

class Registry {
 public:
  static Registry& Get();
  QXSymCoreHandle Add(Kind kind, std::shared_ptr<Object> object);
  std::shared_ptr<Object> Find(QXSymCoreHandle id, Kind kind);
  // Takes the object out; null when id is not open as kind.
  std::shared_ptr<Object> Remove(QXSymCoreHandle id, Kind kind);

 private:
  std::mutex mutex_;
  std::map<QXSymCoreHandle, std::pair<Kind, std::shared_ptr<Object>>> objects_;
  QXSymCoreHandle next_ = 0;
};

template <typename T>
std::shared_ptr<T> Find(QXSymCoreHandle id, Kind kind) {
  return std::static_pointer_cast<T>(Registry::Get().Find(id, kind));
}

// Runs body; no exception leaves it.
template <typename Body>
QXSymResult Guard(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return symResMemoryAllocError;
  } catch (...) {
    return symResNotOk;
  }
}

// Runs body when the session's connection is there (Session::Ready: fails
// fast while away, opens again when an attempt is due), then lets a loss or
// program change the call saw take effect. The caller holds the session's busy.
template <typename Body>
QXSymResult Connected(Session& session, Body&& body) {
  const QXSymResult ready = session.Ready(std::chrono::steady_clock::now());
  if (ready != symResOk) return ready;
  session.FollowCache();
  const QXSymResult rc = body();
  session.Settle(std::chrono::steady_clock::now());
  return rc;
}

// Plain values between the core and C. FromC refuses an unknown kind and
// data missing for its length.
void ToC(const LeafValue& value, QXSymCoreValue* out);
bool FromC(const QXSymCoreValue& value, LeafValue* out);

}  // namespace qxsym::client::capi
