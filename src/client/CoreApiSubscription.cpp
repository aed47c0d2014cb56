// Exported functions of subscriptions. A wait runs the due polls on the
// calling thread: it takes the session's turn (busy) only for a poll, and
// sleeps on the session's wake between polls, so that an unsubscribe or a
// close from another thread reaches it at once.
#include <QXSymCore.h>

#include <chrono>

#include "CoreApiRegistry.h"

using namespace qxsym::client;
using namespace qxsym::client::capi;

namespace {

using Clock = std::chrono::steady_clock;

static_assert(QXSYMCORE_MAX_SUBSCRIBED_VALUES == Subscription::kMaxValues, "one limit of values");
static_assert(QXSYMCORE_MAX_SUBSCRIBED_PARTS == Values::kMaxParts, "one limit of group members");
static_assert(QXSYMCORE_MAX_INTERVAL_MS == Subscription::kMaxIntervalMs, "one longest interval");
static_assert(QXSymCoreEventOnlineChange == static_cast<int>(EventKind::kOnlineChange),
              "event kinds numbered alike");
static_assert(QXSymCoreBad == static_cast<int>(ValueStatus::kBad), "statuses numbered alike");

void FillEvents(SubscriptionObject& s) {
  s.c_events.assign(s.events.size(), QXSymCoreEvent{});
  for (std::size_t i = 0; i < s.events.size(); ++i) {
    const Event& e = s.events[i];
    QXSymCoreEvent& c = s.c_events[i];
    c.kind = static_cast<std::uint32_t>(e.kind);
    c.status = static_cast<std::uint32_t>(e.status);
    c.result = e.result;
    c.has_previous = e.has_previous ? 1 : 0;
    c.path = e.path.c_str();
    ToC(e.value, &c.value);
    ToC(e.previous, &c.previous);
    c.timestamp_us = e.timestamp_us;
    c.duration_us = e.duration_us;
    c.late_us = e.late_us;
    c.missed = e.missed;
  }
}

// Runs one due poll under the session's turn; false when the subscription
// or its session ended meanwhile.
bool RunPoll(SubscriptionObject& s) {
  std::lock_guard<std::mutex> lock(s.owner->busy);
  if (!s.subscription || !s.owner->session) return false;
  s.subscription->Poll(Clock::now(), &s.events);
  FillEvents(s);
  return true;
}

// Waits, holding the session's waiting turn (lock on wait_mutex), until a
// poll gave events, the deadline passed or the subscription ended. Only the
// waiter changes the schedule, and the subscription ends under wait_mutex,
// so the schedule is read under that lock alone.
QXSymResult WaitHolding(SubscriptionObject& s, Clock::time_point deadline,
                        std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (s.closed || !s.subscription) return symResInvalidHandle;
    const Clock::time_point now = Clock::now();
    if (s.subscription->Due(now)) {
      lock.unlock();
      const bool ran = RunPoll(s);
      lock.lock();
      if (!ran || s.closed) return symResInvalidHandle;
      if (!s.events.empty()) return symResOk;
      continue;
    }
    if (now >= deadline) return symResOk;
    s.owner->wake.wait_until(lock, std::min(s.subscription->next_tick(), deadline));
  }
}

}  // namespace

extern "C" {

QXSymResult QXSymCore_Subscribe(QXSymCoreHandle session, const char* const* paths, uint32_t count,
                                const QXSymCoreSubscribeOptions* options,
                                QXSymCoreHandle* subscription) {
  if (paths == nullptr || options == nullptr || subscription == nullptr || count == 0 ||
      count > Subscription::kMaxPaths) {
    return symResInvalidParameter;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (paths[i] == nullptr) return symResInvalidParameter;
  }
  return Guard([&]() -> QXSymResult {
    *subscription = 0;
    SubscribeOptions o;
    o.interval = std::chrono::milliseconds(options->interval_ms);
    o.heartbeat = std::chrono::milliseconds(options->heartbeat_ms);
    o.deadband = options->deadband;
    if (options->deadbands != nullptr)
      o.deadbands.assign(options->deadbands, options->deadbands + count);
    auto owner = Find<SessionObject>(session, Kind::kSession);
    if (!owner) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(owner->busy);
    if (!owner->session) return symResInvalidHandle;
    QXSymResult rc = symResOk;
    auto s = std::make_shared<SubscriptionObject>();
    s->owner = owner;
    const QXSymResult made = Connected(*owner->session, [&] {
      s->subscription =
          Subscription::Make(*owner->session, std::vector<std::string>(paths, paths + count),
                             std::move(o), &rc, &owner->message);
      return rc;
    });
    if (!s->subscription) return made;
    *subscription = Registry::Get().Add(Kind::kSubscription, s);
    owner->subscriptions.insert(*subscription);
    return symResOk;
  });
}

QXSymResult QXSymCore_SubscriptionWait(QXSymCoreHandle subscription, uint32_t timeout_ms,
                                       const QXSymCoreEvent** events, uint32_t* count) {
  if (events == nullptr || count == nullptr) return symResInvalidParameter;
  *events = nullptr;
  *count = 0;
  return Guard([&]() -> QXSymResult {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    auto s = Find<SubscriptionObject>(subscription, Kind::kSubscription);
    if (!s) return symResInvalidHandle;
    SessionObject& owner = *s->owner;
    std::unique_lock<std::mutex> lock(owner.wait_mutex);
    // One waiter per session: the others wait for their turn, in time.
    while (owner.waiting && !s->closed) {
      if (owner.wake.wait_until(lock, deadline) == std::cv_status::timeout && owner.waiting) {
        return s->closed ? symResInvalidHandle : symResOk;
      }
    }
    if (s->closed) return symResInvalidHandle;
    owner.waiting = true;
    s->events.clear();
    s->c_events.clear();
    const QXSymResult rc = WaitHolding(*s, deadline, lock);
    owner.waiting = false;
    owner.wake.notify_all();
    if (rc == symResOk && !s->c_events.empty()) {
      *events = s->c_events.data();
      *count = static_cast<uint32_t>(s->c_events.size());
    }
    return rc;
  });
}

QXSymResult QXSymCore_Unsubscribe(QXSymCoreHandle subscription) {
  return Guard([&]() -> QXSymResult {
    auto s = std::static_pointer_cast<SubscriptionObject>(
        Registry::Get().Remove(subscription, Kind::kSubscription));
    if (!s) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(s->owner->busy);
    s->owner->subscriptions.erase(subscription);
    EndSubscription(*s);
    return symResOk;
  });
}

}  // extern "C"
