#include "Context.h"

#include <LeafCodec.h>
#include <ResultInfo.h>

#include <chrono>
#include <cstring>
#include <iostream>

#include "LeafJson.h"

namespace qxsym::cli {
namespace {

CliError ConnectError(const Context& ctx, QXSymResult r, std::chrono::steady_clock::duration took) {
  const Endpoint& e = ctx.endpoint;
  const std::string what = "cannot connect to " + e.host + ":" + std::to_string(e.port);
  const auto took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  const std::string why =
      client::OpenFailureMessage(r, static_cast<std::uint64_t>(took_ms), e.timeout_ms);
  if (why != client::InfoOf(r).message) {
    return CliError(r, what + ": " + why,
                    "it accepted the connection but answered nothing within the time-outs; "
                    "check that the port is its symbol service's and that it runs");
  }
  if (r == symResInvalidAddress) {
    return CliError(r, what,
                    "check --host and --port (QXSYM_HOST, QXSYM_PORT) and that the controller "
                    "or qxsym-sim is running");
  }
  return CliError(r, what);
}

}  // namespace

void ReportError(const Context& ctx, const CliError& e, bool document) {
  const client::ResultInfo& info = client::InfoOf(e.code());
  const std::string advice = e.advice().empty() ? info.advice : e.advice();
  std::cerr << ctx.err_style.Red("qxsym: error:") << " " << Escaped(e.what()) << ": "
            << ctx.err_style.Bold(info.name) << " (" << e.code() << ")\n  " << Escaped(advice)
            << std::endl;
  if (ctx.json && document) {
    std::cout << PrettyJson({{"error",
                              {{"code", e.code()},
                               {"name", info.name},
                               {"message", e.what()},
                               {"advice", advice}}}})
              << std::endl;
  }
}

std::unique_ptr<client::Session> Connect(const Context& ctx, unsigned connections) {
  QXSymServerAddress address{};
  address.protocol = symProtGDB_TCP;
  const Endpoint& e = ctx.endpoint;
  if (e.host.size() >= sizeof address.ip) {
    throw CliError(symResInvalidAddress, "host name '" + e.host + "' is too long",
                   "give at most " + std::to_string(sizeof address.ip - 1) + " characters");
  }
  std::memcpy(address.ip, e.host.c_str(), e.host.size() + 1);
  address.port = e.port;
  address.timeout = e.timeout_ms;
  client::SessionOptions options;
  options.encoding = ctx.encoding;
  options.connections = connections;
  QXSymResult r = symResOk;
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<client::Session> session = client::Session::Open(address, options, &r);
  if (!session) throw ConnectError(ctx, r, std::chrono::steady_clock::now() - started);
  return session;
}

void CheckSentText(const Context& ctx, const std::string& text, const char* what) {
  std::string spelt;
  client::CodecError err;
  if (!client::TextFromUtf8(text, ctx.encoding, &spelt, &err)) {
    throw CliError(err.code, std::string(what) + " '" + text + "': " + err.message);
  }
  if (spelt.size() <= kMaxSentText) return;
  throw CliError(symResInvalidParameter,
                 std::string(what) + " '" + text + "' is too long (" +
                     std::to_string(spelt.size()) + " bytes)",
                 "give at most " + std::to_string(kMaxSentText) + " bytes");
}

}  // namespace qxsym::cli
