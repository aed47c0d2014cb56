// qxsym-bench-api: the shared library through its C interface against
// qxsym-sim on loopback, and the floor it is measured against.
//
//   Exchange/GetTagValue        one QXSym_GetTagValue_Ptr of a DINT tag
//   Exchange/RawPingPong        the same bytes between two plain sockets,
//                               one send each way
//   Exchange/RawPingPongAck     as above, the client's one-byte
//                               acknowledgement sent on its own as the
//                               protocol has it
//   Exchange/*_noack            the same against a controller that does not
//                               use one-byte acknowledgements
//   Read/single/N, Read/group/N, Read/group_values/N
//                               N DINT tags one by one, as one group (one
//                               QXSym_ReadGroup), and the group read with the
//                               N values taken out
//   Table/<size>/frag<bytes>    QXSym_GetSymbolTable of a generated model
//   Threads/{one,own}_workspace 1, 2, 4 threads reading
//
// Every simulator is started here (qxsym-sim, see BenchModels.h for the
// paths); the counters carry the socket calls, exchanges and heap figures.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "BenchModels.h"
#include "QXSymbols.h"
#include "SendCounter.h"
#include "SimLauncher.h"

namespace {

using qxsym::bench::CurrentAllocStats;
using qxsym::bench::CurrentSocketStats;
using qxsym::bench::SocketStats;
using qxsym::test::SimLauncher;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kDintTags = 1024;
constexpr int kMaxThreads = 4;
// Largest reply message the simulator sends in one frame.
constexpr std::uint32_t kLargestFragment = 0xFFFF - 3;

// Simulators running now, stopped by Die so that none outlives the program.
std::vector<SimLauncher*>& RunningSims() {
  static std::vector<SimLauncher*> sims;
  return sims;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "qxsym-bench-api: %s\n", what.c_str());
  for (SimLauncher* sim : RunningSims()) sim->Kill();
  std::_Exit(1);
}

// A running qxsym-sim and the address record that reaches it.
class Sim {
 public:
  Sim(const std::string& model, std::uint32_t fragment, bool ack = true)
      : launcher_(qxsym::bench::SimBinary()) {
    std::string error;
    std::vector<std::string> args{
        "--model", model, "--reply-fragment-size", std::to_string(fragment), "--scan", "0"};
    if (!ack) args.push_back("--no-ack");
    if (!launcher_.Start(args, &error, 60000)) {
      Die(error);
    }
    RunningSims().push_back(&launcher_);
    std::memset(&address_, 0, sizeof address_);
    address_.protocol = symProtGDB_TCP;
    std::snprintf(address_.ip, sizeof address_.ip, "%s", launcher_.host().c_str());
    address_.port = launcher_.port();
    address_.timeout = 10000;
  }

  ~Sim() {
    auto& sims = RunningSims();
    sims.erase(std::remove(sims.begin(), sims.end(), &launcher_), sims.end());
  }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  QXSymWorkspaceHandle Open() const {
    QXSymWorkspaceHandle ws = 0;
    const QXSymResult r = QXSym_OpenWorkspace(0, &address_, &ws);
    if (r != symResOk) Die("QXSym_OpenWorkspace: " + std::to_string(r));
    return ws;
  }

 private:
  SimLauncher launcher_;
  QXSymServerAddress address_;
};

QXSymTagHandle Tag(QXSymWorkspaceHandle ws, std::size_t i) {
  QXSymTagHandle tag = 0;
  const QXSymResult r = QXSym_GetGlobalTag(ws, qxsym::bench::DintTagName(i).c_str(), &tag);
  if (r != symResOk) Die("QXSym_GetGlobalTag: " + std::to_string(r));
  return tag;
}

QXSymGroupHandle Group(QXSymWorkspaceHandle ws, const std::vector<QXSymTagHandle>& tags,
                       std::size_t n) {
  QXSymGroupHandle group = 0;
  if (QXSym_CreateGroup(ws, &group) != symResOk) Die("QXSym_CreateGroup");
  for (std::size_t i = 0; i < n; ++i) {
    if (QXSym_AddTagToGroup(group, tags[i]) != symResOk) Die("QXSym_AddTagToGroup");
  }
  return group;
}

// The DINT model served three times: replies in one frame whatever their
// size, replies cut into 1 KiB fragments (the simulator's default), and by a
// controller without one-byte acknowledgements.
struct DintEnv {
  std::unique_ptr<Sim> sim;
  std::unique_ptr<Sim> sim_1k;
  std::unique_ptr<Sim> sim_noack;
  QXSymWorkspaceHandle ws = 0;
  QXSymWorkspaceHandle ws_1k = 0;
  QXSymWorkspaceHandle ws_noack = 0;
  QXSymTagHandle tag_noack = 0;
  std::vector<QXSymTagHandle> tags;     // every tag, in ws
  std::vector<QXSymTagHandle> tags_1k;  // the same in ws_1k
  std::map<std::size_t, QXSymGroupHandle> groups, groups_1k;
  // Workspaces of their own for the thread benchmarks, one tag in each.
  QXSymWorkspaceHandle own_ws[kMaxThreads] = {};
  QXSymTagHandle own_tags[kMaxThreads] = {};
};

std::unique_ptr<DintEnv> g_dint;

DintEnv& Dint() {
  static DintEnv* env = [] {
    g_dint = std::make_unique<DintEnv>();
    DintEnv* e = g_dint.get();
    std::string error;
    const std::string model = qxsym::bench::DintModel(kDintTags, &error);
    if (model.empty()) Die(error);
    e->sim = std::make_unique<Sim>(model, kLargestFragment);
    e->sim_1k = std::make_unique<Sim>(model, 1024);
    e->sim_noack = std::make_unique<Sim>(model, kLargestFragment, false);
    e->ws = e->sim->Open();
    e->ws_1k = e->sim_1k->Open();
    e->ws_noack = e->sim_noack->Open();
    e->tag_noack = Tag(e->ws_noack, 0);
    for (std::size_t i = 0; i < kDintTags; ++i) {
      e->tags.push_back(Tag(e->ws, i));
      e->tags_1k.push_back(Tag(e->ws_1k, i));
    }
    for (std::size_t n : {1, 10, 100, 1000}) {
      e->groups[n] = Group(e->ws, e->tags, n);
      e->groups_1k[n] = Group(e->ws_1k, e->tags_1k, n);
    }
    for (int t = 0; t < kMaxThreads; ++t) {
      e->own_ws[t] = e->sim->Open();
      e->own_tags[t] = Tag(e->own_ws[t], static_cast<std::size_t>(t));
    }
    return e;
  }();
  return *env;
}

void ReadOne(benchmark::State& state, QXSymTagHandle tag) {
  std::int32_t value = 0;
  const QXSymResult r = QXSym_GetTagValue_Ptr(tag, &value, sizeof value);
  if (r != symResOk) state.SkipWithError(("QXSym_GetTagValue_Ptr: " + std::to_string(r)).c_str());
  benchmark::DoNotOptimize(value);
}

// Median, 99th percentile and mean of per-iteration times, in microseconds.
void LatencyCounters(benchmark::State& state, std::vector<double>& ns) {
  if (ns.empty()) return;
  std::sort(ns.begin(), ns.end());
  auto at = [&](double q) {
    return ns[std::min(ns.size() - 1, static_cast<std::size_t>(q * ns.size()))];
  };
  double sum = 0;
  for (double v : ns) sum += v;
  state.counters["p50_us"] = at(0.50) / 1000.0;
  state.counters["p99_us"] = at(0.99) / 1000.0;
  state.counters["mean_us"] = sum / static_cast<double>(ns.size()) / 1000.0;
}

void SocketCounters(benchmark::State& state, const SocketStats& d, std::int64_t per) {
  const auto n = static_cast<double>(std::max<std::int64_t>(1, per));
  state.counters["exchanges"] = static_cast<double>(d.request_frames) / n;
  state.counters["sends"] = static_cast<double>(d.sends) / n;
  state.counters["recvs"] = static_cast<double>(d.recvs) / n;
  state.counters["polls"] = static_cast<double>(d.polls) / n;
  state.counters["bytes_out"] = static_cast<double>(d.bytes_sent) / n;
  state.counters["bytes_in"] = static_cast<double>(d.bytes_received) / n;
}

// ---- One exchange and its floor ---------------------------------------------

QXSymTagHandle ExchangeTag(bool ack) { return ack ? Dint().tags[0] : Dint().tag_noack; }

void BM_GetTagValue(benchmark::State& state, bool ack) {
  const QXSymTagHandle tag = ExchangeTag(ack);
  for (int i = 0; i < 200; ++i) ReadOne(state, tag);  // warm up
  std::vector<double> ns;
  ns.reserve(static_cast<std::size_t>(state.max_iterations));
  const SocketStats s0 = CurrentSocketStats();
  const std::uint64_t a0 = CurrentAllocStats().allocations;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    ReadOne(state, tag);
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
  }
  const std::uint64_t allocs = CurrentAllocStats().allocations - a0;
  SocketCounters(state, CurrentSocketStats() - s0, state.iterations());
  state.counters["allocs_per_call"] =
      static_cast<double>(allocs) /
      static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
  LatencyCounters(state, ns);
}

// Bytes one value read moves each way, measured on the library itself.
struct ExchangeBytes {
  std::size_t out = 0;  // request frame and the acknowledgement of the reply
  std::size_t in = 0;   // acknowledgement of the request and the reply frame
};

ExchangeBytes MeasureExchangeBytes(benchmark::State& state, QXSymTagHandle tag) {
  const SocketStats s0 = CurrentSocketStats();
  constexpr int kReads = 100;
  for (int i = 0; i < kReads; ++i) ReadOne(state, tag);
  const SocketStats d = CurrentSocketStats() - s0;
  return ExchangeBytes{static_cast<std::size_t>((d.bytes_sent + kReads / 2) / kReads),
                       static_cast<std::size_t>((d.bytes_received + kReads / 2) / kReads)};
}

bool ReadFull(int fd, std::uint8_t* p, std::size_t n) {
  while (n != 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool WriteFull(int fd, const std::uint8_t* p, std::size_t n) {
  while (n != 0) {
    const ssize_t r = ::write(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

void NoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A process that answers every `in` bytes with `out` bytes on one loopback
// connection. With split_ack, the client's last byte of each exchange comes
// on its own after the answer, so the first exchange is one byte short.
class PongProcess {
 public:
  PongProcess(std::size_t in, std::size_t out, bool split_ack) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      Die("pong: cannot listen on loopback");
    }
    pid_ = ::fork();
    if (pid_ < 0) Die("pong: fork failed");
    if (pid_ == 0) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) ::_exit(1);
      NoDelay(fd);
      std::vector<std::uint8_t> request(in), reply(out, 0x55);
      std::size_t want = split_ack ? in - 1 : in;
      while (ReadFull(fd, request.data(), want) && WriteFull(fd, reply.data(), reply.size())) {
        want = in;
      }
      ::_exit(0);
    }
    ::close(listener);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      Die("pong: cannot connect");
    }
    NoDelay(fd_);
  }
  ~PongProcess() {
    ::close(fd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  int fd() const { return fd_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// The bytes of a value read with (ack) or without acknowledgements, one send
// each way, or with the client's last byte sent on its own (split_ack).
void BM_RawPingPong(benchmark::State& state, bool ack, bool split_ack) {
  const ExchangeBytes bytes = MeasureExchangeBytes(state, ExchangeTag(ack));
  PongProcess pong(bytes.out, bytes.in, split_ack);
  std::vector<std::uint8_t> request(bytes.out, 0x41), reply(bytes.in);
  const std::uint8_t* last_byte = request.data() + request.size() - 1;
  auto once = [&]() {
    if (split_ack) {
      return WriteFull(pong.fd(), request.data(), request.size() - 1) &&
             ReadFull(pong.fd(), reply.data(), reply.size()) && WriteFull(pong.fd(), last_byte, 1);
    }
    return WriteFull(pong.fd(), request.data(), request.size()) &&
           ReadFull(pong.fd(), reply.data(), reply.size());
  };
  for (int i = 0; i < 200; ++i) once();  // warm up
  std::vector<double> ns;
  ns.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (!once()) {
      state.SkipWithError("ping-pong broke");
      break;
    }
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
  }
  state.counters["bytes_out"] = static_cast<double>(bytes.out);
  state.counters["bytes_in"] = static_cast<double>(bytes.in);
  LatencyCounters(state, ns);
}

// ---- N tags one by one and as a group ------------------------------------------

void BM_ReadSingle(benchmark::State& state, std::size_t n) {
  const std::vector<QXSymTagHandle>& tags = Dint().tags;
  const SocketStats s0 = CurrentSocketStats();
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i) ReadOne(state, tags[i]);
  }
  SocketCounters(state, CurrentSocketStats() - s0, state.iterations());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

void BM_ReadGroup(benchmark::State& state, std::size_t n, bool take_values, bool fragmented) {
  DintEnv& env = Dint();
  const QXSymGroupHandle group = fragmented ? env.groups_1k.at(n) : env.groups.at(n);
  const std::vector<QXSymTagHandle>& tags = fragmented ? env.tags_1k : env.tags;
  const SocketStats s0 = CurrentSocketStats();
  std::int64_t check = 0;
  for (auto _ : state) {
    const QXSymResult r = QXSym_ReadGroup(group);
    if (r != symResOk) {
      state.SkipWithError(("QXSym_ReadGroup: " + std::to_string(r)).c_str());
      break;
    }
    if (take_values) {
      for (std::size_t i = 0; i < n; ++i) {
        std::int32_t value = 0;
        if (QXSym_GetTagValueFromGroup_Ptr(group, tags[i], &value, sizeof value) != symResOk) {
          state.SkipWithError("QXSym_GetTagValueFromGroup_Ptr failed");
          break;
        }
        check += value;
      }
    }
  }
  benchmark::DoNotOptimize(check);
  SocketCounters(state, CurrentSocketStats() - s0, state.iterations());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// ---- Symbol-table download -------------------------------------------------------

void BM_Table(benchmark::State& state, std::size_t bytes, std::uint32_t fragment) {
  std::string error;
  const std::string model = qxsym::bench::TableModel(bytes, &error);
  if (model.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  Sim sim(model, fragment);
  const QXSymWorkspaceHandle ws = sim.Open();
  const std::string file = qxsym::bench::WorkDir() + "/download.bin";
  const SocketStats s0 = CurrentSocketStats();
  std::uint64_t peak = 0;
  for (auto _ : state) {
    qxsym::bench::ResetAllocPeak();
    const std::uint64_t base = CurrentAllocStats().live_bytes;
    const QXSymResult r = QXSym_GetSymbolTable(ws, file.c_str(), 1);
    if (r != symResOk) {
      state.SkipWithError(("QXSym_GetSymbolTable: " + std::to_string(r)).c_str());
      break;
    }
    peak = std::max(peak, CurrentAllocStats().peak_bytes - base);
  }
  SocketCounters(state, CurrentSocketStats() - s0, state.iterations());
  FILE* f = std::fopen(file.c_str(), "rb");
  long size = -1;
  if (f != nullptr) {
    std::fseek(f, 0, SEEK_END);
    size = std::ftell(f);
    std::fclose(f);
  }
  std::remove(file.c_str());
  if (size != static_cast<long>(bytes)) state.SkipWithError("downloaded file has the wrong size");
  QXSym_CloseWorkspace(ws);
  state.counters["table_bytes"] = static_cast<double>(bytes);
  state.counters["fragment"] = fragment;
  state.counters["peak_heap_bytes"] = static_cast<double>(peak);
  state.counters["peak_per_table"] = static_cast<double>(peak) / static_cast<double>(bytes);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

// ---- Threads -------------------------------------------------------------------------

void BM_Threads(benchmark::State& state, bool own_workspace) {
  DintEnv& env = Dint();
  const int t = state.thread_index();
  const QXSymTagHandle tag =
      own_workspace ? env.own_tags[t] : env.tags[static_cast<std::size_t>(t)];
  for (auto _ : state) ReadOne(state, tag);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (QXSym_Init() != symResOk) Die("QXSym_Init failed");

  const int exchanges = std::getenv("QXSYM_BENCH_QUICK") != nullptr ? 2000 : 20000;
  benchmark::RegisterBenchmark("Exchange/GetTagValue", BM_GetTagValue, true)
      ->Iterations(exchanges)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Exchange/RawPingPong", BM_RawPingPong, true, false)
      ->Iterations(exchanges)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Exchange/RawPingPongAck", BM_RawPingPong, true, true)
      ->Iterations(exchanges)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Exchange/GetTagValue_noack", BM_GetTagValue, false)
      ->Iterations(exchanges)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Exchange/RawPingPong_noack", BM_RawPingPong, false, false)
      ->Iterations(exchanges)
      ->UseRealTime();

  for (std::size_t n : {1, 10, 100, 1000}) {
    const std::string suffix = "/" + std::to_string(n);
    benchmark::RegisterBenchmark(("Read/single" + suffix).c_str(), BM_ReadSingle, n)
        ->UseRealTime()
        ->MinTime(0.3);
    benchmark::RegisterBenchmark(("Read/group" + suffix).c_str(), BM_ReadGroup, n, false, false)
        ->UseRealTime()
        ->MinTime(0.3);
    benchmark::RegisterBenchmark(("Read/group_values" + suffix).c_str(), BM_ReadGroup, n, true,
                                 false)
        ->UseRealTime()
        ->MinTime(0.3);
    benchmark::RegisterBenchmark(("Read/group_frag1KiB" + suffix).c_str(), BM_ReadGroup, n, false,
                                 true)
        ->UseRealTime()
        ->MinTime(0.3);
  }

  for (std::size_t mib : {1, 4, 16}) {
    for (std::uint32_t fragment : {1024u, kLargestFragment}) {
      const std::string name =
          "Table/" + std::to_string(mib) + "MiB/frag" + std::to_string(fragment);
      benchmark::RegisterBenchmark(name.c_str(), BM_Table, mib << 20, fragment)
          ->UseRealTime()
          ->Iterations(mib == 16  ? 2
                       : mib == 4 ? 3
                                  : 5)
          ->Unit(benchmark::kMillisecond);
    }
  }

  for (bool own : {false, true}) {
    benchmark::RegisterBenchmark(own ? "Threads/own_workspace" : "Threads/one_workspace",
                                 BM_Threads, own)
        ->Threads(1)
        ->Threads(2)
        ->Threads(4)
        ->UseRealTime()
        ->MinTime(0.5);
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  QXSym_Shutdown();
  g_dint.reset();  // stops the simulators
  return 0;
}
