// qxsym info: the server's version, its support level and its number of
// global tags.
#include <iostream>

#include "Commands.h"

namespace qxsym::cli {
namespace {

struct InfoResult {
  std::string host;
  std::uint16_t port = 0;
  std::string version;
  bool full_support = true;
  std::uint32_t global_tags = 0;
};

InfoResult RunInfo(const Context& ctx) {
  std::unique_ptr<client::Session> session = Connect(ctx);
  std::uint8_t v[4] = {};
  QXSymResult r = QXSym_GetServerVersion(session->workspace(), &v[0], &v[1], &v[2], &v[3]);
  if (r != symResOk) throw CliError(r, "cannot read the server version");
  InfoResult result;
  result.host = ctx.endpoint.host;
  result.port = ctx.endpoint.port;
  r = QXSym_GetGlobalTagsNum(session->workspace(), &result.global_tags);
  if (r != symResOk) throw CliError(r, "cannot count the global tags");
  for (int i = 0; i < 4; ++i) result.version += (i ? "." : "") + std::to_string(v[i]);
  // Services of version 3.0.0 lack some functions.
  result.full_support = !(v[0] == 3 && v[1] == 0 && v[2] == 0);
  return result;
}

void PrintInfoJson(const InfoResult& r) {
  PrintJson({{"host", r.host},
             {"port", r.port},
             {"version", r.version},
             {"full_support", r.full_support},
             {"global_tags", r.global_tags}});
}

void PrintInfoText(const Style& s, const InfoResult& r) {
  const char* support = r.full_support ? "full" : "partial (3.0.0 lacks some functions)";
  PrintTable(std::cout, s, {"server", Escaped(r.host) + ":" + std::to_string(r.port)},
             {{"version", r.version},
              {"support", support},
              {"global tags", std::to_string(r.global_tags)}});
}

}  // namespace

Command AddInfo(CLI::App& app) {
  Command c;
  c.app = AddSubcommand(app, "info", "server version, support level and number of global tags",
                        "  qxsym info\n  qxsym --json info");
  c.run = [](const Context& ctx) {
    const InfoResult r = RunInfo(ctx);
    if (ctx.json) {
      PrintInfoJson(r);
    } else {
      PrintInfoText(ctx.out_style, r);
    }
    return 0;
  };
  return c;
}

}  // namespace qxsym::cli
