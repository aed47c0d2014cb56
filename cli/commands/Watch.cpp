// qxsym watch: the tags read once per interval as one group, printed as
// they change: text lines, one JSON list of events, or CSV rows.
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "TagValues.h"

namespace qxsym::cli {
namespace {

struct WatchOptions {
  std::vector<std::string> tags;
  std::uint32_t interval_ms = 1000;
  std::uint64_t count = 0;
  bool csv = false;
};

// Interruption by SIGINT or SIGTERM.
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

// The stop signals caught while it lives.
class StopSignals {
 public:
  StopSignals() {
    g_stop = false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// Sleeps until `until` or a stop signal, whichever comes first.
void SleepUntil(std::chrono::steady_clock::time_point until) {
  while (!g_stop) {
    auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    auto step = std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50));
    std::this_thread::sleep_for(step);
  }
}

std::string Timestamp(std::chrono::system_clock::time_point t, bool iso) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  char text[64];
  if (iso) {
    gmtime_r(&secs, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  } else {
    localtime_r(&secs, &tm);
    std::strftime(text, sizeof text, "%H:%M:%S", &tm);
  }
  char frac[16];
  std::snprintf(frac, sizeof frac, ".%03d%s", static_cast<int>(ms % 1000), iso ? "Z" : "");
  return std::string(text) + frac;
}

bool Same(const client::LeafValue& a, const client::LeafValue& b) {
  return a.kind == b.kind && a.b == b.b && a.i == b.i && a.u == b.u &&
         (a.f == b.f || (a.f != a.f && b.f != b.f)) && a.text == b.text && a.bytes == b.bytes;
}

// A CSV field: quoted when it holds a separator, a quote, a line break or
// edge spaces; control characters escaped as everywhere else.
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

// One read of the watched values: every value with its path, in order.
struct Sample {
  std::chrono::system_clock::time_point time;
  std::vector<std::string> paths;
  std::vector<client::LeafValue> values;
};

Sample Take(const Context& ctx, client::Session& session, const std::vector<std::string>& tags) {
  Sample s;
  std::vector<TagValues> read = ReadTags(ctx, session, tags);
  s.time = std::chrono::system_clock::now();
  for (TagValues& t : read) {
    if (!t.ok()) throw t.error();
    for (std::string& p : t.tree->ValuePaths()) s.paths.push_back(std::move(p));
    for (client::LeafValue& v : t.values) s.values.push_back(std::move(v));
  }
  return s;
}

// How changes are printed; Begin before the first sample, End after the
// last (also after a failure, so a JSON list is always closed).
class ChangePrinter {
 public:
  ChangePrinter(const Context& ctx, const WatchOptions& o) : ctx_(ctx), csv_(o.csv) {}
  void Begin() {
    if (ctx_.json && !csv_) std::cout << "[" << std::flush;
  }
  void Print(const Sample& s, const std::vector<bool>& changed, bool first);
  void End() {
    if (ctx_.json && !csv_) std::cout << (first_event_ ? "]" : "\n]") << std::endl;
  }

 private:
  const Context& ctx_;
  bool csv_;
  bool first_event_ = true;
};

void ChangePrinter::Print(const Sample& s, const std::vector<bool>& changed, bool first) {
  if (csv_) {
    if (first) {
      std::cout << "time";
      for (const std::string& p : s.paths) std::cout << ',' << CsvField(p);
      std::cout << '\n';
    }
    std::cout << Timestamp(s.time, true);
    for (const client::LeafValue& v : s.values) {
      std::cout << ',' << CsvField(client::FormatLeafText(v));
    }
    std::cout << std::endl;
    return;
  }
  Json changes = Json::object();
  for (std::size_t i = 0; i < s.values.size(); ++i) {
    if (!changed[i]) continue;
    if (ctx_.json) {
      changes[s.paths[i]] = LeafJson(s.values[i]);
      continue;
    }
    std::cout << ctx_.out_style.Dim(Timestamp(s.time, false)) << "  " << Escaped(s.paths[i])
              << " = " << ctx_.out_style.Cyan(Escaped(LeafDisplay(s.values[i]))) << '\n';
  }
  if (ctx_.json) {
    Json event = {{"time", Timestamp(s.time, true)}, {"changes", std::move(changes)}};
    std::cout << (first_event_ ? "\n" : ",\n") << CompactJson(event);
    first_event_ = false;
  }
  std::cout << std::flush;
}

int RunWatch(const Context& ctx, const WatchOptions& o) {
  std::unique_ptr<client::Session> session = Connect(ctx);
  StopSignals signals;
  // The first read fails alone, before any output.
  Sample last = Take(ctx, *session, o.tags);
  ChangePrinter printer(ctx, o);
  printer.Begin();
  printer.Print(last, std::vector<bool>(last.values.size(), true), true);
  auto next = std::chrono::steady_clock::now();
  try {
    for (std::uint64_t tick = 1; (o.count == 0 || tick < o.count) && !g_stop; ++tick) {
      next += std::chrono::milliseconds(o.interval_ms);
      SleepUntil(next);
      if (g_stop) break;
      Sample now = Take(ctx, *session, o.tags);
      std::vector<bool> changed(now.values.size());
      bool any = false;
      for (std::size_t i = 0; i < now.values.size(); ++i) {
        changed[i] = i >= last.values.size() || !Same(now.values[i], last.values[i]);
        any = any || changed[i];
      }
      if (any) printer.Print(now, changed, false);
      last = std::move(now);
    }
  } catch (const CliError& e) {
    printer.End();
    ReportError(ctx, e, false);
    return kExitRefused;
  }
  printer.End();
  return 0;
}

}  // namespace

Command AddWatch(CLI::App& app) {
  auto o = std::make_shared<WatchOptions>();
  Command c;
  c.app = AddSubcommand(app, "watch",
                        "read tags once per interval as one group and print what changed, with "
                        "a timestamp; Ctrl-C stops",
                        "  qxsym watch Heartbeat CntDint\n"
                        "  qxsym watch --interval 100 --count 50 Line.Main.Speed\n"
                        "  qxsym watch --csv --interval 500 Temps > temps.csv\n"
                        "  qxsym --json watch --count 10 Temps > temps.json");
  c.app->add_option("TAG", o->tags, "tag names or member paths")->required();
  c.app->add_option("--interval", o->interval_ms, "milliseconds between reads")
      ->check(CLI::Range(1u, 86400000u))
      ->capture_default_str();
  c.app->add_option("--count", o->count, "stop after this many reads (0: until Ctrl-C)")
      ->capture_default_str();
  c.app->add_flag("--csv", o->csv,
                  "CSV: a header of value paths, then a row of every value (UTC time first) "
                  "for each read in which one changed");
  c.run = [o](const Context& ctx) { return RunWatch(ctx, *o); };
  return c;
}

}  // namespace qxsym::cli
