// qxsym: the tags of a controller from a terminal or a script.
#include <LeafCodec.h>
#include <QXSymbols.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <string>

#include "Commands.h"

using namespace qxsym::cli;

namespace {

constexpr const char* kDescription =
    "qxsym: look at and change the tags of a PLC application through its controller's "
    "symbol service.";

constexpr const char* kFooter = R"(Connection: --host and --port, or QXSYM_HOST and QXSYM_PORT.
Texts: the controller's 8-bit texts are read and written in --encoding
(latin1 by default, which keeps every byte; utf8 or windows1252).
Output: aligned text on a terminal (colour unless NO_COLOR is set), or one JSON
document with --json (watch: one JSON object a line). Exit status 0 on success,
1 when the controller or the library refuses (the message names the result
code), 2 for usage errors (unknown command, bad option).

Examples:
  qxsym --port 7000 info
  export QXSYM_HOST=10.0.0.5 QXSYM_PORT=7000
  qxsym ls 'Line*'
  qxsym read Line.Speed Temps
  qxsym write Recipe.Id 43
  qxsym --json read Recipe)";

struct GlobalOptions {
  std::uint32_t port = 0;
  std::uint32_t timeout = 0;
  std::string encoding = "latin1";
};

void AddGlobalOptions(CLI::App& app, Context& ctx, GlobalOptions& g) {
  app.add_option("--host", ctx.endpoint.host, "controller's host name or IPv4 address")
      ->envname("QXSYM_HOST")
      ->capture_default_str();
  app.add_option("--port", g.port, "controller's TCP port (required)")
      ->envname("QXSYM_PORT")
      ->check(CLI::Range(1, 65535));
  app.add_option("--timeout", g.timeout, "reply time-out in ms, 1 to 65535 (default 10000)")
      ->check(CLI::Range(1, 65535));
  app.add_option("--encoding", g.encoding,
                 "the controller's text encoding: latin1, utf8 or windows1252")
      ->check([](const std::string& name) {
        qxsym::client::Encoding e;
        return qxsym::client::EncodingNamed(name, &e) ? std::string()
                                                      : "unknown encoding '" + name + "'";
      })
      ->capture_default_str();
  app.add_flag("--json", ctx.json, "print one JSON document instead of text");
}

// The first word of the command line that is neither an option nor an
// option's value: the command the user meant; empty when there is none.
std::string CommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--host" || arg == "--port" || arg == "--timeout" || arg == "--encoding") {
      ++i;
    } else if (arg.empty() || arg[0] != '-') {
      return arg;
    }
  }
  return {};
}

// A usage error on standard error, exit status 2; help and version exit 0.
int UsageError(CLI::App& app, const CLI::ParseError& e, const Context& ctx, int argc, char** argv) {
  if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
  std::string message = e.what();
  const std::string word = CommandWord(argc, argv);
  if (app.get_subcommands().empty() && !word.empty()) {
    message = "unknown command '" + word + "'";
  }
  std::cerr << ctx.err_style.Red("qxsym: error:") << " " << Escaped(message)
            << "\n  run 'qxsym --help' for the commands and options\n";
  return kExitUsage;
}

// The version line: the library's own version.
std::string VersionText() {
  return "qxsym " + std::to_string(QXSYMBOLS_VERSION_MAJOR) + "." +
         std::to_string(QXSYMBOLS_VERSION_MINOR) + "." +
         std::to_string(QXSYMBOLS_VERSION_REVISION) + "." + std::to_string(QXSYMBOLS_VERSION_BUILD);
}

}  // namespace

int main(int argc, char** argv) {
  Context ctx;
  ctx.out_style = StyleFor(stdout);
  ctx.err_style = StyleFor(stderr);
  ctx.progress = IsTerminal(stderr);

  CLI::App app{kDescription, "qxsym"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", VersionText());
  GlobalOptions global;
  AddGlobalOptions(app, ctx, global);
  const Command commands[] = {AddInfo(app), AddList(app),  AddRead(app),  AddWrite(app),
                              AddType(app), AddWatch(app), AddTable(app), AddBench(app)};
  // Extra words are TAG VALUE pairs of write, and wrong anywhere else.
  app.allow_extras();
  try {
    app.parse(argc, argv);
    if (!app.remaining().empty() && !commands[3].app->parsed()) {
      throw CLI::ExtrasError(app.remaining());
    }
  } catch (const CLI::ParseError& e) {
    return UsageError(app, e, ctx, argc, argv);
  }
  if (global.port == 0) {
    std::cerr << ctx.err_style.Red("qxsym: error:")
              << " no port: give --port or set QXSYM_PORT (qxsym-sim prints its port when it "
                 "starts)\n";
    return kExitUsage;
  }
  ctx.endpoint.port = static_cast<std::uint16_t>(global.port);
  ctx.endpoint.timeout_ms = static_cast<std::uint16_t>(global.timeout);
  qxsym::client::EncodingNamed(global.encoding, &ctx.encoding);

  try {
    for (const Command& c : commands) {
      if (c.app->parsed()) return c.run(ctx);
    }
  } catch (const CliError& e) {
    ReportError(ctx, e);
    return kExitRefused;
  } catch (const std::exception& e) {
    ReportError(ctx, CliError(symResNotOk, e.what()));
    return kExitRefused;
  }
  return kExitUsage;
}
