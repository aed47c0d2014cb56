// The rules of polling subscriptions that need no controller: when a tick
// is due and what a late poll skips, and when a leaf value is told.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "LeafTracker.h"
#include "TickSchedule.h"

namespace qxsym::client {
namespace {

using std::chrono::milliseconds;
using Clock = TickSchedule::Clock;

TEST(TickSchedule, TicksStayOnTheGridWhateverThePollsTake) {
  TickSchedule s(milliseconds(100));
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  EXPECT_TRUE(s.Due(t0));  // before the first poll
  TickSchedule::Begun b = s.Begin(t0);
  EXPECT_EQ(s.Finish(b, t0 + milliseconds(30)).ticks, 0u);
  EXPECT_EQ(s.next(), t0 + milliseconds(100));
  EXPECT_FALSE(s.Due(t0 + milliseconds(99)));
  // Polled a little late: the next tick is still t0 + 200, not 100 after.
  b = s.Begin(t0 + milliseconds(117));
  EXPECT_EQ(b.skipped, 0u);
  EXPECT_EQ(s.Finish(b, t0 + milliseconds(160)).ticks, 0u);
  EXPECT_EQ(s.next(), t0 + milliseconds(200));
  // A poll that ends exactly on the next tick missed nothing; that tick is due.
  b = s.Begin(t0 + milliseconds(200));
  EXPECT_EQ(s.Finish(b, t0 + milliseconds(300)).ticks, 0u);
  EXPECT_TRUE(s.Due(t0 + milliseconds(300)));
}

TEST(TickSchedule, MissedTicksAreCountedAndSkippedNotQueued) {
  TickSchedule s(milliseconds(100));
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  s.Finish(s.Begin(t0), t0 + milliseconds(10));
  // A poll at 100 that runs to 350 runs over the ticks 200 and 300.
  TickSchedule::Begun b = s.Begin(t0 + milliseconds(100));
  TickSchedule::Missed m = s.Finish(b, t0 + milliseconds(350));
  EXPECT_EQ(m.ticks, 2u);
  EXPECT_EQ(m.late, milliseconds(150));
  EXPECT_EQ(s.next(), t0 + milliseconds(400));
  // A caller who comes back at 730 gets one poll for the tick 700; 400 to
  // 600 are skipped and counted from the first of them.
  b = s.Begin(t0 + milliseconds(730));
  EXPECT_EQ(b.skipped, 3u);
  EXPECT_EQ(b.tick, t0 + milliseconds(700));
  m = s.Finish(b, t0 + milliseconds(740));
  EXPECT_EQ(m.ticks, 3u);
  EXPECT_EQ(m.late, milliseconds(340));
  EXPECT_EQ(s.next(), t0 + milliseconds(800));
}

LeafValue Signed(std::int64_t i) {
  LeafValue v;
  v.kind = ValueKind::kSigned;
  v.i = i;
  return v;
}

LeafValue Unsigned(std::uint64_t u) {
  LeafValue v;
  v.kind = ValueKind::kUnsigned;
  v.u = u;
  return v;
}

LeafValue Float(double f) {
  LeafValue v;
  v.kind = ValueKind::kFloat;
  v.f = f;
  return v;
}

TEST(LeafMoved, DeadbandIsExclusiveAndExactOverTheWholeIntegerRange) {
  EXPECT_FALSE(Moved(Signed(10), Signed(15), 5));
  EXPECT_TRUE(Moved(Signed(10), Signed(16), 5));
  EXPECT_TRUE(Moved(Signed(10), Signed(4), 5));
  // The distance of the extremes does not overflow (and wrap to small).
  const std::int64_t lo = std::numeric_limits<std::int64_t>::min();
  const std::int64_t hi = std::numeric_limits<std::int64_t>::max();
  EXPECT_TRUE(Moved(Signed(lo), Signed(hi), 1e18));
  EXPECT_TRUE(Moved(Unsigned(0), Unsigned(~0ull), 1e18));
  EXPECT_FALSE(Moved(Unsigned(~0ull), Unsigned(~0ull - 3), 5));
  // No deadband: any step, the smallest of 64-bit values included.
  EXPECT_TRUE(Moved(Signed(hi - 1), Signed(hi), 0));
  EXPECT_TRUE(Moved(Unsigned(~0ull - 1), Unsigned(~0ull), -1));
  EXPECT_FALSE(Moved(Signed(7), Signed(7), 0));
}

TEST(LeafMoved, FloatsNaNsAndKinds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(Moved(Float(1.0), Float(1.4), 0.5));
  EXPECT_TRUE(Moved(Float(1.0), Float(1.6), 0.5));
  EXPECT_TRUE(Moved(Float(1.0), Float(nan), 0.5));
  EXPECT_FALSE(Moved(Float(nan), Float(nan), 0.5));
  EXPECT_FALSE(Moved(Float(inf), Float(inf), 0.5));
  EXPECT_TRUE(Moved(Float(inf), Float(-inf), 0.5));
  // Without a deadband the stored value counts: -0 differs from 0.
  EXPECT_TRUE(Moved(Float(0.0), Float(-0.0), 0));
  EXPECT_FALSE(Moved(Float(nan), Float(nan), 0));
  // Texts and bytes ignore the deadband; a change of kind is a change.
  LeafValue a, b;
  a.kind = b.kind = ValueKind::kText;
  a.text = "ab";
  b.text = "ac";
  EXPECT_TRUE(Moved(a, b, 1e9));
  EXPECT_TRUE(Moved(Signed(1), Unsigned(1), 1e9));
}

TEST(LeafTracker, ToldAgainstTheLastValueToldNotTheLastRead) {
  LeafTracker t("CntInt", 5);
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  std::vector<Event> out;
  t.Good(Signed(0), t0, {}, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].has_previous);
  EXPECT_EQ(out[0].path, "CntInt");
  // Creeping by 3 per poll: each step is below the deadband, but the third
  // read is 9 from the value told.
  t.Good(Signed(3), t0, {}, &out);
  t.Good(Signed(6), t0, {}, &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].value.i, 6);
  EXPECT_TRUE(out[1].has_previous);
  EXPECT_EQ(out[1].previous.i, 0);
}

TEST(LeafTracker, HeartbeatRetellsAnUnchangedValue) {
  LeafTracker t("Temps[1]", 0);
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  std::vector<Event> out;
  for (int k = 0; k <= 10; ++k)
    t.Good(Float(1.5), t0 + k * milliseconds(100), milliseconds(300), &out);
  // Told at 0, 300, 600 and 900 ms.
  ASSERT_EQ(out.size(), 4u);
  EXPECT_TRUE(out[3].has_previous);
  EXPECT_EQ(out[3].previous.f, 1.5);
}

TEST(LeafTracker, StaleAndBadAreToldOnceThenGoodAgain) {
  LeafTracker t("Line.Speed", 0);
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  std::vector<Event> out;
  t.Good(Float(2.0), t0, {}, &out);
  t.Stale(symResTimeoutError, &out);
  t.Stale(symResTimeoutError, &out);
  t.Stale(symResConnectionLost, &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].status, ValueStatus::kStale);
  EXPECT_EQ(out[1].value.f, 2.0);  // the value last told
  // Back with the same value: told good once, though it did not move.
  t.Good(Float(2.0), t0, {}, &out);
  t.Good(Float(2.0), t0, {}, &out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].status, ValueStatus::kGood);
  t.Bad(symResSymbolNotFound, &out);
  t.Bad(symResSymbolNotFound, &out);
  t.Bad(symResInvalidTagSize, &out);  // another reason is told
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[3].result, symResSymbolNotFound);
  EXPECT_EQ(out[4].result, symResInvalidTagSize);
  // Stale from the first poll: told once, with no value.
  LeafTracker never("Line.Name", 0);
  out.clear();
  never.Stale(symResTimeoutError, &out);
  never.Stale(symResTimeoutError, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].value.kind, ValueKind::kNone);
}

}  // namespace
}  // namespace qxsym::client
