// Polling subscriptions of the core's C interface: what is told and when,
// how a silent or slow controller shows, and how a wait ends when another
// thread ends the subscription. Values move by writes of a second session.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

#include "CoreFixture.h"

namespace qxsym::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// An event copied out of the core's memory.
struct Got {
  std::uint32_t kind = 0;
  std::uint32_t status = 0;
  std::int32_t result = 0;
  bool has_previous = false;
  std::string path;
  QXSymCoreValue value{};
  QXSymCoreValue previous{};
  std::int64_t timestamp_us = 0;
  std::uint64_t duration_us = 0;
  std::uint64_t late_us = 0;
  std::uint64_t missed = 0;
};

// One poll's events.
struct Polled {
  std::map<std::string, Got> changes;  // by path
  std::vector<Got> cycles;
  std::vector<Got> overruns;
  std::size_t change_count = 0;
};

std::int64_t WallMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

QXSymCoreSubscribeOptions Every(std::uint32_t interval_ms, double deadband = 0,
                                std::uint32_t heartbeat_ms = 0) {
  QXSymCoreSubscribeOptions o{};
  o.interval_ms = interval_ms;
  o.deadband = deadband;
  o.heartbeat_ms = heartbeat_ms;
  return o;
}

class CoreSubscriptionTest : public CoreTest {
 protected:
  QXSymCoreHandle Subscribe(const std::vector<std::string>& paths,
                            const QXSymCoreSubscribeOptions& options, QXSymCoreHandle session = 0) {
    std::vector<const char*> p;
    for (const std::string& s : paths) p.push_back(s.c_str());
    QXSymCoreHandle sub = 0;
    EXPECT_EQ(QXSymCore_Subscribe(session != 0 ? session : session_, p.data(),
                                  static_cast<std::uint32_t>(p.size()), &options, &sub),
              symResOk);
    return sub;
  }

  // Waits for the next poll; every wait that does not time out is one poll.
  Polled Poll(QXSymCoreHandle sub) {
    const QXSymCoreEvent* events = nullptr;
    std::uint32_t n = 0;
    EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 10000, &events, &n), symResOk);
    EXPECT_GT(n, 0u);
    Polled p;
    for (std::uint32_t i = 0; i < n; ++i) {
      const QXSymCoreEvent& e = events[i];
      Got g{e.kind,     e.status,       e.result,      e.has_previous != 0, e.path,  e.value,
            e.previous, e.timestamp_us, e.duration_us, e.late_us,           e.missed};
      // Texts and bytes are not kept: the tests compare numbers.
      g.value.data = g.previous.data = nullptr;
      if (e.kind == QXSymCoreEventChange) {
        ++p.change_count;
        p.changes[g.path] = g;
      } else if (e.kind == QXSymCoreEventCycle) {
        p.cycles.push_back(g);
      } else if (e.kind == QXSymCoreEventOverrun) {
        p.overruns.push_back(g);
      }
    }
    EXPECT_EQ(p.cycles.size(), 1u);
    return p;
  }

  QXSymCoreHandle Writer() {
    if (writer_ == 0) writer_ = OpenSession(QXSymCoreLatin1);
    return writer_;
  }

  QXSymCoreHandle writer_ = 0;
};

TEST_P(CoreSubscriptionTest, StructuresAndArraysExpandToLeavesWithDeclaredIndices) {
  const QXSymCoreHandle sub = Subscribe({"Line.Main", "Grid", "Temps[3]", "Pallet"}, Every(50));
  const Polled p = Poll(sub);
  EXPECT_EQ(p.change_count, 9u + 12u + 1u + 24u);  // a motor has nine members
  for (const char* path : {"Line.Main.Enable", "Line.Main.SetSpeed", "Grid[0,0]", "Grid[2,3]",
                           "Pallet[1,1]", "Pallet[4,6]"}) {
    EXPECT_EQ(p.changes.count(path), 1u) << path;
  }
  ASSERT_EQ(p.changes.count("Grid[1,2]"), 1u);
  const Got& g = p.changes.at("Grid[1,2]");
  EXPECT_EQ(g.status, static_cast<std::uint32_t>(QXSymCoreGood));
  EXPECT_FALSE(g.has_previous);
  EXPECT_EQ(g.value.i, 7);
  EXPECT_EQ(p.changes.at("Temps[3]").value.f, 185.25);
  EXPECT_EQ(p.changes.at("Line.Main.Speed").value.f, 1499.0);
  EXPECT_EQ(p.changes.at("Pallet[1,2]").value.boolean, 1u);
  EXPECT_EQ(p.changes.at("Pallet[1,3]").value.boolean, 0u);
  // Nothing moves: the next poll tells nothing but the cycle.
  EXPECT_EQ(Poll(sub).change_count, 0u);
  EXPECT_EQ(QXSymCore_Unsubscribe(sub), symResOk);
}

TEST_P(CoreSubscriptionTest, EachTickIsOneExchangeAndStampsIncrease) {
  const QXSymCoreHandle sub =
      Subscribe({"Line", "Temps", "CntInt", "Grid", "Operator", "Temps[2]"}, Every(20));
  Poll(sub);  // describes and makes the group
  std::uint64_t before = 0, after = 0;
  ASSERT_EQ(QXSymCore_Exchanges(session_, &before), symResOk);
  std::int64_t last = 0;
  for (int k = 0; k < 5; ++k) {
    const std::int64_t low = WallMicros();
    const Polled p = Poll(sub);
    ASSERT_EQ(p.cycles.size(), 1u);
    const Got& c = p.cycles[0];
    EXPECT_GT(c.timestamp_us, last);
    EXPECT_GE(c.timestamp_us, low);
    EXPECT_LE(c.timestamp_us, WallMicros());
    EXPECT_EQ(c.status, static_cast<std::uint32_t>(QXSymCoreGood));
    last = c.timestamp_us;
  }
  ASSERT_EQ(QXSymCore_Exchanges(session_, &after), symResOk);
  EXPECT_EQ(after - before, 5u);
}

TEST_P(CoreSubscriptionTest, DeadbandsHoldBackSmallMovesFromTheLastValueTold) {
  ASSERT_EQ(Write(Writer(), "CntInt", {SignedValue(100)}), symResOk);
  const char* paths[] = {"CntInt", "Temps[2]", "Operator"};
  const double deadbands[] = {5, 0.5, 100};
  QXSymCoreSubscribeOptions o = Every(20, 1000);  // replaced by the per-path ones
  o.deadbands = deadbands;
  QXSymCoreHandle sub = 0;
  ASSERT_EQ(QXSymCore_Subscribe(session_, paths, 3, &o, &sub), symResOk);
  EXPECT_EQ(Poll(sub).change_count, 3u);

  ASSERT_EQ(Write(Writer(), "CntInt", {SignedValue(104)}), symResOk);
  ASSERT_EQ(Write(Writer(), "Temps[2]", {FloatValue(182.4)}), symResOk);
  EXPECT_EQ(Poll(sub).change_count, 0u);

  ASSERT_EQ(Write(Writer(), "CntInt", {SignedValue(106)}), symResOk);
  ASSERT_EQ(Write(Writer(), "Temps[2]", {FloatValue(182.6)}), symResOk);
  ASSERT_EQ(Write(Writer(), "Operator", {TextValue("Millar")}), symResOk);
  const Polled p = Poll(sub);
  ASSERT_EQ(p.change_count, 3u);
  const Got& c = p.changes.at("CntInt");
  EXPECT_EQ(c.value.i, 106);
  ASSERT_TRUE(c.has_previous);
  EXPECT_EQ(c.previous.i, 100);  // not 104, which was never told
  EXPECT_NEAR(p.changes.at("Temps[2]").previous.f, 182.0, 1e-9);
  // A text is told on any change, whatever its deadband.
  EXPECT_EQ(p.changes.count("Operator"), 1u);
  EXPECT_EQ(QXSymCore_Unsubscribe(sub), symResOk);
}

TEST_P(CoreSubscriptionTest, HeartbeatRetellsWhatDoesNotMove) {
  const QXSymCoreHandle beat = Subscribe({"CntInt", "Temps[1]"}, Every(20, 0, 100));
  std::vector<std::int64_t> told;
  for (int k = 0; k < 16; ++k) {
    const Polled p = Poll(beat);
    if (p.changes.count("CntInt")) told.push_back(p.changes.at("CntInt").timestamp_us);
    EXPECT_EQ(p.changes.count("CntInt"), p.changes.count("Temps[1]"));
  }
  // 16 ticks of 20 ms: told at 0, 100, 200 and 300 ms (fewer when ticks
  // were skipped under load), never on two ticks in a row.
  ASSERT_GE(told.size(), 2u);
  EXPECT_LE(told.size(), 4u);
  for (std::size_t i = 1; i < told.size(); ++i) EXPECT_GE(told[i] - told[i - 1], 60000);
  EXPECT_EQ(QXSymCore_Unsubscribe(beat), symResOk);

  const QXSymCoreHandle quiet = Subscribe({"CntInt"}, Every(20));
  std::size_t quiet_told = 0;
  for (int k = 0; k < 8; ++k) quiet_told += Poll(quiet).change_count;
  EXPECT_EQ(quiet_told, 1u);
}

TEST_P(CoreSubscriptionTest, BadPathsAreToldOnceWhileTheOthersGoOn) {
  const QXSymCoreHandle sub =
      Subscribe({"CntInt", "NoSuchTag", "Temps[9]", "Line.Nope"}, Every(20));
  Polled p = Poll(sub);
  ASSERT_EQ(p.change_count, 4u);
  EXPECT_EQ(p.changes.at("CntInt").status, static_cast<std::uint32_t>(QXSymCoreGood));
  for (const char* bad : {"NoSuchTag", "Temps[9]", "Line.Nope"}) {
    const Got& g = p.changes.at(bad);
    EXPECT_EQ(g.status, static_cast<std::uint32_t>(QXSymCoreBad)) << bad;
    EXPECT_NE(g.result, symResOk) << bad;
    EXPECT_EQ(g.value.kind, static_cast<std::uint32_t>(QXSymCoreNone)) << bad;
  }
  // The poll itself went well.
  EXPECT_EQ(p.cycles[0].status, static_cast<std::uint32_t>(QXSymCoreGood));
  ASSERT_EQ(Write(Writer(), "CntInt", {SignedValue(7)}), symResOk);
  p = Poll(sub);
  EXPECT_EQ(p.change_count, 1u);
  EXPECT_EQ(p.changes.at("CntInt").value.i, 7);
  EXPECT_EQ(Poll(sub).change_count, 0u);
}

TEST_P(CoreSubscriptionTest, ArgumentsAndHandlesAreChecked) {
  const char* paths[] = {"CntInt", "CntInt", nullptr};
  QXSymCoreSubscribeOptions o = Every(100);
  QXSymCoreHandle sub = 0;
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 2, &o, &sub), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths + 1, 2, &o, &sub), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 0, &o, &sub), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 1, nullptr, &sub), symResInvalidParameter);
  QXSymCoreSubscribeOptions bad = Every(0);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 1, &bad, &sub), symResInvalidParameter);
  bad = Every(QXSYMCORE_MAX_INTERVAL_MS + 1u);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 1, &bad, &sub), symResInvalidParameter);
  bad = Every(100, 0, QXSYMCORE_MAX_INTERVAL_MS + 1u);
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 1, &bad, &sub), symResInvalidParameter);
  bad = Every(100, std::nan(""));
  EXPECT_EQ(QXSymCore_Subscribe(session_, paths, 1, &bad, &sub), symResInvalidParameter);
  EXPECT_EQ(sub, 0u);
  EXPECT_EQ(QXSymCore_Subscribe(session_ ^ 0x5A5A5A5Au, paths, 1, &o, &sub), symResInvalidHandle);

  ASSERT_EQ(QXSymCore_Subscribe(session_, paths, 1, &o, &sub), symResOk);
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 0;
  EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 0, nullptr, &n), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 0, &events, nullptr), symResInvalidParameter);
  // A subscription is no session, and a session no subscription.
  EXPECT_EQ(QXSymCore_Exchanges(sub, nullptr), symResInvalidParameter);
  std::uint64_t count = 0;
  EXPECT_EQ(QXSymCore_Exchanges(sub, &count), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_SubscriptionWait(session_, 0, &events, &n), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_Unsubscribe(session_), symResInvalidHandle);
  // A wait of 0 ms runs the due first poll; the next one is not due yet.
  EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 0, &events, &n), symResOk);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 0, &events, &n), symResOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(events, nullptr);
  EXPECT_EQ(QXSymCore_Unsubscribe(sub), symResOk);
  EXPECT_EQ(QXSymCore_Unsubscribe(sub), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_SubscriptionWait(sub, 0, &events, &n), symResInvalidHandle);
}

TEST_P(CoreSubscriptionTest, AnotherThreadEndingTheSubscriptionWakesTheWaiter) {
  const QXSymCoreHandle sub = Subscribe({"CntInt"}, Every(60000));
  Poll(sub);  // the next tick is a minute away
  const QXSymCoreHandle other = Subscribe({"Temps"}, Every(60000));
  std::atomic<int> stage{0};
  QXSymResult waited = symResNotOk;
  steady_clock::duration took{};
  std::thread waiter([&] {
    const QXSymCoreEvent* events = nullptr;
    std::uint32_t n = 0;
    const auto start = steady_clock::now();
    stage = 1;
    waited = QXSymCore_SubscriptionWait(sub, 30000, &events, &n);
    took = steady_clock::now() - start;
  });
  while (stage == 0) std::this_thread::yield();
  // Whether the waiter is inside its wait yet or not, it must come back
  // with the handle refused. A short pause makes "inside" the likely case.
  std::this_thread::sleep_for(milliseconds(50));
  // Meanwhile a wait on another subscription of the session takes its
  // turn: it gets none within its time and says so with no events.
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 7;
  EXPECT_EQ(QXSymCore_SubscriptionWait(other, 100, &events, &n), symResOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(QXSymCore_Unsubscribe(sub), symResOk);
  waiter.join();
  EXPECT_EQ(waited, symResInvalidHandle);
  EXPECT_LT(took, std::chrono::seconds(10));
  // The turn is free again: the other subscription polls at once.
  EXPECT_EQ(QXSymCore_SubscriptionWait(other, 5000, &events, &n), symResOk);
  EXPECT_EQ(n, 8u + 1u);

  // Closing the session ends a waiting subscription the same way.
  std::thread closer([&] {
    std::this_thread::sleep_for(milliseconds(50));
    QXSymCore_Close(session_);
  });
  EXPECT_EQ(QXSymCore_SubscriptionWait(other, 30000, &events, &n), symResInvalidHandle);
  closer.join();
  EXPECT_EQ(QXSymCore_Unsubscribe(other), symResInvalidHandle);
}

QXSYM_CORE_BOTH_SOURCES(CoreSubscriptionTest);

// Against the simulator program alone: a controller that stops answering,
// and one that answers slowly.
class CoreSubscriptionSimTest : public CoreSubscriptionTest {};

TEST_P(CoreSubscriptionSimTest, AStoppedControllerIsToldStaleOnceThenGoodAgain) {
  QXSymCoreHandle s = 0;
  QXSymServerAddress a = source_.address(300);
  ASSERT_EQ(QXSymCore_Open(&a, 300, QXSymCoreLatin1, 1, &s), symResOk);
  opened_.push_back(s);
  const QXSymCoreHandle sub = Subscribe({"CntInt", "Temps"}, Every(50), s);
  ASSERT_EQ(Poll(sub).change_count, 9u);
  const pid_t pid = source_.simulator().pid();
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{pid};
  Polled p = Poll(sub);
  ASSERT_EQ(p.change_count, 9u);
  const Got& c = p.changes.at("CntInt");
  EXPECT_EQ(c.status, static_cast<std::uint32_t>(QXSymCoreStale));
  // No reply in time; the link may call it a time-out or a failed receive.
  EXPECT_TRUE(c.result == symResTimeoutError || c.result == symResSocketError) << c.result;
  EXPECT_EQ(c.value.i, -12345);  // the value last told
  EXPECT_EQ(p.cycles[0].status, static_cast<std::uint32_t>(QXSymCoreStale));
  EXPECT_EQ(Poll(sub).change_count, 0u);  // told once
  EXPECT_EQ(Poll(sub).change_count, 0u);
  ASSERT_EQ(kill(pid, SIGCONT), 0);
  std::size_t good = 0;
  for (int k = 0; k < 40 && good == 0; ++k) {
    p = Poll(sub);
    good = p.change_count;
    if (good != 0) {
      EXPECT_EQ(good, 9u);
      EXPECT_EQ(p.changes.at("CntInt").status, static_cast<std::uint32_t>(QXSymCoreGood));
      EXPECT_EQ(p.changes.at("Temps[8]").value.f, 170.0);
    }
  }
  EXPECT_EQ(good, 9u);
}

class CoreSubscriptionSlowTest : public CoreSubscriptionTest {
 protected:
  std::vector<std::string> SimArgs() const override { return {"--scan", "0", "--delay", "120"}; }
};

TEST_P(CoreSubscriptionSlowTest, PollsLongerThanTheIntervalAreOverruns) {
  const QXSymCoreHandle sub = Subscribe({"CntInt", "Temps"}, Every(50));
  Poll(sub);
  for (int k = 0; k < 3; ++k) {
    const Polled p = Poll(sub);
    EXPECT_GE(p.cycles[0].duration_us, 100000u);
    ASSERT_EQ(p.overruns.size(), 1u);
    // A poll of some 120 ms at 50 ms runs over two ticks at least, and
    // is late by their distance from its end.
    EXPECT_GE(p.overruns[0].missed, 2u);
    EXPECT_GT(p.overruns[0].late_us, 0u);
    EXPECT_LT(p.overruns[0].late_us, p.cycles[0].duration_us + 50000u);
  }
}

class CoreSubscriptionBoundTest : public CoreSubscriptionTest {
 protected:
  std::string Model() const override {
    const std::string path =
        ::testing::TempDir() + "qxsym_sub_bound_" + std::to_string(getpid()) + ".json";
    std::ofstream out(path);
    out << R"({"name": "Wide", "tags": [)"
        << R"({"name": "A", "type": "ARRAY[1..4000] OF INT"},)"
        << R"({"name": "B", "type": "ARRAY[1..4000] OF INT"},)"
        << R"({"name": "C", "type": "ARRAY[1..4000] OF INT"}]})";
    return path;
  }
};

TEST_P(CoreSubscriptionBoundTest, MoreMembersThanAGroupCarriesAreRefused) {
  const char* two[] = {"A", "B"};
  const char* three[] = {"A", "B", "C"};
  const QXSymCoreSubscribeOptions o = Every(100);
  QXSymCoreHandle sub = 0;
  EXPECT_EQ(QXSymCore_Subscribe(session_, three, 3, &o, &sub), symResMaxReached);
  EXPECT_EQ(sub, 0u);
  ASSERT_EQ(QXSymCore_Subscribe(session_, two, 2, &o, &sub), symResOk);
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 0;
  ASSERT_EQ(QXSymCore_SubscriptionWait(sub, 10000, &events, &n), symResOk);
  // The values, the cycle, and an overrun when the first poll took long.
  ASSERT_GE(n, 8000u + 1u);
  EXPECT_LE(n, 8000u + 2u);
  EXPECT_STREQ(events[3999].path, "A[4000]");
  EXPECT_EQ(events[7999].value.i, 0);
  EXPECT_EQ(events[8000].kind, static_cast<std::uint32_t>(QXSymCoreEventCycle));
}

INSTANTIATE_TEST_SUITE_P(Simulator, CoreSubscriptionSimTest,
                         ::testing::Values(SourceKind::kSimulator));
INSTANTIATE_TEST_SUITE_P(Simulator, CoreSubscriptionSlowTest,
                         ::testing::Values(SourceKind::kSimulator));
QXSYM_CORE_BOTH_SOURCES(CoreSubscriptionBoundTest);

}  // namespace
}  // namespace qxsym::test
