// qxsym-sim: serves a symbol model to clients over TCP the way a controller
// does. The first line on standard output is "listening on HOST:PORT".
#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "DefaultModel.h"
#include "ModelBackend.h"
#include "ProgramReloader.h"
#include "ReplyEncoder.h"
#include "Server.h"
#include "SymbolModel.h"
#include "SymbolService.h"

namespace {

qxsym::sim::Server* g_server = nullptr;
std::atomic<qxsym::sim::ProgramReloader*> g_reloader{nullptr};

extern "C" void OnSignal(int) {
  const int saved = errno;
  if (g_server != nullptr) g_server->Stop();
  errno = saved;
}

extern "C" void OnReloadSignal(int) {
  qxsym::sim::ProgramReloader* reloader = g_reloader.load();
  if (reloader != nullptr) reloader->Request();
}

bool ParseVersion(const std::string& text, std::uint8_t v[4]) {
  unsigned parts[4] = {};
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &tail) != 4) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (parts[i] > 255) return false;
    v[i] = static_cast<std::uint8_t>(parts[i]);
  }
  return true;
}

// The server's limits.
void AddServerOptions(CLI::App& app, qxsym::sim::ServerOptions& options) {
  using namespace qxsym::sim;
  SessionOptions& s = options.session;
  app.add_option("--reply-fragment-size", s.reply_fragment_size,
                 "Largest reply message sent in one frame; longer replies go in fragments")
      ->check(CLI::Range(kMinReplyFragmentSize, static_cast<std::uint32_t>(kMaxReplyData)))
      ->capture_default_str();
  app.add_option("--max-request", s.max_request, "Largest request accepted in fragments (bytes)")
      ->check(CLI::Range(1u, 1u << 30))
      ->capture_default_str();
  app.add_option("--max-connections", options.max_connections, "Clients served at once")
      ->check(CLI::Range(1u, 4096u))
      ->capture_default_str();
  app.add_option("--max-connections-per-peer", options.max_connections_per_peer,
                 "Clients served at once from one peer address")
      ->check(CLI::Range(1u, 4096u))
      ->capture_default_str();
  app.add_option("--idle-timeout", options.idle_timeout_ms,
                 "Close a connection with no command frame (handshakes aside) for this long (ms)")
      ->check(CLI::Range(1u, 86400000u))
      ->capture_default_str();
}

// Fault injection, for tests.
void AddFaultOptions(CLI::App& app, qxsym::sim::SessionOptions& s) {
  app.add_option("--bad-checksum-every", s.bad_checksum_every,
                 "Fault: every Nth reply frame goes out with a bad checksum");
  app.add_option("--nak-every", s.nak_every, "Fault: answer every Nth command frame with \"-\"");
  app.add_option("--stale-every", s.stale_every,
                 "Fault: send a reply with an old sequence number before every Nth reply");
  app.add_option("--delay", s.delay_ms, "Fault: wait this long before every reply (ms)");
  app.add_option("--close-after", s.close_after,
                 "Fault: close the connection when the Nth command frame arrives");
  app.add_flag("--short-reply", s.short_reply,
               "Fault: value replies carry one byte less than the value");
}

// The model to serve, or null after a message on standard error.
std::shared_ptr<qxsym::sim::SymbolModel> LoadModel(const std::string& path,
                                                   const std::string& program_dir) {
  using namespace qxsym::sim;
  if (path.empty()) {
    std::string looked;
    for (const std::string& candidate : DefaultModelCandidates(program_dir)) {
      looked += " " + candidate;
    }
    std::fprintf(stderr, "qxsym-sim: no --model given and no demo model found (looked at:%s)\n",
                 looked.empty() ? " nothing, the program's folder is unknown" : looked.c_str());
    return nullptr;
  }
  std::string error;
  std::shared_ptr<SymbolModel> model = SymbolModel::LoadFile(path, &error);
  if (!model) std::fprintf(stderr, "qxsym-sim: %s\n", error.c_str());
  return model;
}

// SIGINT and SIGTERM stop g_server; a peer that goes away raises no SIGPIPE.
void StopOnSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// SIGHUP asks g_reloader for a reload (and no longer ends the program).
void ReloadOnSighup() {
  struct sigaction sa {};
  sa.sa_handler = OnReloadSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGHUP, &sa, nullptr);
}

// Options of the program itself, beside the server's and the session's.
struct ProgramOptions {
  std::string model_path;
  std::string version;
  bool no_ack = false;
  bool no_seq = false;
  std::uint32_t scan_ms = 100;
  std::uint32_t reload_every_ms = 0;
};

void AddProgramOptions(CLI::App& app, ProgramOptions& p, qxsym::sim::ServerOptions& options) {
  app.add_option("--model", p.model_path,
                 "Symbol model (JSON); default: the demo model installed with the program")
      ->capture_default_str();
  app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
  app.add_option("--port", options.port, "Port to listen on; 0 picks a free one")
      ->capture_default_str();
  app.add_option("--version", p.version, "Server version reported, a.b.c.d");
  app.add_flag("--no-ack", p.no_ack, "Controller without one-byte acknowledgements");
  app.add_flag("--no-seq", p.no_seq, "Controller without sequence numbers");
  AddServerOptions(app, options);
  app.add_option("--scan", p.scan_ms, "Period of the live-value scan (ms); 0 freezes the values")
      ->capture_default_str();
  app.add_flag("-v,--verbose", options.verbose, "Trace every frame on standard error");
  AddFaultOptions(app, options.session);
  app.add_option("--reload-every", p.reload_every_ms,
                 "Fault: reload the model file every MS milliseconds, as a program download "
                 "does (SIGHUP reloads at any time)");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qxsym::sim;
  ServerOptions options;
  const std::string program_dir = ProgramDir(argc > 0 ? argv[0] : nullptr);
  ProgramOptions p;
  p.model_path = FindDefaultModel(program_dir);
  CLI::App app{"Simulated controller: serves a symbol model over TCP."};
  AddProgramOptions(app, p, options);
  CLI11_PARSE(app, argc, argv);
  options.session.ack = !p.no_ack;
  options.session.sequence = !p.no_seq;
  const std::string& version = p.version;

  std::uint8_t v[4] = {};
  if (!version.empty() && !ParseVersion(version, v)) {
    std::fprintf(stderr, "qxsym-sim: --version wants a.b.c.d with numbers 0 to 255\n");
    return 2;
  }

  std::shared_ptr<SymbolModel> model = LoadModel(p.model_path, program_dir);
  if (!model) return 2;
  auto service = std::make_shared<SymbolService>(model);
  if (!version.empty()) service->SetVersion(v[0], v[1], v[2], v[3]);

  // Started before any other thread, so that only its watcher takes SIGHUP.
  ProgramReloader reloader(p.model_path, service, p.scan_ms,
                           std::chrono::milliseconds(p.reload_every_ms));
  g_reloader = &reloader;
  ReloadOnSighup();
  std::string error;
  if (!reloader.Start(&error)) {
    std::fprintf(stderr, "qxsym-sim: %s\n", error.c_str());
    return 1;
  }

  Server server(options, std::make_shared<ModelBackend>(service));
  if (!server.Listen(&error)) {
    std::fprintf(stderr, "qxsym-sim: %s\n", error.c_str());
    return 1;
  }

  g_server = &server;
  StopOnSignals();

  std::printf("listening on %s:%u\n", server.host().c_str(), static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  server.Run();
  g_server = nullptr;
  g_reloader = nullptr;
  reloader.Stop();
  return 0;
}
