// Polling subscriptions: a set of paths read as one group exchange per
// tick, expanded to their leaf values (`Line.Main.Speed`, `Temps[3]`,
// `Grid[1,2]` with the declared indices), each told when it changes (see
// LeafTracker), plus an event per completed poll and per overrun. No thread
// of its own: whoever waits on it runs Poll when a tick is due, on the
// session the subscription was made on.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Layout.h"
#include "LeafTracker.h"
#include "SubscriptionEvent.h"
#include "TickSchedule.h"
#include "Values.h"

namespace qxsym::client {

class Session;

struct SubscribeOptions {
  std::chrono::milliseconds interval{1000};
  double deadband = 0;                     // 0 or below: any change
  std::chrono::milliseconds heartbeat{0};  // 0: none
  std::vector<double> deadbands;           // empty, or one per path (replacing deadband)
};

class Subscription {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::size_t kMaxPaths = 65536;
  // Leaf values one subscription watches.
  static constexpr std::size_t kMaxValues = 65536;
  static constexpr std::uint32_t kMaxIntervalMs = 86400000;
  // How often a path that cannot be read for a reason of its own is tried
  // again (it is left out of the polls meanwhile).
  static constexpr std::chrono::seconds kRetryEvery{10};

  // Describes every path (the exchanges this takes happen here). A path
  // that does not resolve is taken all the same and told bad at the first
  // poll. Null with *rc and *message set when the options are refused
  // (symResInvalidParameter), the values exceed a group's or the
  // subscription's bounds (symResMaxReached), or the controller does not
  // answer (its result).
  static std::unique_ptr<Subscription> Make(Session& session, std::vector<std::string> paths,
                                            SubscribeOptions options, QXSymResult* rc,
                                            std::string* message);

  // A poll is due at now, or an attempt to open the session again.
  bool Due(Clock::time_point now) const { return schedule_.Due(now) || now >= attempt_at_; }
  // The next tick or attempt; a poll is due at once before the first.
  Clock::time_point next_tick() const { return std::min(schedule_.next(), attempt_at_); }

  // Runs the poll due at now; its events replace *events (at most
  // max_events() of them). Woken for an attempt alone, it reads nothing:
  // the values follow at the next tick. The session's state comes first:
  // while it is away every leaf is told stale once, with one
  // kConnectionLost; when it is back, one kConnectionBack; after a program
  // change, one kOnlineChange, every path described again (one that is
  // gone told bad under its own name, one laid out anew told by its new
  // leaves), and a read that went by old references made once more.
  void Poll(Clock::time_point now, std::vector<Event>* events);

  std::size_t max_events() const { return 2 * leaves_.size() + 3 * paths_.size() + 6; }
  std::size_t leaf_count() const { return leaves_.size(); }

 private:
  struct Watched {
    std::string path;
    double deadband = 0;
    std::shared_ptr<const Layout> layout;  // null until the path resolves
    std::vector<std::size_t> slots;        // leaves_ index of each value
    QXSymResult code = symResOk;           // why it cannot be read
    bool told_bad = false;                 // code was told (no layout yet)
    bool aside = false;                    // left out of the polls until retry_at
    Clock::time_point retry_at{};
  };

  Subscription(Session& session, SubscribeOptions options);
  QXSymResult Resolve(Watched* w, std::string* message);
  QXSymResult Attach(Watched* w, std::shared_ptr<const Layout> layout, std::string* message);
  void Rebuild();
  void Retry(Clock::time_point now, std::vector<Event>* events);
  void Take(Watched* w, const ReadResult& r, QXSymResult exchange, Clock::time_point tick,
            Clock::time_point now, std::vector<Event>* events);
  std::int64_t Stamp();
  QXSymResult Follow(Clock::time_point now, std::vector<Event>* events);
  void TellLost(QXSymResult code, std::vector<Event>* events);
  void Relook(Clock::time_point now, std::vector<Event>* events);
  QXSymResult ReadAll(Clock::time_point tick, Clock::time_point now, std::vector<Event>* events);
  QXSymResult ReadPolled(std::vector<ReadResult>* results);

  Session& session_;
  SubscribeOptions options_;
  TickSchedule schedule_;
  std::vector<Watched> paths_;
  std::vector<LeafTracker> leaves_;
  std::unordered_map<std::string, std::size_t> by_name_;
  std::size_t parts_ = 0;  // group members of the resolved paths, at most
  // The paths each poll reads (index into paths_, and the path), made
  // again when one is put aside or taken back.
  std::vector<std::size_t> polled_;
  std::vector<std::string> polled_paths_;
  bool polled_dirty_ = true;
  std::uint64_t poll_ = 0;
  std::int64_t last_stamp_ = 0;
  // What was told of the session: the loss (until it is back), and the
  // reopens and program changes seen.
  bool told_lost_ = false;
  std::uint64_t reconnects_seen_ = 0;
  std::uint64_t changes_seen_ = 0;
  Clock::time_point attempt_at_ = Clock::time_point::max();  // while the session is away
};

// The path of value k of a leaf: the leaf's own for a single value, else
// with the element's declared indices ("Temps[3]", "Grid[1,2]").
std::string ValuePath(const Leaf& leaf, std::uint32_t k);

}  // namespace qxsym::client
