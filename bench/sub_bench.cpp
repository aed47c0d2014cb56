// qxsym-bench-sub: a subscription of 1,000 DINT tags at 100 ms against
// qxsym-sim on loopback (frozen values). Rows:
//   request frames and session exchanges per tick
//   CPU of the waiting thread per tick (getrusage), and the poll's duration
//   the same CPU for QXSymCore_Read of the same paths, once per tick
//   latency of a change: from the start of a write by a second session
//   (at a random moment) to the wait that tells it
//   recovery with reconnect on: from killing the simulator to the values
//   told stale, and from its restart on the same port to the values good
// Prints one line per row; --json writes them as a JSON array.
#include <QXSymCore.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchModels.h"
#include "SendCounter.h"
#include "SimLauncher.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kTags = 1000;
constexpr std::uint32_t kIntervalMs = 100;
constexpr int kTicks = 50;

struct Row {
  std::string name;
  double value = 0;
  std::string unit;
};

double ThreadCpuUs() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

struct Paths {
  std::vector<std::string> names;
  std::vector<const char*> c;
  Paths() {
    for (std::size_t i = 0; i < kTags; ++i) names.push_back(qxsym::bench::DintTagName(i));
    for (const std::string& n : names) c.push_back(n.c_str());
  }
};

// Polls kTicks ticks; adds the rows of exchanges, CPU and poll duration.
bool Steady(QXSymCoreHandle s, const Paths& p, std::vector<Row>* rows) {
  QXSymCoreSubscribeOptions o{};
  o.interval_ms = kIntervalMs;
  QXSymCoreHandle sub = 0;
  if (QXSymCore_Subscribe(s, p.c.data(), kTags, &o, &sub) != symResOk) return false;
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 0;
  if (QXSymCore_SubscriptionWait(sub, 10000, &events, &n) != symResOk) return false;
  std::uint64_t ex0 = 0, ex1 = 0;
  QXSymCore_Exchanges(s, &ex0);
  const auto frames0 = qxsym::bench::CurrentSocketStats();
  const double cpu0 = ThreadCpuUs();
  double poll_us = 0;
  int polls = 0;
  while (polls < kTicks) {
    if (QXSymCore_SubscriptionWait(sub, 10000, &events, &n) != symResOk) return false;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (events[i].kind == QXSymCoreEventCycle) {
        poll_us += static_cast<double>(events[i].duration_us);
        ++polls;
      }
    }
  }
  const double cpu = ThreadCpuUs() - cpu0;
  const auto frames = qxsym::bench::CurrentSocketStats() - frames0;
  QXSymCore_Exchanges(s, &ex1);
  QXSymCore_Unsubscribe(sub);
  rows->push_back(
      {"request frames per tick", static_cast<double>(frames.request_frames) / polls, ""});
  rows->push_back({"session exchanges per tick", static_cast<double>(ex1 - ex0) / polls, ""});
  rows->push_back({"CPU per tick (waiting thread)", cpu / polls, "us"});
  rows->push_back({"poll duration", poll_us / polls, "us"});
  return true;
}

// The same paths read by QXSymCore_Read once per tick, for comparison.
bool PlainReads(QXSymCoreHandle s, const Paths& p, std::vector<Row>* rows) {
  const QXSymCoreReadItem* items = nullptr;
  if (QXSymCore_Read(s, p.c.data(), kTags, &items) != symResOk) return false;
  const double cpu0 = ThreadCpuUs();
  for (int k = 0; k < kTicks; ++k) {
    if (QXSymCore_Read(s, p.c.data(), kTags, &items) != symResOk) return false;
  }
  rows->push_back(
      {"CPU per QXSymCore_Read of the same paths", (ThreadCpuUs() - cpu0) / kTicks, "us"});
  return true;
}

// A second session writes one tag at random moments; the waiter times the
// wait that tells it.
bool Latency(const QXSymServerAddress& a, QXSymCoreHandle s, const Paths& p,
             std::vector<Row>* rows) {
  QXSymCoreHandle w = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &w) != symResOk) return false;
  QXSymCoreSubscribeOptions o{};
  o.interval_ms = kIntervalMs;
  QXSymCoreHandle sub = 0;
  if (QXSymCore_Subscribe(s, p.c.data(), kTags, &o, &sub) != symResOk) return false;
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 0;
  QXSymCore_SubscriptionWait(sub, 10000, &events, &n);
  std::vector<double> latencies;
  std::mt19937 random(7);
  for (int k = 0; k < 20; ++k) {
    std::atomic<bool> written{false};
    Clock::time_point at;
    const std::string path = p.names[(k * 37) % kTags];
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (kIntervalMs * 1000)));
      QXSymCoreValue v{};
      v.kind = QXSymCoreSigned;
      v.i = 1000000 + k;
      QXSymCoreWriteItem item{path.c_str(), &v, 1};
      // Timed from the write's start: its reply may come after the poll
      // that tells it.
      at = Clock::now();
      written = true;
      QXSymCore_Write(w, &item, 1, nullptr);
    });
    bool told = false;
    for (int polls = 0; !told && polls < 50; ++polls) {
      if (QXSymCore_SubscriptionWait(sub, 10000, &events, &n) != symResOk) break;
      const Clock::time_point now = Clock::now();
      for (std::uint32_t i = 0; i < n && !told; ++i) {
        if (events[i].kind == QXSymCoreEventChange && path == events[i].path && written) {
          latencies.push_back(std::chrono::duration<double, std::micro>(now - at).count());
          told = true;
        }
      }
    }
    writer.join();
  }
  QXSymCore_Unsubscribe(sub);
  QXSymCore_Close(w);
  if (latencies.empty()) return false;
  std::sort(latencies.begin(), latencies.end());
  double sum = 0;
  for (double l : latencies) sum += l;
  rows->push_back({"change latency, mean", sum / latencies.size(), "us"});
  rows->push_back({"change latency, max", latencies.back(), "us"});
  return true;
}

// Waits until an event of the subscription satisfies pred; the time it took
// in ms, or -1 after 30 s.
template <typename Pred>
double MsUntil(QXSymCoreHandle sub, Pred pred) {
  const Clock::time_point t0 = Clock::now();
  const QXSymCoreEvent* events = nullptr;
  std::uint32_t n = 0;
  while (Clock::now() - t0 < std::chrono::seconds(30)) {
    if (QXSymCore_SubscriptionWait(sub, 100, &events, &n) != symResOk) return -1;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (pred(events[i])) {
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      }
    }
  }
  return -1;
}

// Kills the simulator under a reconnecting subscription and starts it
// again on its port: how long until the values are stale, and how long
// from the restart until they are good again.
bool Recovery(qxsym::test::SimLauncher* sim, const std::string& model, const Paths& p,
              std::vector<Row>* rows) {
  constexpr std::uint16_t kTimeoutMs = 500;
  constexpr std::uint32_t kFirstMs = 200, kMaxMs = 1000;
  const QXSymServerAddress a = sim->Address(kTimeoutMs);
  QXSymCoreHandle s = 0, sub = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return false;
  QXSymCoreSubscribeOptions o{};
  o.interval_ms = kIntervalMs;
  const bool made = QXSymCore_SetReconnect(s, kFirstMs, kMaxMs) == symResOk &&
                    QXSymCore_Subscribe(s, p.c.data(), kTags, &o, &sub) == symResOk;
  const auto good = [](const QXSymCoreEvent& e) {
    return e.kind == QXSymCoreEventChange && e.status == QXSymCoreGood;
  };
  const auto stale = [](const QXSymCoreEvent& e) {
    return e.kind == QXSymCoreEventChange && e.status == QXSymCoreStale;
  };
  bool ok = made && MsUntil(sub, good) >= 0;
  const std::uint16_t port = sim->port();
  if (ok) sim->Kill();
  const double to_stale = ok ? MsUntil(sub, stale) : -1;
  std::string error;
  bool started = false;
  for (int k = 0; ok && k < 200 && !started; ++k) {
    started = sim->Start({"--model", model, "--scan", "0", "--port", std::to_string(port)}, &error);
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  const double to_good = started ? MsUntil(sub, good) : -1;
  QXSymCore_Close(s);
  if (to_stale < 0 || to_good < 0) return false;
  rows->push_back({"stale after the kill (time-out 500 ms)", to_stale, "ms"});
  rows->push_back({"good after the restart (back-off 200..1000 ms)", to_good, "ms"});
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  std::string error;
  const std::string model = qxsym::bench::DintModel(kTags, &error);
  qxsym::test::SimLauncher sim(qxsym::bench::SimBinary());
  if (model.empty() || !sim.Start({"--model", model, "--scan", "0"}, &error)) {
    std::fprintf(stderr, "qxsym-bench-sub: %s\n", error.c_str());
    return 1;
  }
  const QXSymServerAddress a = sim.Address(5000);
  QXSymCoreHandle s = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return 1;
  const Paths paths;
  std::vector<Row> rows;
  if (!Steady(s, paths, &rows) || !PlainReads(s, paths, &rows) || !Latency(a, s, paths, &rows)) {
    std::fprintf(stderr, "qxsym-bench-sub: a poll failed\n");
    return 1;
  }
  QXSymCore_Close(s);
  if (!Recovery(&sim, model, paths, &rows)) {
    std::fprintf(stderr, "qxsym-bench-sub: the subscription did not recover\n");
    return 1;
  }
  if (json) std::printf("[\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    if (json) {
      std::printf("  {\"row\": \"%s\", \"value\": %.1f, \"unit\": \"%s\"}%s\n", r.name.c_str(),
                  r.value, r.unit.c_str(), i + 1 < rows.size() ? "," : "");
    } else {
      std::printf("%-45s %12.1f %s\n", r.name.c_str(), r.value, r.unit.c_str());
    }
  }
  if (json) std::printf("]\n");
  return 0;
}
