#include "Subscription.h"

#include <cmath>
#include <set>

#include "ResultInfo.h"
#include "Session.h"
#include "Values.h"

namespace qxsym::client {
namespace {

// Paths described again per poll at most: a long list of bad paths is
// retried over several polls, never in one that overruns by far.
constexpr std::size_t kRetriesPerPoll = 8;

std::uint64_t Micros(std::chrono::steady_clock::duration d) {
  return d.count() <= 0 ? 0
                        : static_cast<std::uint64_t>(
                              std::chrono::duration_cast<std::chrono::microseconds>(d).count());
}

bool SameLeaves(const Layout& a, const Layout& b) {
  if (a.value_count != b.value_count || a.leaves.size() != b.leaves.size()) return false;
  for (std::size_t i = 0; i < a.leaves.size(); ++i) {
    const Leaf& x = a.leaves[i];
    const Leaf& y = b.leaves[i];
    if (x.path != y.path || x.count != y.count || x.dims != y.dims || x.lower != y.lower) {
      return false;
    }
  }
  return true;
}

ValueStatus StatusOf(QXSymResult code) {
  if (code == symResOk) return ValueStatus::kGood;
  return IsTransportFailure(code) ? ValueStatus::kStale : ValueStatus::kBad;
}

QXSymResult CheckOptions(const std::vector<std::string>& paths, const SubscribeOptions& o,
                         std::string* message) {
  if (paths.empty() || paths.size() > Subscription::kMaxPaths) {
    *message = "give 1 to " + std::to_string(Subscription::kMaxPaths) + " paths";
    return symResInvalidParameter;
  }
  const auto max = std::chrono::milliseconds(Subscription::kMaxIntervalMs);
  if (o.interval.count() < 1 || o.interval > max || o.heartbeat.count() < 0 || o.heartbeat > max) {
    *message = "the interval takes 1 to " + std::to_string(Subscription::kMaxIntervalMs) +
               " ms, the heartbeat 0 (none) to as many";
    return symResInvalidParameter;
  }
  if (!o.deadbands.empty() && o.deadbands.size() != paths.size()) {
    *message = "give one deadband per path, or none";
    return symResInvalidParameter;
  }
  bool nan = std::isnan(o.deadband);
  for (double d : o.deadbands) nan = nan || std::isnan(d);
  if (nan) {
    *message = "a deadband is not a number";
    return symResInvalidParameter;
  }
  std::set<std::string> seen;
  for (const std::string& p : paths) {
    if (!seen.insert(p).second) {
      *message = "'" + p + "' is given more than once";
      return symResInvalidParameter;
    }
  }
  return symResOk;
}

}  // namespace

const std::size_t Subscription::kMaxPaths;
const std::size_t Subscription::kMaxValues;
const std::uint32_t Subscription::kMaxIntervalMs;
constexpr std::chrono::seconds Subscription::kRetryEvery;

std::string ValuePath(const Leaf& leaf, std::uint32_t k) {
  if (leaf.dims.empty()) return leaf.path;
  return leaf.path + ElementLabel(k, leaf.dims, leaf.lower);
}

Subscription::Subscription(Session& session, SubscribeOptions options)
    : session_(session), options_(std::move(options)), schedule_(options_.interval) {}

std::unique_ptr<Subscription> Subscription::Make(Session& session, std::vector<std::string> paths,
                                                 SubscribeOptions options, QXSymResult* rc,
                                                 std::string* message) {
  message->clear();
  *rc = CheckOptions(paths, options, message);
  if (*rc != symResOk) return nullptr;
  std::unique_ptr<Subscription> s(new Subscription(session, std::move(options)));
  s->reconnects_seen_ = session.reconnects();
  s->changes_seen_ = session.online_changes();
  s->paths_.reserve(paths.size());
  const Clock::time_point retry = Clock::now() + kRetryEvery;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Watched w;
    w.path = std::move(paths[i]);
    w.deadband = s->options_.deadbands.empty() ? s->options_.deadband : s->options_.deadbands[i];
    std::string why;
    const QXSymResult r = s->Resolve(&w, &why);
    if (r != symResOk && (IsTransportFailure(r) || r == symResMaxReached)) {
      *rc = r;
      *message = why;
      return nullptr;
    }
    if (r != symResOk) {
      w.aside = true;
      w.retry_at = retry;
    }
    s->paths_.push_back(std::move(w));
  }
  return s;
}

QXSymResult Subscription::Resolve(Watched* w, std::string* message) {
  WalkError err;
  std::shared_ptr<const Layout> layout = Describe(session_, w->path, &err);
  if (!layout) {
    w->code = err.code;
    *message = err.message;
    return err.code;
  }
  return Attach(w, std::move(layout), message);
}

QXSymResult Subscription::Attach(Watched* w, std::shared_ptr<const Layout> layout,
                                 std::string* message) {
  if (layout->units.size() > Values::kMaxParts - std::min(Values::kMaxParts, parts_)) {
    *message = "'" + w->path + "' takes the subscription beyond " +
               std::to_string(Values::kMaxParts) + " group members";
    return w->code = symResMaxReached;
  }
  std::size_t fresh = 0;
  for (const Leaf& leaf : layout->leaves) {
    for (std::uint32_t k = 0; k < leaf.count; ++k) fresh += by_name_.count(ValuePath(leaf, k)) == 0;
  }
  if (fresh > kMaxValues - leaves_.size()) {
    *message =
        "'" + w->path + "' takes the subscription beyond " + std::to_string(kMaxValues) + " values";
    return w->code = symResMaxReached;
  }
  w->slots.clear();
  w->slots.reserve(layout->value_count);
  for (const Leaf& leaf : layout->leaves) {
    for (std::uint32_t k = 0; k < leaf.count; ++k) {
      std::string name = ValuePath(leaf, k);
      auto [it, added] = by_name_.emplace(name, leaves_.size());
      if (added) leaves_.emplace_back(std::move(name), w->deadband);
      w->slots.push_back(it->second);
    }
  }
  parts_ += layout->units.size();
  w->layout = std::move(layout);
  w->code = symResOk;
  w->aside = false;
  w->told_bad = false;
  polled_dirty_ = true;
  return symResOk;
}

void Subscription::Rebuild() {
  // A path's leaves changed: the table is laid out again from every path,
  // and each leaf that is still there keeps what was told about it.
  std::vector<LeafTracker> old = std::move(leaves_);
  std::unordered_map<std::string, std::size_t> old_names = std::move(by_name_);
  leaves_.clear();
  by_name_.clear();
  parts_ = 0;
  for (Watched& w : paths_) {
    if (!w.layout) continue;
    std::shared_ptr<const Layout> layout = std::move(w.layout);
    std::string why;
    if (Attach(&w, std::move(layout), &why) != symResOk) {
      w.slots.clear();
      w.aside = true;
      w.retry_at = Clock::now() + kRetryEvery;
    }
  }
  for (auto& [name, index] : by_name_) {
    auto was = old_names.find(name);
    if (was != old_names.end()) leaves_[index] = std::move(old[was->second]);
  }
  polled_dirty_ = true;
}

void Subscription::Retry(Clock::time_point now, std::vector<Event>* events) {
  std::size_t described = 0;
  for (Watched& w : paths_) {
    if (!w.aside) continue;
    if (now >= w.retry_at && (w.layout || described < kRetriesPerPoll)) {
      w.retry_at = now + kRetryEvery;
      if (w.layout) {
        // Read with the others again from this poll on.
        w.aside = false;
        polled_dirty_ = true;
        continue;
      }
      ++described;
      const QXSymResult before = w.code;
      std::string why;
      const QXSymResult r = Resolve(&w, &why);
      if (r == symResOk) continue;  // its values come with this poll
      // A silent controller says nothing about the path: it stays as told.
      if (IsTransportFailure(r)) w.code = before;
      if (w.code != before) w.told_bad = false;
    }
    if (!w.layout && !w.told_bad) {
      // A path with no leaves known is told bad under its own name.
      Event& e = events->emplace_back();
      e.path = w.path;
      e.status = ValueStatus::kBad;
      e.result = w.code;
      w.told_bad = true;
    }
  }
}

void Subscription::Take(Watched* w, const ReadResult& r, QXSymResult exchange,
                        Clock::time_point tick, Clock::time_point now, std::vector<Event>* events) {
  if (!w->layout) return;  // put aside by a rebuild earlier in this poll
  if (r.code == symResOk) {
    if (r.layout != w->layout) {
      const bool same = SameLeaves(*r.layout, *w->layout);
      w->layout = r.layout;
      if (!same) Rebuild();
    }
    if (w->slots.size() != r.values.size()) return;  // put aside by the rebuild
    const auto heartbeat = std::chrono::duration_cast<Clock::duration>(options_.heartbeat);
    for (std::size_t k = 0; k < w->slots.size(); ++k) {
      LeafTracker& t = leaves_[w->slots[k]];
      if (!t.SeenIn(poll_)) t.Good(r.values[k], tick, heartbeat, events);
    }
    return;
  }
  const bool stale = IsTransportFailure(r.code);
  for (std::size_t slot : w->slots) {
    LeafTracker& t = leaves_[slot];
    if (t.SeenIn(poll_)) continue;
    if (stale) {
      t.Stale(r.code, events);
    } else {
      t.Bad(r.code, events);
    }
  }
  // A failure of the path's own (not of the exchange all paths shared)
  // keeps it out of the polls for a while.
  if (!stale && (exchange == symResOk || r.code != exchange)) {
    w->aside = true;
    w->retry_at = now + kRetryEvery;
    polled_dirty_ = true;
  }
}

std::int64_t Subscription::Stamp() {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  // Never before an earlier poll's, when the wall clock is set back.
  last_stamp_ = std::max(last_stamp_, now);
  return last_stamp_;
}

void Subscription::TellLost(QXSymResult code, std::vector<Event>* events) {
  for (LeafTracker& t : leaves_) t.Stale(code, events);
  if (told_lost_) return;
  told_lost_ = true;
  Event e;
  e.kind = EventKind::kConnectionLost;
  e.status = ValueStatus::kStale;
  e.result = code;
  events->insert(events->begin(), std::move(e));
}

QXSymResult Subscription::Follow(Clock::time_point now, std::vector<Event>* events) {
  const QXSymResult ready = session_.Ready(now);
  attempt_at_ = session_.next_attempt();
  if (ready != symResOk) {
    TellLost(ready, events);
    return ready;
  }
  if (session_.reconnects() != reconnects_seen_) {
    // Opened again, perhaps by another call before any poll saw the loss.
    if (!told_lost_) TellLost(symResConnectionLost, events);
    reconnects_seen_ = session_.reconnects();
    told_lost_ = false;
    events->emplace_back().kind = EventKind::kConnectionBack;
  }
  if (session_.online_changes() != changes_seen_) Relook(now, events);
  return symResOk;
}

void Subscription::Relook(Clock::time_point now, std::vector<Event>* events) {
  const std::uint64_t before = changes_seen_;
  changes_seen_ = session_.online_changes();
  events->emplace_back().kind = EventKind::kOnlineChange;
  bool rebuild = false;
  for (Watched& w : paths_) {
    WalkError err;
    std::shared_ptr<const Layout> layout = Describe(session_, w.path, &err);
    if (!layout && IsTransportFailure(err.code)) {
      changes_seen_ = before;  // described again once the controller answers
      return;
    }
    if (!layout) {
      // Gone from the program: told bad under its own name, tried again later.
      rebuild = rebuild || w.layout != nullptr;
      w.layout.reset();
      w.slots.clear();
      w.code = err.code;
      w.aside = true;
      w.retry_at = now + kRetryEvery;
      Event& e = events->emplace_back();
      e.path = w.path;
      e.status = ValueStatus::kBad;
      e.result = w.code;
      w.told_bad = true;
      continue;
    }
    rebuild = rebuild || !w.layout || !SameLayout(*w.layout, *layout);
    w.layout = std::move(layout);
    w.code = symResOk;
    w.aside = false;
  }
  if (rebuild) Rebuild();
  polled_dirty_ = true;
}

QXSymResult Subscription::ReadPolled(std::vector<ReadResult>* results) {
  if (polled_dirty_) {
    polled_.clear();
    polled_paths_.clear();
    for (std::size_t i = 0; i < paths_.size(); ++i) {
      if (!paths_[i].layout || paths_[i].aside) continue;
      polled_.push_back(i);
      polled_paths_.push_back(paths_[i].path);
    }
    polled_dirty_ = false;
  }
  QXSymResult exchange = symResOk;
  results->clear();
  if (!polled_paths_.empty()) *results = Values(session_).ReadAsGroup(polled_paths_, &exchange);
  session_.Settle(Clock::now());
  return exchange;
}

QXSymResult Subscription::ReadAll(Clock::time_point tick, Clock::time_point now,
                                  std::vector<Event>* events) {
  Retry(now, events);
  std::vector<ReadResult> results;
  QXSymResult exchange = ReadPolled(&results);
  if (session_.online_changes() != changes_seen_ && !session_.away()) {
    // Read by references from before the program changed: once more.
    Relook(now, events);
    exchange = ReadPolled(&results);
  }
  // Take may lay the table out again; the list read stays as it was.
  const std::vector<std::size_t> read = polled_;
  for (std::size_t j = 0; j < read.size() && j < results.size(); ++j) {
    Take(&paths_[read[j]], results[j], exchange, tick, now, events);
  }
  if (session_.away() || exchange == symResSocketError || exchange == symResConnectionLost) {
    TellLost(exchange, events);
  }
  attempt_at_ = session_.next_attempt();
  return exchange;
}

void Subscription::Poll(Clock::time_point now, std::vector<Event>* events) {
  events->clear();
  if (!schedule_.Due(now)) {
    // Woken for an attempt to open the session again.
    Follow(now, events);
    const std::int64_t stamp = Stamp();
    for (Event& e : *events) e.timestamp_us = stamp;
    return;
  }
  ++poll_;
  const TickSchedule::Begun begun = schedule_.Begin(now);
  QXSymResult exchange = Follow(now, events);
  if (exchange == symResOk) exchange = ReadAll(begun.tick, now, events);
  const std::int64_t stamp = Stamp();
  const Clock::time_point end = Clock::now();
  const TickSchedule::Missed missed = schedule_.Finish(begun, end);
  Event& cycle = events->emplace_back();
  cycle.kind = EventKind::kCycle;
  cycle.status = StatusOf(exchange);
  cycle.result = exchange;
  cycle.duration_us = Micros(end - now);
  if (missed.ticks != 0) {
    Event& over = events->emplace_back();
    over.kind = EventKind::kOverrun;
    over.late_us = Micros(missed.late);
    over.missed = missed.ticks;
  }
  for (Event& e : *events) e.timestamp_us = stamp;
}

}  // namespace qxsym::client
