// qxsym-bench-list: the client core's lister against qxsym-sim on loopback,
// on a model of qxsym-genmodel (20,000 tags unless --tags says otherwise).
//
//   names    every name, with 1 connection and with more
//   full     every tag with type name, basic type, size, flags and
//            description, likewise
//
// Times are given per tag in single-exchange times: the mean of one
// QXSym_GetServerVersion round trip, measured in the same run before and
// after the listings. Requests are counted twice: by the lister, and as the
// request frames this program's sockets sent during the listing (the mode
// handshakes of extra connections and the frames that fetch the further
// fragments of a long list reply included). --cli names a qxsym program
// whose `ls --names` and `ls` are timed against the same simulator, for
// comparison.
//
//   qxsym-bench-list [--tags N] [--connections N] [--repetitions N] [--cli PATH]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchModels.h"
#include "Lister.h"
#include "QXSymbols.h"
#include "SendCounter.h"
#include "SimLauncher.h"

namespace {

using Clock = std::chrono::steady_clock;
using qxsym::client::Lister;
using qxsym::client::ListOptions;
using qxsym::client::TagInfo;

struct Args {
  std::size_t tags = 20000;
  unsigned connections = 4;
  int repetitions = 3;
  std::string cli;
};

bool ParseArgs(int argc, char** argv, Args* args) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const long v = std::strtol(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--cli") == 0) {
      args->cli = argv[i + 1];
    } else if (std::strcmp(argv[i], "--tags") == 0 && v > 0) {
      args->tags = static_cast<std::size_t>(v);
    } else if (std::strcmp(argv[i], "--connections") == 0 && v > 0 && v <= 8) {
      args->connections = static_cast<unsigned>(v);
    } else if (std::strcmp(argv[i], "--repetitions") == 0 && v > 0) {
      args->repetitions = static_cast<int>(v);
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

// Mean time of one QXSym_GetServerVersion round trip, in seconds.
double ExchangeTime(QXSymWorkspaceHandle ws) {
  constexpr int kRounds = 4000;
  std::uint8_t v[4];
  const auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) QXSym_GetServerVersion(ws, &v[0], &v[1], &v[2], &v[3]);
  return std::chrono::duration<double>(Clock::now() - start).count() / kRounds;
}

struct Run {
  double seconds = 0;
  std::size_t tags = 0;
  std::uint64_t requests = 0;
  std::uint64_t frames = 0;  // request frames sent
  bool ok = false;
};

Run ListAll(QXSymWorkspaceHandle ws, const QXSymServerAddress& address, ListOptions options) {
  Run run;
  const qxsym::bench::SocketStats sent_before = qxsym::bench::CurrentSocketStats();
  const auto start = Clock::now();
  {
    Lister lister(
        ws, qxsym::client::Encoding::kLatin1,
        [address]() {
          QXSymServerAddress a = address;
          QXSymWorkspaceHandle h = 0;
          const QXSymResult r = QXSym_OpenWorkspace(0, &a, &h);
          return r == symResOk || r == symResOkServerNotFullSupport ? h : 0;
        },
        std::move(options));
    std::vector<TagInfo> batch;
    bool done = false;
    QXSymResult rc = symResOk;
    while (!done) {
      if (!lister.Next(&batch, &done, &rc)) {
        std::fprintf(stderr, "listing failed: result %d\n", static_cast<int>(rc));
        return run;
      }
      run.tags += batch.size();
    }
    run.requests = lister.requests();
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.frames = (qxsym::bench::CurrentSocketStats() - sent_before).request_frames;
  run.ok = true;
  return run;
}

// Seconds of the best run of a shell command (-1 when it fails).
double TimeCommand(const std::string& command, int repetitions) {
  double best = -1;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = Clock::now();
    if (std::system((command + " > /dev/null").c_str()) != 0) return -1;
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (best < 0 || s < best) best = s;
  }
  return best;
}

// The best of the repetitions.
Run Best(QXSymWorkspaceHandle ws, const QXSymServerAddress& address, const ListOptions& options,
         int repetitions) {
  Run best;
  for (int i = 0; i < repetitions; ++i) {
    const Run r = ListAll(ws, address, options);
    if (!r.ok) return r;
    if (!best.ok || r.seconds < best.seconds) best = r;
  }
  return best;
}

// Writes the model and starts the simulator on it.
bool StartSimulator(const Args& args, qxsym::test::SimLauncher* sim) {
  std::string error;
  const std::string model =
      qxsym::bench::WorkDir() + "/list-" + std::to_string(args.tags) + ".json";
  if (!qxsym::bench::RunProgram({qxsym::bench::GenmodelBinary(), "--tags",
                                 std::to_string(args.tags), "--simulated", "0", "-o", model},
                                &error)) {
    std::fprintf(stderr, "cannot make the model: %s\n", error.c_str());
    return false;
  }
  if (!sim->Start({"--model", model, "--scan", "0"}, &error)) {
    std::fprintf(stderr, "cannot start the simulator: %s\n", error.c_str());
    return false;
  }
  return true;
}

struct Case {
  const char* name;
  bool full;
  unsigned connections;
};

void Report(const Args& args, double exchange, const Case* cases, const Run* runs,
            const double* cli) {
  std::printf("model: %zu tags; single exchange: %.1f us\n", args.tags, exchange * 1e6);
  for (int i = 0; i < 4; ++i) {
    const Run& r = runs[i];
    std::printf(
        "%-5s connections %u: %zu tags in %.3f s, %llu requests (%.2f per tag), "
        "%llu request frames (%.2f per tag), %.2f single-exchange times per tag\n",
        cases[i].name, cases[i].connections, r.tags, r.seconds,
        static_cast<unsigned long long>(r.requests),
        static_cast<double>(r.requests) / static_cast<double>(r.tags),
        static_cast<unsigned long long>(r.frames),
        static_cast<double>(r.frames) / static_cast<double>(r.tags),
        r.seconds / static_cast<double>(r.tags) / exchange);
  }
  for (int i = 0; i < 2 && !args.cli.empty(); ++i) {
    std::printf("%s: %.3f s, %.2f single-exchange times per tag\n",
                i == 0 ? "qxsym ls --names" : "qxsym ls", cli[i],
                cli[i] / static_cast<double>(args.tags) / exchange);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!ParseArgs(argc, argv, &args)) {
    std::fprintf(stderr,
                 "usage: qxsym-bench-list [--tags N] [--connections N] [--repetitions N] "
                 "[--cli PATH]\n");
    return 2;
  }
  qxsym::test::SimLauncher sim(qxsym::bench::SimBinary());
  if (!StartSimulator(args, &sim)) return 1;
  QXSym_Init();
  const QXSymServerAddress address = sim.Address(10000);
  QXSymWorkspaceHandle ws = 0;
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) {
    std::fprintf(stderr, "cannot open a workspace\n");
    return 1;
  }
  const double before = ExchangeTime(ws);
  const Case cases[] = {{"names", false, 1},
                        {"names", false, args.connections},
                        {"full", true, 1},
                        {"full", true, args.connections}};
  Run runs[4];
  for (int i = 0; i < 4; ++i) {
    ListOptions o;
    o.details = o.descriptions = cases[i].full;
    o.connections = cases[i].connections;
    runs[i] = Best(ws, address, o, args.repetitions);
    if (!runs[i].ok) return 1;
  }
  double cli[2] = {-1, -1};
  if (!args.cli.empty()) {
    const std::string base = args.cli + " --port " + std::to_string(sim.port()) + " ls";
    cli[0] = TimeCommand(base + " --names", args.repetitions);
    cli[1] = TimeCommand(base, args.repetitions);
  }
  Report(args, (before + ExchangeTime(ws)) / 2, cases, runs, cli);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
