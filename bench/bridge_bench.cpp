// qxsym-bench-bridge: qxsym-bridge between simulated controllers and a local
// mosquitto broker, watched by a subscriber of its own. It reports the
// latency a value gains from the controller's reply to the subscriber's
// receipt, the bridge's CPU and resident memory, and, with --outage, what a
// broker outage costs: messages lost, order, and how soon the backlog drains.
//
//   qxsym-bench-bridge [--controllers 4] [--leaves 2500] [--interval 100]
//                      [--duration 60] [--outage 30]
#include <mosquitto.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchModels.h"
#include "BridgeWatcher.h"
#include "BrokerLauncher.h"
#include "SimLauncher.h"

namespace {

using namespace qxsym;
using Clock = std::chrono::steady_clock;

struct Options {
  int controllers = 4;
  int leaves = 2500;
  int interval_ms = 100;
  int duration_s = 60;
  int outage_s = 0;
};

// Counters, sines and toggles in equal parts, all moving at every scan.
std::string WriteModel(int leaves) {
  nlohmann::json tags = nlohmann::json::array();
  for (int i = 0; i < leaves; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Tag%05d", i);
    nlohmann::json t = {{"name", name}};
    if (i % 3 == 0) {
      t["type"] = "UDINT";
      t["simulate"] = {{"kind", "counter"}, {"step", 1}};
    } else if (i % 3 == 1) {
      t["type"] = "LREAL";
      t["simulate"] = {
          {"kind", "sine"}, {"amplitude", 40.0}, {"offset", 50.0}, {"period_ms", 5000 + i}};
    } else {
      t["type"] = "BOOL";
      t["simulate"] = {{"kind", "toggle"}, {"period_ms", 200}};
    }
    tags.push_back(t);
  }
  const std::string path = bench::WorkDir() + "/bridge-bench-" + std::to_string(leaves) + ".json";
  std::ofstream(path) << nlohmann::json{{"name", "Bridge benchmark"}, {"tags", tags}}.dump();
  return path;
}

std::string WriteConfig(const std::vector<std::unique_ptr<test::SimLauncher>>& sims,
                        std::uint16_t broker_port, int interval_ms) {
  const std::string dir = bench::WorkDir();
  std::remove((dir + "/bridge-bench.db").c_str());
  std::ostringstream y;
  y << "broker: { host: 127.0.0.1, port: " << broker_port << ", client_id: bench-bridge }\n"
    << "sparkplug: { group: Bench, node: Bridge1 }\n"
    << "store: { path: " << dir << "/bridge-bench.db, max_mb: 512 }\n"
    << "controllers:\n";
  for (std::size_t i = 0; i < sims.size(); ++i) {
    y << "  - device: Ctl" << i << "\n    host: 127.0.0.1\n    port: " << sims[i]->port()
      << "\n    tags: [\"*\"]\n    interval: " << interval_ms << "ms\n";
  }
  const std::string path = dir + "/bridge-bench.yaml";
  std::ofstream(path) << y.str();
  return path;
}

pid_t StartBridge(const std::string& config, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(log.c_str(), "w", stderr);
    execl(QXSYM_BRIDGE_PATH, "qxsym-bridge", "--config", config.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// CPU seconds (user + system) and resident kB of a process.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The values the bridge says it sent as data, from its log's last lines.
std::uint64_t SentValues(const std::string& log) {
  std::ifstream in(log);
  std::string line;
  std::uint64_t total = 0;
  while (std::getline(in, line)) {
    const auto at = line.find(" values sent as data");
    if (at == std::string::npos) continue;
    const auto start = line.rfind(' ', at - 1);
    total += std::stoull(line.substr(start + 1, at - start - 1));
  }
  return total;
}

}  // namespace

namespace {

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit) {
  const auto until = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

double Percentile(std::vector<std::int64_t>* v, double q) {
  if (v->empty()) return 0;
  const std::size_t at = static_cast<std::size_t>(q * static_cast<double>(v->size() - 1));
  std::nth_element(v->begin(), v->begin() + static_cast<long>(at), v->end());
  return static_cast<double>((*v)[at]) / 1000.0;
}

// The steady run: latency, CPU and memory every ten seconds.
void Measure(pid_t bridge, bench::BridgeWatcher* watcher, const Options& o) {
  watcher->TakeLatencies();
  const double cpu0 = CpuSeconds(bridge);
  const auto t0 = Clock::now();
  std::vector<std::int64_t> all;
  std::printf("%6s %10s %9s %9s %9s %8s\n", "t (s)", "values/s", "p50 (ms)", "p99 (ms)", "max (ms)",
              "RSS (kB)");
  for (int t = 10; t <= o.duration_s; t += 10) {
    std::this_thread::sleep_until(t0 + std::chrono::seconds(t));
    std::vector<std::int64_t> l = watcher->TakeLatencies();
    const double rate = static_cast<double>(l.size()) / 10.0;
    const double p50 = Percentile(&l, 0.5), p99 = Percentile(&l, 0.99), mx = Percentile(&l, 1.0);
    std::printf("%6d %10.0f %9.2f %9.2f %9.2f %8ld\n", t, rate, p50, p99, mx, RssKb(bridge));
    all.insert(all.end(), l.begin(), l.end());
  }
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = (CpuSeconds(bridge) - cpu0) / secs * 100.0;
  std::printf(
      "whole run: %zu values, p50 %.2f ms, p99 %.2f ms, max %.2f ms; bridge CPU %.1f%% "
      "of one core\n",
      all.size(), Percentile(&all, 0.5), Percentile(&all, 0.99), Percentile(&all, 1.0), cpu);
}

// The broker away for outage_s while values keep changing.
void Outage(bench::BrokerLauncher* broker, bench::BridgeWatcher* watcher, const Options& o) {
  broker->Stop();
  std::printf("broker stopped for %d s\n", o.outage_s);
  std::this_thread::sleep_for(std::chrono::seconds(o.outage_s));
  std::string error;
  if (!broker->Start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return;
  }
  const auto back = Clock::now();
  const auto before = watcher->counts().historical;
  WaitFor([&] { return watcher->counts().historical > before; }, std::chrono::seconds(30));
  // Drained: no historical value for a second.
  WaitFor(
      [&] { return Clock::now() - watcher->counts().last_historical > std::chrono::seconds(1); },
      std::chrono::seconds(120));
  const auto c = watcher->counts();
  std::printf("broker back: %llu historical values, drained %.2f s after the broker was back\n",
              static_cast<unsigned long long>(c.historical - before),
              std::chrono::duration<double>(c.last_historical - back).count());
}

int Run(const Options& o) {
  const std::string model = WriteModel(o.leaves);
  std::vector<std::unique_ptr<test::SimLauncher>> sims;
  std::string error;
  for (int i = 0; i < o.controllers; ++i) {
    sims.push_back(std::make_unique<test::SimLauncher>(bench::SimBinary()));
    if (!sims.back()->Start({"--model", model, "--scan", std::to_string(o.interval_ms)}, &error)) {
      std::fprintf(stderr, "qxsym-sim: %s\n", error.c_str());
      return 1;
    }
  }
  bench::BrokerLauncher broker(bench::WorkDir());
  bench::BridgeWatcher watcher;
  if (!broker.Start(&error) || !watcher.Connect(broker.port(), "Bench", &error)) {
    std::fprintf(stderr, "broker: %s\n", error.c_str());
    return 1;
  }
  const std::string log = bench::WorkDir() + "/bridge-bench.log";
  const auto started = Clock::now();
  const pid_t bridge = StartBridge(WriteConfig(sims, broker.port(), o.interval_ms), log);
  if (!WaitFor([&] { return watcher.counts().births >= static_cast<std::uint64_t>(o.controllers); },
               std::chrono::seconds(120))) {
    std::fprintf(stderr, "the bridge did not birth every device; see %s\n", log.c_str());
    kill(bridge, SIGKILL);
    return 1;
  }
  std::printf("%d controllers x %d leaves at %d ms: every device born %.2f s after start\n",
              o.controllers, o.leaves, o.interval_ms,
              std::chrono::duration<double>(Clock::now() - started).count());
  Measure(bridge, &watcher, o);
  if (o.outage_s > 0) Outage(&broker, &watcher, o);
  kill(bridge, SIGTERM);
  int status = 0;
  waitpid(bridge, &status, 0);
  WaitFor([&] { return Clock::now() - watcher.counts().last_message > std::chrono::seconds(2); },
          std::chrono::seconds(60));
  const auto c = watcher.counts();
  const std::uint64_t sent = SentValues(log);
  std::printf(
      "values sent as data %llu, received %llu (%llu historical); out of order %llu, "
      "duplicates %llu, undecodable %llu: %s\n",
      static_cast<unsigned long long>(sent), static_cast<unsigned long long>(c.data_values),
      static_cast<unsigned long long>(c.historical),
      static_cast<unsigned long long>(c.out_of_order),
      static_cast<unsigned long long>(c.duplicates), static_cast<unsigned long long>(c.undecodable),
      sent == c.data_values && c.out_of_order == 0 ? "every change delivered, in order"
                                                   : "NOT every change delivered in order");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qxsym-bench-bridge: the bridge between simulated controllers and a local broker"};
  Options o;
  app.add_option("--controllers", o.controllers, "simulated controllers")->check(CLI::Range(1, 16));
  app.add_option("--leaves", o.leaves, "leaves per controller")->check(CLI::Range(1, 60000));
  app.add_option("--interval", o.interval_ms, "poll interval (ms)")->check(CLI::Range(10, 10000));
  app.add_option("--duration", o.duration_s, "steady run (s), in steps of 10")
      ->check(CLI::Range(10, 7200));
  app.add_option("--outage", o.outage_s, "broker outage afterwards (s); 0: none")
      ->check(CLI::Range(0, 600));
  CLI11_PARSE(app, argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // rows as they are measured, also into a file
  return Run(o);
}
