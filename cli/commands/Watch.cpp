// qxsym watch: the tags as one subscription of the client core, polled
// once per interval in one group exchange, each leaf value printed when it
// changes (by more than the deadband), once per heartbeat, and when it goes
// stale or bad: text lines, JSON lines or CSV rows.
#include <ResultInfo.h>
#include <Subscription.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "Commands.h"
#include "WatchPrinter.h"

namespace qxsym::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct WatchOptions {
  std::vector<std::string> tags;
  std::uint32_t interval_ms = 1000;
  std::uint64_t count = 0;
  double deadband = 0;
  std::uint32_t heartbeat_ms = 0;
  bool reconnect = false;
  bool csv = false;
};

// SIGINT and SIGTERM blocked while it lives (in every thread started
// meanwhile) and taken synchronously with sigtimedwait between polls: a poll under way runs to its
// end, and the output is never cut inside a line. Signals still pending at the end are taken, so
// restoring the mask does not kill the program on the way out.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
  }
  ~StopSignals() {
    while (Take(Clock::now())) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits until `until` for a stop signal; true when one came.
  bool Take(Clock::time_point until) {
    for (;;) {
      const auto left = std::max(Clock::duration::zero(), until - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      if (sigtimedwait(&set_, nullptr, &wait) > 0) return true;
      if (errno != EINTR) return false;
    }
  }

 private:
  sigset_t set_{};
  sigset_t old_{};
};

// With --reconnect the session reopens a lost connection by itself (first
// attempt after kReconnectFirstMs, then doubling up to the core's cap), so
// the watch goes on through stale values instead of ending. True then.
constexpr std::uint32_t kReconnectFirstMs = 500;

bool ApplyReconnect(client::Session& session, const WatchOptions& o) {
  if (!o.reconnect) return false;
  const QXSymResult rc = session.SetReconnect(kReconnectFirstMs, 0);
  if (rc != symResOk) throw CliError(rc, "cannot turn reconnecting on");
  return true;
}

std::unique_ptr<client::Subscription> Subscribe(const Context& ctx, client::Session& session,
                                                const WatchOptions& o) {
  for (const std::string& tag : o.tags) CheckSentText(ctx, tag, "tag name");
  client::SubscribeOptions options;
  options.interval = std::chrono::milliseconds(o.interval_ms);
  options.deadband = o.deadband;
  options.heartbeat = std::chrono::milliseconds(o.heartbeat_ms);
  QXSymResult rc = symResOk;
  std::string message;
  std::unique_ptr<client::Subscription> sub =
      client::Subscription::Make(session, o.tags, std::move(options), &rc, &message);
  if (!sub) throw CliError(rc, message.empty() ? "cannot watch the tags" : message);
  return sub;
}

// Prints the events of one poll; the exchange's result (from the poll's
// cycle event).
QXSymResult Report(const Context& ctx, WatchPrinter& printer,
                   const std::vector<client::Event>& events) {
  QXSymResult exchange = symResOk;
  for (const client::Event& e : events) {
    if (e.kind == client::EventKind::kChange) {
      printer.Change(e);
    } else if (e.kind == client::EventKind::kCycle) {
      exchange = e.result;
    } else {
      const std::string notice = NoticeText(e);
      if (!notice.empty()) std::cerr << ctx.err_style.Yellow("qxsym: " + notice) << std::endl;
    }
  }
  return exchange;
}

// A connection the controller closed or that broke, which the session
// cannot go on with: the link failed before a whole reply time-out passed
// (a silent controller fails a request only after one, and may answer
// again on the same connection).
bool ConnectionGone(const Context& ctx, QXSymResult r, Clock::duration took) {
  if (r == symResConnectionLost) return true;
  if (r != symResSocketError) return false;
  const std::uint32_t timeout_ms =
      ctx.endpoint.timeout_ms != 0 ? ctx.endpoint.timeout_ms : client::kDefaultTimeoutMs;
  return took < std::chrono::milliseconds(timeout_ms / 2);
}

int RunWatch(const Context& ctx, const WatchOptions& o) {
  // Blocked before the session starts any thread, which inherits the mask.
  StopSignals signals;
  std::unique_ptr<client::Session> session = Connect(ctx);
  const bool reconnects = ApplyReconnect(*session, o);
  // Before any output, so that a refusal is the only thing printed.
  std::unique_ptr<client::Subscription> sub = Subscribe(ctx, *session, o);
  const WatchFormat format =
      o.csv ? WatchFormat::kCsv : (ctx.json ? WatchFormat::kJson : WatchFormat::kText);
  std::unique_ptr<WatchPrinter> printer = MakeWatchPrinter(format, std::cout, ctx.out_style);
  printer->Begin();
  std::vector<client::Event> events;
  events.reserve(sub->max_events());
  std::uint64_t polls = 0;
  while (o.count == 0 || polls < o.count) {
    const Clock::time_point now = Clock::now();
    const bool due = sub->Due(now);
    if (signals.Take(due ? now : sub->next_tick())) break;
    if (!due) continue;
    const Clock::time_point began = Clock::now();
    sub->Poll(began, &events);
    const Clock::duration took = Clock::now() - began;
    ++polls;
    const QXSymResult exchange = Report(ctx, *printer, events);
    if (!reconnects && ConnectionGone(ctx, exchange, took)) {
      ReportError(ctx,
                  CliError(exchange, "the connection to " + ctx.endpoint.host + ":" +
                                         std::to_string(ctx.endpoint.port) + " is gone"),
                  false);
      return kExitRefused;
    }
  }
  std::cout << std::flush;
  return 0;
}

// A deadband: a finite number, 0 or more.
std::string FiniteDeadband(std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() && *end == '\0' && std::isfinite(v) && v >= 0) return {};
  return "the deadband takes a finite number, 0 or more, not '" + text + "'";
}

}  // namespace

Command AddWatch(CLI::App& app) {
  auto o = std::make_shared<WatchOptions>();
  Command c;
  c.app = AddSubcommand(app, "watch",
                        "poll tags once per interval as one group and print each value that "
                        "changed, with its UTC time, previous value and status; Ctrl-C stops",
                        "  qxsym watch Heartbeat CntDint\n"
                        "  qxsym watch --interval 100 --count 50 Line.Main.Speed\n"
                        "  qxsym watch --deadband 0.5 --heartbeat 10000 Temps\n"
                        "  qxsym watch --csv --interval 500 Temps > temps.csv\n"
                        "  qxsym --json watch --count 10 Temps > temps.jsonl");
  c.app->add_option("TAG", o->tags, "tag names or member paths")->required();
  c.app->add_option("--interval", o->interval_ms, "milliseconds between polls")
      ->check(CLI::Range(1u, client::Subscription::kMaxIntervalMs))
      ->capture_default_str();
  c.app->add_option("--count", o->count, "stop after this many polls (0: until Ctrl-C)")
      ->capture_default_str();
  c.app
      ->add_option("--deadband", o->deadband,
                   "print a number only when it moved by more than this from the value last "
                   "printed (0: any change)")
      ->check(CLI::Validator(FiniteDeadband, "NUMBER >= 0"));
  c.app
      ->add_option("--heartbeat", o->heartbeat_ms,
                   "print every value at least this often in ms, changed or not (0: only "
                   "changes)")
      ->check(CLI::Range(0u, client::Subscription::kMaxIntervalMs))
      ->capture_default_str();
  c.app->add_flag("--reconnect", o->reconnect,
                  "reopen a lost connection and go on watching instead of ending");
  c.app->add_flag("--csv", o->csv,
                  "CSV: a header time,path,value,previous,status, then a row per change");
  c.run = [o](const Context& ctx) { return RunWatch(ctx, *o); };
  return c;
}

}  // namespace qxsym::cli
