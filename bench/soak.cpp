// qxsym-soak: a long run of tag opens and closes and group reads across
// several workspaces on several simulators, printing at intervals the
// figures that must stay flat: handles registered, retired objects waiting,
// resident memory, open file descriptors and threads.
//
//   qxsym-soak [--cycles N] [--workspaces W] [--simulators S] [--reports R]
//
// One thread per workspace; every thread opens a tag, closes it, and every
// 50th cycle reads its workspace's group of 10 tags. N counts opens (each
// with its close) of all threads together. Exit status 1 when a call
// failed, or when the handles at the end differ from those at the start.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchModels.h"
#include "LibraryState.h"
#include "QXSymbols.h"
#include "SimLauncher.h"

namespace {

constexpr std::size_t kTags = 64;
constexpr std::size_t kGroupTags = 10;
constexpr unsigned kGroupEvery = 50;

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int CountEntries(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n;
}

struct Figures {
  std::size_t handles;
  std::size_t retired;
  long rss_kib;
  int fds;
  int threads;
};

Figures Measure() {
  auto& state = qxsym::LibraryState::Get();
  std::size_t handles = 0;
  {
    std::lock_guard<std::mutex> guard(state.lock());
    handles = state.registry().size();
  }
  return Figures{handles, state.retired_count(), ResidentKiB(), CountEntries("/proc/self/fd"),
                 CountEntries("/proc/self/task")};
}

unsigned long Arg(int argc, char** argv, const char* name, unsigned long fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::strtoul(argv[i + 1], nullptr, 10);
  }
  return fallback;
}

struct Worker {
  QXSymWorkspaceHandle ws = 0;
  QXSymGroupHandle group = 0;
  std::vector<QXSymTagHandle> group_tags;
};

// A workspace on sim with a group of the first kGroupTags tags.
bool OpenWorker(const qxsym::test::SimLauncher& sim, Worker* k) {
  const QXSymServerAddress a = sim.Address(5000);
  if (QXSym_OpenWorkspace(0, &a, &k->ws) != symResOk ||
      QXSym_CreateGroup(k->ws, &k->group) != symResOk) {
    return false;
  }
  for (std::size_t i = 0; i < kGroupTags; ++i) {
    QXSymTagHandle t = 0;
    if (QXSym_GetGlobalTag(k->ws, qxsym::bench::DintTagName(i).c_str(), &t) != symResOk ||
        QXSym_AddTagToGroup(k->group, t) != symResOk) {
      return false;
    }
    k->group_tags.push_back(t);
  }
  return true;
}

void CloseWorkers(const std::vector<Worker>& workers) {
  for (const Worker& k : workers) {
    QXSym_DeleteGroup(k.group);
    for (QXSymTagHandle t : k.group_tags) QXSym_CloseTag(t);
    QXSym_CloseWorkspace(k.ws);
  }
  QXSym_Shutdown();
}

// One worker's share of the cycles: look a tag up and close it, and read
// the group every kGroupEvery cycles.
void Cycle(const Worker& k, unsigned w, unsigned long cycles, std::atomic<unsigned long>* done,
           std::atomic<unsigned long>* failures) {
  for (unsigned n = 0;; ++n) {
    if (done->fetch_add(1) >= cycles) break;
    const std::string name = qxsym::bench::DintTagName((n * 7 + w) % kTags);
    QXSymTagHandle t = 0;
    if (QXSym_GetGlobalTag(k.ws, name.c_str(), &t) != symResOk || QXSym_CloseTag(t) != symResOk) {
      ++*failures;
    }
    if (n % kGroupEvery == 0 && QXSym_ReadGroup(k.group) != symResOk) ++*failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const unsigned long cycles = Arg(argc, argv, "--cycles", 1000000);
  const unsigned workspaces = static_cast<unsigned>(Arg(argc, argv, "--workspaces", 4));
  const unsigned simulators = static_cast<unsigned>(Arg(argc, argv, "--simulators", 2));
  const unsigned reports = static_cast<unsigned>(Arg(argc, argv, "--reports", 10));
  if (workspaces == 0 || simulators == 0 || reports == 0) return 2;

  std::string error;
  const std::string model = qxsym::bench::DintModel(kTags, &error);
  if (model.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<std::unique_ptr<qxsym::test::SimLauncher>> sims;
  for (unsigned s = 0; s < simulators; ++s) {
    sims.push_back(std::make_unique<qxsym::test::SimLauncher>(qxsym::bench::SimBinary()));
    if (!sims.back()->Start({"--model", model, "--scan", "0"}, &error)) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      return 1;
    }
  }
  if (QXSym_Init() != symResOk) return 1;
  std::vector<Worker> workers(workspaces);
  for (unsigned w = 0; w < workspaces; ++w) {
    if (!OpenWorker(*sims[w % simulators], &workers[w])) return 1;
  }

  const Figures start = Measure();
  std::printf("| cycles | seconds | handles | retired | RSS KiB | fds | threads |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
  const auto t0 = std::chrono::steady_clock::now();
  auto row = [&](unsigned long done) {
    const Figures f = Measure();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("| %lu | %.0f | %zu | %zu | %ld | %d | %d |\n", done, s, f.handles, f.retired,
                f.rss_kib, f.fds, f.threads);
    std::fflush(stdout);
  };
  row(0);

  std::atomic<unsigned long> done{0};
  std::atomic<unsigned long> failures{0};
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workspaces; ++w) {
    threads.emplace_back([&, w] { Cycle(workers[w], w, cycles, &done, &failures); });
  }
  const unsigned long step = cycles / reports == 0 ? 1 : cycles / reports;
  for (unsigned long next = step; next <= cycles; next += step) {
    while (done.load() < next) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    row(next);
  }
  for (auto& t : threads) t.join();

  const Figures end = Measure();
  CloseWorkers(workers);
  std::printf("\nfailed calls: %lu; handles at start %zu, at end %zu; RSS %ld -> %ld KiB\n",
              failures.load(), start.handles, end.handles, start.rss_kib, end.rss_kib);
  return failures.load() == 0 && end.handles == start.handles ? 0 : 1;
}
