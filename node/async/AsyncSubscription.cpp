// The async add-on's subscriptions: subscribe, wait for the next poll's
// events and unsubscribe, over the client core's polling subscriptions.
//
// A wait runs on the thread pool for at most the time the caller gives,
// copies one poll's events out of the core and turns them into JavaScript
// objects on the JavaScript thread. Nothing is queued here: the caller asks
// for the next poll when it wants it, and the core keeps to its ticks.
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "AsyncWork.h"
#include "JsValues.h"

namespace qxsym::js {
namespace {

// One subscription as JavaScript holds it (an external value).
struct SubState {
  QXSymCoreHandle handle = 0;
  std::map<std::string, bool> wide;  // a leaf's path: a 64-bit integer
  std::atomic<bool> ended{false};
  std::mutex mutex;
  bool waiting = false;   // a wait runs on the pool
  bool orphaned = false;  // JavaScript let go of it during that wait
  // Held while a wait copies the events the core lent it, and while the
  // subscription is released: releasing frees those events.
  std::mutex release;

  // Ends it unless it has ended already (once only); the core's result,
  // symResInvalidHandle when it had ended before.
  QXSymResult End() {
    std::lock_guard<std::mutex> lock(release);
    if (ended.exchange(true)) return symResInvalidHandle;
    return QXSymCore_Unsubscribe(handle);
  }

  // Whether the leaf value at an event's path is a 64-bit integer: the
  // leaf itself, or an element of an array leaf ("Temps" for "Temps[3]").
  bool IsWidePath(std::string path) const {
    for (;;) {
      const auto found = wide.find(path);
      if (found != wide.end()) return found->second;
      if (path.empty() || path.back() != ']') return false;
      const size_t open = path.rfind('[');
      if (open == std::string::npos) return false;
      path.resize(open);
    }
  }
};

using SubPtr = std::shared_ptr<SubState>;

struct OwnedEvent {
  uint32_t kind = 0, status = 0;
  int32_t result = 0;
  bool has_previous = false;
  std::string path;
  OwnedValue value, previous;
  int64_t timestamp_us = 0;
  uint64_t duration_us = 0, late_us = 0, missed = 0;
};

// JavaScript let go of the subscription: end it, or have the running wait
// end it (unsubscribing here would wait for its poll on this thread).
void Finalize(napi_env, void* data, void*) {
  std::unique_ptr<SubPtr> held(static_cast<SubPtr*>(data));
  SubState& sub = **held;
  {
    std::lock_guard<std::mutex> lock(sub.mutex);
    if (sub.waiting) {
      sub.orphaned = true;
      return;
    }
  }
  sub.End();
}

bool GetSub(napi_env env, napi_value v, SubPtr* out) {
  void* data = nullptr;
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok || t != napi_external ||
      napi_get_value_external(env, v, &data) != napi_ok || data == nullptr)
    return Throw(env, "not a subscription");
  *out = *static_cast<SubPtr*>(data);
  return true;
}

// The options' deadbands: null, or one number per path.
bool GetDeadbands(napi_env env, napi_value v, size_t paths, std::vector<double>* out) {
  napi_valuetype t;
  napi_typeof(env, v, &t);
  if (t == napi_null || t == napi_undefined) return true;
  bool is_array = false;
  uint32_t n = 0;
  napi_is_array(env, v, &is_array);
  if (is_array) napi_get_array_length(env, v, &n);
  if (!is_array || n != paths) return Throw(env, "give one deadband per path, or none");
  out->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    napi_value e;
    napi_get_element(env, v, i, &e);
    napi_typeof(env, e, &t);
    if (t != napi_number) return Throw(env, "a deadband must be a number");
    napi_get_value_double(env, e, &(*out)[i]);
  }
  return true;
}

// Which leaves of the paths hold 64-bit integers; a path that does not
// resolve has none (the subscription tells it bad).
void LearnWidths(uint32_t session, const std::vector<std::string>& paths, SubState* sub) {
  for (const std::string& p : paths) {
    const QXSymCoreLayout* layout = nullptr;
    const char* message = nullptr;
    if (QXSymCore_Describe(session, p.c_str(), &layout, &message) != symResOk) continue;
    for (uint32_t i = 0; i < layout->leaf_count; ++i) {
      const QXSymCoreLeaf& leaf = layout->leaves[i];
      sub->wide[leaf.path] = IsWide(leaf.tyvar, leaf.element_size);
    }
  }
}

// subscribe(session, paths, intervalMs, heartbeatMs, deadband, deadbands|null)
// -> subscription (an external); the paths are described on the pool.
napi_value Subscribe(napi_env env, napi_callback_info info) {
  napi_value argv[6];
  uint32_t session = 0, interval = 0, heartbeat = 0;
  std::vector<std::string> paths;
  auto deadbands = std::make_shared<std::vector<double>>();
  double deadband = 0;
  if (!Args(env, info, 6, argv) || !GetUint(env, argv[0], &session, "session must be a number") ||
      !GetPaths(env, argv[1], &paths) ||
      !GetUint(env, argv[2], &interval, "interval must be a whole number of ms") ||
      !GetUint(env, argv[3], &heartbeat, "heartbeat must be a whole number of ms") ||
      !GetDeadbands(env, argv[5], paths.size(), deadbands.get()))
    return nullptr;
  if (napi_get_value_double(env, argv[4], &deadband) != napi_ok)
    return Throw(env, "deadband must be a number"), nullptr;
  auto sub = std::make_shared<SubState>();
  return Start(
      env, "QXSymCore_Subscribe",
      [session, paths, interval, heartbeat, deadband, deadbands, sub](Work&) {
        std::vector<const char*> c_paths;
        for (const std::string& p : paths) c_paths.push_back(p.c_str());
        QXSymCoreSubscribeOptions o{};
        o.interval_ms = interval;
        o.heartbeat_ms = heartbeat;
        o.deadband = deadband;
        o.deadbands = deadbands->empty() ? nullptr : deadbands->data();
        const QXSymResult r = QXSymCore_Subscribe(
            session, c_paths.data(), static_cast<uint32_t>(c_paths.size()), &o, &sub->handle);
        if (r == symResOk) LearnWidths(session, paths, sub.get());
        return r;
      },
      [sub](napi_env e) {
        napi_value external;
        auto* held = new SubPtr(sub);
        if (napi_create_external(e, held, Finalize, nullptr, &external) != napi_ok) {
          Finalize(e, held, nullptr);
          return Undefined(e);
        }
        return external;
      });
}

OwnedEvent CopyEvent(const QXSymCoreEvent& c, const SubState& sub) {
  OwnedEvent e;
  e.kind = c.kind;
  e.status = c.status;
  e.result = c.result;
  e.has_previous = c.has_previous != 0;
  e.path = c.path != nullptr ? c.path : "";
  const bool wide = c.kind == QXSymCoreEventChange && sub.IsWidePath(e.path);
  e.value = CopyValue(c.value, wide);
  if (e.has_previous) e.previous = CopyValue(c.previous, wide);
  e.timestamp_us = c.timestamp_us;
  e.duration_us = c.duration_us;
  e.late_us = c.late_us;
  e.missed = c.missed;
  return e;
}

const char* KindName(uint32_t kind) {
  switch (kind) {
    case QXSymCoreEventChange:
      return "change";
    case QXSymCoreEventCycle:
      return "cycle";
    case QXSymCoreEventOverrun:
      return "overrun";
    case QXSymCoreEventOnlineChange:
      return "onlineChange";
    default:
      return "other";
  }
}

const char* StatusName(uint32_t status) {
  return status == QXSymCoreGood ? "good" : status == QXSymCoreStale ? "stale" : "bad";
}

// { kind, status, result, path, value[, previous], ms, micros, timestampUs,
//   durationMs, lateMs, missed }: times split into whole ms since the epoch
// and the microseconds within that ms (0 to 999).
napi_value EventToJs(napi_env env, const OwnedEvent& e) {
  napi_value o = Object(env), us;
  Set(env, o, "kind", Str(env, KindName(e.kind)));
  Set(env, o, "status", Str(env, StatusName(e.status)));
  Set(env, o, "result", Num(env, e.result));
  Set(env, o, "path", Str(env, e.path));
  if (e.kind == QXSymCoreEventChange) {
    Set(env, o, "value", e.value.kind == QXSymCoreNone ? Undefined(env) : ValueToJs(env, e.value));
    Set(env, o, "previous", e.has_previous ? ValueToJs(env, e.previous) : Undefined(env));
  }
  const int64_t ms = e.timestamp_us / 1000 - (e.timestamp_us % 1000 < 0 ? 1 : 0);
  Set(env, o, "ms", Num(env, static_cast<double>(ms)));
  Set(env, o, "micros", Num(env, static_cast<double>(e.timestamp_us - ms * 1000)));
  napi_create_bigint_int64(env, e.timestamp_us, &us);
  Set(env, o, "timestampUs", us);
  Set(env, o, "durationMs", Num(env, static_cast<double>(e.duration_us) / 1000.0));
  Set(env, o, "lateMs", Num(env, static_cast<double>(e.late_us) / 1000.0));
  Set(env, o, "missed", Num(env, static_cast<double>(e.missed)));
  return o;
}

// subscriptionWait(subscription, timeoutMs) -> [event, ...]: one poll's
// events, none when the time ran out first. One wait at a time per
// subscription; rejects with symResInvalidHandle once it has ended.
napi_value Wait(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  SubPtr sub;
  uint32_t timeout = 0;
  if (!Args(env, info, 2, argv) || !GetSub(env, argv[0], &sub) ||
      !GetUint(env, argv[1], &timeout, "timeout must be a whole number of ms"))
    return nullptr;
  if (timeout > 60000) return Throw(env, "timeout must be at most 60000 ms"), nullptr;
  {
    std::lock_guard<std::mutex> lock(sub->mutex);
    if (sub->waiting) return Throw(env, "the subscription is waited on already"), nullptr;
    sub->waiting = true;
  }
  auto out = std::make_shared<std::vector<OwnedEvent>>();
  return Start(
      env, "QXSymCore_SubscriptionWait",
      [sub, timeout, out](Work&) {
        const QXSymCoreEvent* events = nullptr;
        uint32_t count = 0;
        QXSymResult r = symResInvalidHandle;
        if (!sub->ended) r = QXSymCore_SubscriptionWait(sub->handle, timeout, &events, &count);
        {
          // Released meanwhile (by unsubscribe, or as JavaScript let go):
          // the events are gone with it.
          std::lock_guard<std::mutex> copying(sub->release);
          if (sub->ended) r = symResInvalidHandle;
          for (uint32_t i = 0; r == symResOk && i < count; ++i)
            out->push_back(CopyEvent(events[i], *sub));
        }
        std::unique_lock<std::mutex> lock(sub->mutex);
        sub->waiting = false;
        if (sub->orphaned) {
          lock.unlock();
          sub->End();
        }
        return r;
      },
      [out](napi_env e) {
        napi_value list = Array(e, out->size());
        for (size_t i = 0; i < out->size(); ++i) Put(e, list, i, EventToJs(e, (*out)[i]));
        return list;
      });
}

// unsubscribe(subscription) -> result code (never rejects); wakes a wait.
napi_value Unsubscribe(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  SubPtr sub;
  if (!Args(env, info, 1, argv) || !GetSub(env, argv[0], &sub)) return nullptr;
  auto r = std::make_shared<QXSymResult>(symResInvalidHandle);
  return Start(
      env, "QXSymCore_Unsubscribe",
      [sub, r](Work&) {
        *r = sub->End();  // ended before: symResInvalidHandle
        return symResOk;
      },
      [r](napi_env e) { return Num(e, *r); });
}

}  // namespace

// Writable, so that a caller can wrap them to follow the waits.
void InitSubscriptions(napi_env env, napi_value exports) {
  const auto a = static_cast<napi_property_attributes>(napi_enumerable | napi_writable);
  const napi_property_descriptor props[] = {
      {"subscribe", nullptr, Subscribe, nullptr, nullptr, nullptr, a, nullptr},
      {"subscriptionWait", nullptr, Wait, nullptr, nullptr, nullptr, a, nullptr},
      {"unsubscribe", nullptr, Unsubscribe, nullptr, nullptr, nullptr, a, nullptr},
  };
  napi_define_properties(env, exports, sizeof(props) / sizeof(props[0]), props);
}

}  // namespace qxsym::js
