// How qxsym watch prints the changes a subscription tells: aligned text
// lines, JSON lines (one object per change) or CSV rows under a header.
// Each change is written whole and flushed, so output that is cut off by
// a signal or a lost controller never ends inside a line.
#pragma once

#include <SubscriptionEvent.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "Output.h"

namespace qxsym::cli {

enum class WatchFormat { kText, kJson, kCsv };

class WatchPrinter {
 public:
  explicit WatchPrinter(std::ostream& out) : out_(out) {}
  virtual ~WatchPrinter() = default;
  WatchPrinter(const WatchPrinter&) = delete;
  WatchPrinter& operator=(const WatchPrinter&) = delete;

  // Before the first change (the CSV header).
  virtual void Begin() {}
  // One event of kind kChange.
  virtual void Change(const client::Event& change) = 0;

 protected:
  std::ostream& out_;
};

// style colours the text lines only.
std::unique_ptr<WatchPrinter> MakeWatchPrinter(WatchFormat format, std::ostream& out,
                                               const Style& style);

// Microseconds since the Unix epoch as UTC, ISO 8601 with six decimals and
// `Z`: "2026-12-09T15:02:03.123456Z".
std::string IsoTime(std::int64_t us);

// "good", "stale" or "bad".
const char* StatusWord(client::ValueStatus status);

// The status of a change as text lines and CSV give it: "good", or the
// word and the result's name ("stale symResTimeoutError").
std::string StatusText(const client::Event& change);

// A CSV field: control characters escaped as everywhere else, quoted
// (quotes doubled) when it holds a separator, a quote, a line break or
// spaces at either end.
std::string CsvField(const std::string& raw);

// The line standard error shows for an event that is not a change (an
// overrun; a connection lost or back; the controller's program changed);
// empty for the others (a completed poll).
std::string NoticeText(const client::Event& event);

}  // namespace qxsym::cli
