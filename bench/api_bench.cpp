// qxsym-bench-api: the shared library through its C interface against
// qxsym-sim on loopback, and the floor it is measured against.
//
//   Exchange/ack, Exchange/noack
//                               one QXSym_GetTagValue_Ptr of a DINT tag, in
//                               turn with its floors: a ping-pong of the same
//                               bytes between two plain sockets, and the
//                               library's frame sent to qxsym-sim from a
//                               plain socket; against a simulator with and
//                               one without one-byte acknowledgements
//   Read/single/N, Read/group/N, Read/group_values/N
//                               N DINT tags one by one, as one group (one
//                               QXSym_ReadGroup), and the group read with the
//                               N values taken out
//   Table/<size>/frag<bytes>    QXSym_GetSymbolTable of a generated model
//   Threads/{one_workspace,own_workspace,own_controller}
//                               1, 2, 4 threads reading: all through one
//                               workspace, each through its own workspace of
//                               one simulator, each through its own
//                               workspace on a simulator process of its own
//
// Every simulator is started here (qxsym-sim, see BenchModels.h for the
// paths); the counters carry the socket calls, exchanges and heap figures.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
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

// $QXSYM_BENCH_PEER_CPU, when set, names the CPU every peer (simulator,
// ping-pong process) runs on; the client's own CPU is chosen by whoever
// starts the program (taskset). -1 when not set.
int PeerCpu() {
  static const int cpu = [] {
    const char* v = std::getenv("QXSYM_BENCH_PEER_CPU");
    return v != nullptr && *v != '\0' ? std::atoi(v) : -1;
  }();
  return cpu;
}

// Runs f with this thread bound to the peers' CPU, so that what f starts
// inherits the binding; the thread's own binding is restored afterwards.
template <typename F>
void OnPeerCpu(F&& f) {
  if (PeerCpu() < 0) {
    f();
    return;
  }
  cpu_set_t saved;
  CPU_ZERO(&saved);
  ::sched_getaffinity(0, sizeof saved, &saved);
  cpu_set_t peer;
  CPU_ZERO(&peer);
  CPU_SET(PeerCpu(), &peer);
  ::sched_setaffinity(0, sizeof peer, &peer);
  f();
  ::sched_setaffinity(0, sizeof saved, &saved);
}

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
    bool started = false;
    OnPeerCpu([&] { started = launcher_.Start(args, &error, 60000); });
    if (!started) {
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

  std::uint16_t port() const { return launcher_.port(); }

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
  const ExchangeBytes bytes{static_cast<std::size_t>((d.bytes_sent + kReads / 2) / kReads),
                            static_cast<std::size_t>((d.bytes_received + kReads / 2) / kReads)};
  if (bytes.out < 2 || bytes.in == 0) state.SkipWithError("no exchange to take the sizes from");
  return bytes;
}

// The plain-socket sides use read and write, which the counters of
// SendCounter.cpp do not see, so those count the library alone.
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

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    NoDelay(fd);
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

// A ping-pong between two plain sockets of two processes: the client sends
// `out` bytes with one write and reads `in` bytes back. With split_ack the
// client's last byte goes with a write of its own after the answer, as the
// library sends its "+" (the pong process then answers the first exchange
// one byte early and every later one when the previous "+" and the next
// request are in).
class PingPong {
 public:
  PingPong(std::size_t out, std::size_t in, bool split_ack)
      : split_ack_(split_ack), request_(out, 0x41), reply_(in) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (out < 2 || in == 0 || listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      Die("ping-pong: cannot listen on loopback");
    }
    pid_ = ::fork();
    if (pid_ < 0) Die("ping-pong: fork failed");
    if (pid_ == 0) {
      if (PeerCpu() >= 0) {
        cpu_set_t peer;
        CPU_ZERO(&peer);
        CPU_SET(PeerCpu(), &peer);
        ::sched_setaffinity(0, sizeof peer, &peer);
      }
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) ::_exit(1);
      NoDelay(fd);
      std::vector<std::uint8_t> request(out), reply(in, 0x55);
      std::size_t want = split_ack ? out - 1 : out;
      while (ReadFull(fd, request.data(), want) && WriteFull(fd, reply.data(), reply.size())) {
        want = out;
      }
      ::_exit(0);
    }
    ::close(listener);
    fd_ = ConnectLoopback(ntohs(addr.sin_port));
    if (fd_ < 0) Die("ping-pong: cannot connect");
  }
  ~PingPong() {
    ::close(fd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  PingPong(const PingPong&) = delete;
  PingPong& operator=(const PingPong&) = delete;

  bool Once() {
    if (!split_ack_) {
      return WriteFull(fd_, request_.data(), request_.size()) &&
             ReadFull(fd_, reply_.data(), reply_.size());
    }
    return WriteFull(fd_, request_.data(), request_.size() - 1) &&
           ReadFull(fd_, reply_.data(), reply_.size()) &&
           WriteFull(fd_, request_.data() + request_.size() - 1, 1);
  }

 private:
  bool split_ack_;
  std::vector<std::uint8_t> request_, reply_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

// A plain socket speaking to qxsym-sim itself: the sequence handshake, then
// the library's own request frame of a value read replayed byte for byte
// (the simulator echoes whatever sequence number comes), and with
// acknowledgements the "+" after each reply. Beside the library it shows
// what the library adds; beside the ping-pong what the simulator adds.
class SimDirect {
 public:
  SimDirect(std::uint16_t port, bool ack, std::vector<std::uint8_t> frame)
      : ack_(ack), frame_(std::move(frame)) {
    fd_ = ConnectLoopback(port);
    // "!S!" without a sequence number; the reply carries one data byte and,
    // with acknowledgements, follows a "+".
    static const std::uint8_t kSequenceHandshake[] = {0x10, 0x03, 0x00, 0x21, 0x53, 0x21, 0x98};
    std::uint8_t handshake_reply[6];
    ok_ = fd_ >= 0 && WriteFull(fd_, kSequenceHandshake, sizeof kSequenceHandshake) &&
          ReadFull(fd_, handshake_reply, ack ? 6 : 5) && (!ack || WriteFull(fd_, &kPlus, 1));
    // The reply to this very frame: its length depends on which of its
    // bytes need stuffing, so it is taken from one exchange (all that
    // arrives until the line is quiet for 200 ms).
    reply_.resize(4096);
    std::size_t got = 0;
    if (ok_ && WriteFull(fd_, frame_.data(), frame_.size())) {
      for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) break;
        const ssize_t r = ::read(fd_, reply_.data() + got, reply_.size() - got);
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
      }
    }
    reply_.resize(got);
    ok_ = ok_ && got != 0 && (!ack || WriteFull(fd_, &kPlus, 1));
  }
  ~SimDirect() {
    if (fd_ >= 0) ::close(fd_);
  }
  SimDirect(const SimDirect&) = delete;
  SimDirect& operator=(const SimDirect&) = delete;

  bool ok() const { return ok_; }
  bool Once() {
    return WriteFull(fd_, frame_.data(), frame_.size()) &&
           ReadFull(fd_, reply_.data(), reply_.size()) && (!ack_ || WriteFull(fd_, &kPlus, 1));
  }

 private:
  static constexpr std::uint8_t kPlus = '+';
  bool ack_;
  std::vector<std::uint8_t> frame_, reply_;
  int fd_ = -1;
  bool ok_ = false;
};

// Per-call times of one way of exchanging, in nanoseconds.
struct Timings {
  std::vector<double> ns;
  template <typename F>
  bool Time(F&& f) {
    const auto t0 = Clock::now();
    const bool ok = f();
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    return ok;
  }
};

// Median, 99th percentile and mean, in microseconds, as counters prefix_p50
// and so on.
void LatencyCounters(benchmark::State& state, const std::string& prefix, std::vector<double> ns) {
  if (ns.empty()) return;
  std::sort(ns.begin(), ns.end());
  auto at = [&](double q) {
    return ns[std::min(ns.size() - 1,
                       static_cast<std::size_t>(q * static_cast<double>(ns.size())))];
  };
  double sum = 0;
  for (double v : ns) sum += v;
  state.counters[prefix + "_p50_us"] = at(0.50) / 1000.0;
  state.counters[prefix + "_p99_us"] = at(0.99) / 1000.0;
  state.counters[prefix + "_mean_us"] = sum / static_cast<double>(ns.size()) / 1000.0;
}

// Exchanges per block: each way of exchanging runs this many times in a row
// (a steady ping-pong, as a client reading one value after another sees it),
// then the next way takes over.
constexpr int kBlock = 100;

// One QXSym_GetTagValue_Ptr of a DINT tag and its floors, in blocks taken in
// turn, so that all of them see the same machine even when its speed
// changes from second to second: a ping-pong of the same bytes with one
// write each way; with acknowledgements also the ping-pong that sends "+" on
// its own; and the library's frame sent to qxsym-sim from a plain socket.
// One iteration is one block of each.
void BM_Exchange(benchmark::State& state, bool ack) {
  DintEnv& env = Dint();
  const QXSymTagHandle tag = ExchangeTag(ack);
  for (int i = 0; i < 200; ++i) ReadOne(state, tag);  // warm up
  const ExchangeBytes bytes = MeasureExchangeBytes(state, tag);
  if (state.error_occurred()) return;
  PingPong plain(bytes.out, bytes.in, false);
  std::unique_ptr<PingPong> split;
  if (ack) split = std::make_unique<PingPong>(bytes.out, bytes.in, true);
  SimDirect direct(ack ? env.sim->port() : env.sim_noack->port(), ack,
                   qxsym::bench::LastRequestFrame());
  if (!direct.ok()) {
    state.SkipWithError("cannot speak to qxsym-sim from a plain socket");
    return;
  }
  Timings lib, raw, raw_split, sim;
  const auto reserve = static_cast<std::size_t>(state.max_iterations) * kBlock;
  for (Timings* t : {&lib, &raw, &raw_split, &sim}) t->ns.reserve(reserve);
  std::uint64_t allocs = 0;
  SocketStats calls;
  auto block = [&](Timings& t, auto&& once) {
    for (int i = 0; i < kBlock; ++i) {
      if (!t.Time(once)) return false;
    }
    return true;
  };
  for (auto _ : state) {
    const SocketStats s0 = CurrentSocketStats();
    const std::uint64_t a0 = CurrentAllocStats().allocations;
    std::int32_t value = 0;
    const bool lib_ok =
        block(lib, [&] { return QXSym_GetTagValue_Ptr(tag, &value, sizeof value) == symResOk; });
    allocs += CurrentAllocStats().allocations - a0;
    const SocketStats d = CurrentSocketStats() - s0;
    calls.sends += d.sends;
    calls.recvs += d.recvs;
    calls.polls += d.polls;
    calls.request_frames += d.request_frames;
    calls.bytes_sent += d.bytes_sent;
    calls.bytes_received += d.bytes_received;
    if (!lib_ok || !block(raw, [&] { return plain.Once(); }) ||
        (split && !block(raw_split, [&] { return split->Once(); })) ||
        !block(sim, [&] { return direct.Once(); })) {
      state.SkipWithError("an exchange failed");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  const std::int64_t n = std::max<std::int64_t>(1, state.iterations()) * kBlock;
  SocketCounters(state, calls, n);
  state.counters["allocs_per_call"] = static_cast<double>(allocs) / static_cast<double>(n);
  state.counters["raw_bytes_out"] = static_cast<double>(bytes.out);
  state.counters["raw_bytes_in"] = static_cast<double>(bytes.in);
  LatencyCounters(state, "lib", lib.ns);
  LatencyCounters(state, "raw", raw.ns);
  if (split) LatencyCounters(state, "raw_split", raw_split.ns);
  LatencyCounters(state, "sim_direct", sim.ns);
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

// Single-tag reads and group reads of 1000 tags in blocks taken in turn, so
// that their ratio holds on a machine whose speed changes.
void BM_SingleVsGroup(benchmark::State& state) {
  DintEnv& env = Dint();
  const QXSymTagHandle tag = env.tags[0];
  const QXSymGroupHandle group = env.groups.at(1000);
  Timings single, grouped;
  single.ns.reserve(static_cast<std::size_t>(state.max_iterations) * kBlock);
  grouped.ns.reserve(static_cast<std::size_t>(state.max_iterations) * kBlock);
  std::int32_t value = 0;
  for (auto _ : state) {
    bool ok = true;
    for (int i = 0; ok && i < kBlock; ++i) {
      ok =
          single.Time([&] { return QXSym_GetTagValue_Ptr(tag, &value, sizeof value) == symResOk; });
    }
    for (int i = 0; ok && i < kBlock; ++i) {
      ok = grouped.Time([&] { return QXSym_ReadGroup(group) == symResOk; });
    }
    if (!ok) {
      state.SkipWithError("a read failed");
      break;
    }
  }
  benchmark::DoNotOptimize(value);
  LatencyCounters(state, "single", single.ns);
  LatencyCounters(state, "group1000", grouped.ns);
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

// One simulator process, one workspace and one tag per thread.
struct OwnControllers {
  std::unique_ptr<Sim> sims[kMaxThreads];
  QXSymTagHandle tags[kMaxThreads] = {};
};

std::unique_ptr<OwnControllers> g_own;

OwnControllers& Own() {
  static OwnControllers* env = [] {
    g_own = std::make_unique<OwnControllers>();
    std::string error;
    const std::string model = qxsym::bench::DintModel(kDintTags, &error);
    if (model.empty()) Die(error);
    for (int t = 0; t < kMaxThreads; ++t) {
      g_own->sims[t] = std::make_unique<Sim>(model, kLargestFragment);
      g_own->tags[t] = Tag(g_own->sims[t]->Open(), static_cast<std::size_t>(t));
    }
    return g_own.get();
  }();
  return *env;
}

enum class ThreadSetup { kOneWorkspace, kOwnWorkspace, kOwnController };

void BM_Threads(benchmark::State& state, ThreadSetup setup) {
  const auto t = static_cast<std::size_t>(state.thread_index());
  QXSymTagHandle tag = 0;
  switch (setup) {
    case ThreadSetup::kOneWorkspace:
      tag = Dint().tags[t];
      break;
    case ThreadSetup::kOwnWorkspace:
      tag = Dint().own_tags[t];
      break;
    case ThreadSetup::kOwnController:
      tag = Own().tags[t];
      break;
  }
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
  benchmark::RegisterBenchmark("Exchange/ack", BM_Exchange, true)
      ->Iterations(exchanges / kBlock)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Exchange/noack", BM_Exchange, false)
      ->Iterations(exchanges / kBlock)
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

  benchmark::RegisterBenchmark("Read/single_vs_group1000", BM_SingleVsGroup)
      ->Iterations(exchanges / kBlock / 2)
      ->UseRealTime();

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

  const std::pair<const char*, ThreadSetup> setups[] = {
      {"Threads/one_workspace", ThreadSetup::kOneWorkspace},
      {"Threads/own_workspace", ThreadSetup::kOwnWorkspace},
      {"Threads/own_controller", ThreadSetup::kOwnController}};
  for (const auto& [name, setup] : setups) {
    benchmark::RegisterBenchmark(name, BM_Threads, setup)
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
  g_own.reset();
  return 0;
}
