#include "WatchPrinter.h"

#include <ResultInfo.h>

#include <cstdio>
#include <ctime>

#include "LeafJson.h"

namespace qxsym::cli {
namespace {

using client::Event;
using client::ValueKind;
using client::ValueStatus;

class TextPrinter : public WatchPrinter {
 public:
  TextPrinter(std::ostream& out, const Style& style) : WatchPrinter(out), style_(style) {}

  void Change(const Event& e) override {
    // A value told bad has none to show.
    const std::string value = e.value.kind == ValueKind::kNone ? "-" : LeafDisplay(e.value);
    out_ << style_.Dim(IsoTime(e.timestamp_us)) << "  " << Escaped(e.path) << "  "
         << style_.Cyan(Escaped(value));
    if (e.has_previous) out_ << "  (was " << Escaped(LeafDisplay(e.previous)) << ")";
    out_ << "  " << Painted(e) << std::endl;
  }

 private:
  std::string Painted(const Event& e) const {
    const std::string text = StatusText(e);
    switch (e.status) {
      case ValueStatus::kGood:
        return style_.Green(text);
      case ValueStatus::kStale:
        return style_.Yellow(text);
      default:
        return style_.Red(text);
    }
  }

  Style style_;
};

class JsonLinesPrinter : public WatchPrinter {
 public:
  using WatchPrinter::WatchPrinter;

  void Change(const Event& e) override {
    Json line = {{"time", IsoTime(e.timestamp_us)},
                 {"path", e.path},
                 {"value", e.value.kind == ValueKind::kNone ? Json() : LeafJson(e.value)},
                 {"previous", e.has_previous ? LeafJson(e.previous) : Json()},
                 {"status", StatusWord(e.status)}};
    if (e.status != ValueStatus::kGood) line["result"] = client::InfoOf(e.result).name;
    out_ << CompactJson(line) << std::endl;
  }
};

class CsvPrinter : public WatchPrinter {
 public:
  using WatchPrinter::WatchPrinter;

  void Begin() override { out_ << "time,path,value,previous,status" << std::endl; }
  void Change(const Event& e) override {
    const std::string value =
        e.value.kind == ValueKind::kNone ? std::string() : client::FormatLeafText(e.value);
    const std::string previous =
        e.has_previous ? client::FormatLeafText(e.previous) : std::string();
    out_ << IsoTime(e.timestamp_us) << ',' << CsvField(e.path) << ',' << CsvField(value) << ','
         << CsvField(previous) << ',' << StatusText(e) << std::endl;
  }
};

std::string Millis(std::uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000.0);
  return text;
}

}  // namespace

std::unique_ptr<WatchPrinter> MakeWatchPrinter(WatchFormat format, std::ostream& out,
                                               const Style& style) {
  switch (format) {
    case WatchFormat::kJson:
      return std::make_unique<JsonLinesPrinter>(out);
    case WatchFormat::kCsv:
      return std::make_unique<CsvPrinter>(out);
    default:
      return std::make_unique<TextPrinter>(out, style);
  }
}

std::string IsoTime(std::int64_t us) {
  // Whole seconds rounded down, so that times before 1970 keep a positive
  // fraction.
  std::int64_t secs = us / 1000000;
  std::int64_t frac = us % 1000000;
  if (frac < 0) {
    frac += 1000000;
    --secs;
  }
  const std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  char text[48];
  std::snprintf(text, sizeof text, "%s.%06lldZ", date, static_cast<long long>(frac));
  return text;
}

const char* StatusWord(ValueStatus status) {
  switch (status) {
    case ValueStatus::kGood:
      return "good";
    case ValueStatus::kStale:
      return "stale";
    default:
      return "bad";
  }
}

std::string StatusText(const Event& change) {
  if (change.status == ValueStatus::kGood) return StatusWord(change.status);
  return std::string(StatusWord(change.status)) + " " + client::InfoOf(change.result).name;
}

std::string CsvField(const std::string& raw) {
  const std::string text = Escaped(raw);
  if (text.find_first_of(",\"\r\n") == std::string::npos &&
      (text.empty() || (text.front() != ' ' && text.back() != ' '))) {
    return text;
  }
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string NoticeText(const Event& event) {
  switch (event.kind) {
    case client::EventKind::kOverrun:
      return "polls fell behind: " + std::to_string(event.missed) +
             (event.missed == 1 ? " tick" : " ticks") + " missed, the poll ended " +
             Millis(event.late_us) + " after the first of them";
    case client::EventKind::kConnectionLost:
      return std::string("the connection to the controller is lost: ") +
             client::InfoOf(event.result).name;
    case client::EventKind::kConnectionBack:
      return "the connection to the controller is back";
    case client::EventKind::kOnlineChange:
      return "the controller's program changed; the tags are looked up again";
    default:
      return {};
  }
}

}  // namespace qxsym::cli
