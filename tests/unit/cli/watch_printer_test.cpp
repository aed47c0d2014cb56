// What qxsym watch prints for a change, without a controller: the time's
// form, each renderer's line for good, stale and bad values, CSV quoting.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "WatchPrinter.h"

namespace {

using qxsym::client::Event;
using qxsym::client::EventKind;
using qxsym::client::LeafValue;
using qxsym::client::ValueKind;
using qxsym::client::ValueStatus;
using namespace qxsym::cli;

LeafValue Float(double f) {
  LeafValue v;
  v.kind = ValueKind::kFloat;
  v.f = f;
  return v;
}

Event Change(ValueStatus status, QXSymResult result, bool previous) {
  Event e;
  e.path = "Line.Main.Speed";
  e.timestamp_us = 1796828523123456;  // 2026-12-09T15:02:03.123456Z
  e.status = status;
  e.result = result;
  if (status != ValueStatus::kBad) e.value = Float(12.5);
  if (previous) {
    e.previous = Float(12.25);
    e.has_previous = true;
  }
  return e;
}

std::string Printed(WatchFormat format, const Event& e) {
  std::ostringstream out;
  std::unique_ptr<WatchPrinter> printer = MakeWatchPrinter(format, out, Style{});
  printer->Change(e);
  return out.str();
}

TEST(WatchTime, IsUtcWithMicrosecondsAroundTheEpoch) {
  EXPECT_EQ(IsoTime(1796828523123456), "2026-12-09T15:02:03.123456Z");
  EXPECT_EQ(IsoTime(0), "1970-01-01T00:00:00.000000Z");
  EXPECT_EQ(IsoTime(7), "1970-01-01T00:00:00.000007Z");
  // Before the epoch the second rounds down and the fraction stays positive.
  EXPECT_EQ(IsoTime(-1), "1969-12-31T23:59:59.999999Z");
}

TEST(WatchPrinters, TextLinesShowPreviousAndStatus) {
  EXPECT_EQ(Printed(WatchFormat::kText, Change(ValueStatus::kGood, symResOk, true)),
            "2026-12-09T15:02:03.123456Z  Line.Main.Speed  12.5  (was 12.25)  good\n");
  EXPECT_EQ(Printed(WatchFormat::kText, Change(ValueStatus::kStale, symResTimeoutError, false)),
            "2026-12-09T15:02:03.123456Z  Line.Main.Speed  12.5  stale symResTimeoutError\n");
  EXPECT_EQ(Printed(WatchFormat::kText, Change(ValueStatus::kBad, symResSymbolNotFound, false)),
            "2026-12-09T15:02:03.123456Z  Line.Main.Speed  -  bad symResSymbolNotFound\n");
  Event text = Change(ValueStatus::kGood, symResOk, false);
  text.path = "Name\n";
  text.value.kind = ValueKind::kText;
  text.value.text = "a\x1b[2Jb";
  EXPECT_EQ(Printed(WatchFormat::kText, text),
            "2026-12-09T15:02:03.123456Z  Name\\x0A  \"a\\x1B[2Jb\"  good\n");
}

TEST(WatchPrinters, JsonLinesCarryResultOnlyWhenNotGood) {
  using nlohmann::json;
  const json good =
      json::parse(Printed(WatchFormat::kJson, Change(ValueStatus::kGood, symResOk, true)));
  EXPECT_EQ(good, json({{"time", "2026-12-09T15:02:03.123456Z"},
                        {"path", "Line.Main.Speed"},
                        {"value", 12.5},
                        {"previous", 12.25},
                        {"status", "good"}}));
  const std::string bad =
      Printed(WatchFormat::kJson, Change(ValueStatus::kBad, symResSymbolNotFound, false));
  EXPECT_EQ(std::count(bad.begin(), bad.end(), '\n'), 1);
  EXPECT_EQ(json::parse(bad)["value"], nullptr);
  EXPECT_EQ(json::parse(bad)["previous"], nullptr);
  EXPECT_EQ(json::parse(bad)["result"], "symResSymbolNotFound");
}

TEST(WatchPrinters, CsvRowsUnderTheHeaderQuoteAsRfc4180) {
  std::ostringstream out;
  std::unique_ptr<WatchPrinter> csv = MakeWatchPrinter(WatchFormat::kCsv, out, Style{});
  csv->Begin();
  csv->Change(Change(ValueStatus::kStale, symResSocketError, false));
  EXPECT_EQ(out.str(),
            "time,path,value,previous,status\n"
            "2026-12-09T15:02:03.123456Z,Line.Main.Speed,12.5,,stale symResSocketError\n");

  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("Grid[1,2]"), "\"Grid[1,2]\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField(" edge"), "\" edge\"");
  // A line break is escaped first, so a row never spans lines.
  EXPECT_EQ(CsvField("two\nlines"), "two\\x0Alines");
}

TEST(WatchNotices, OverrunSaysHowLateAndHowManyTicks) {
  Event over;
  over.kind = EventKind::kOverrun;
  over.missed = 3;
  over.late_us = 12345;
  EXPECT_EQ(NoticeText(over),
            "polls fell behind: 3 ticks missed, the poll ended 12.3 ms after "
            "the first of them");
  Event cycle;
  cycle.kind = EventKind::kCycle;
  EXPECT_EQ(NoticeText(cycle), "");
}

}  // namespace
