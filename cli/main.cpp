// qxsym: the library's functions from a terminal or a script.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "Commands.h"

using namespace qxsym::cli;

namespace {

constexpr const char* kDescription =
    "qxsym: look at and change the tags of a PLC application through its controller's "
    "symbol service.";

constexpr const char* kFooter = R"(Connection: --host and --port, or QXSYM_HOST and QXSYM_PORT.
Output: aligned text on a terminal (colour unless NO_COLOR is set), or one JSON
document with --json. Exit status 0 on success, 1 when the controller or the
library refuses (the message names the result code), 2 and above for usage
errors.

Examples:
  qxsym --port 7000 info
  export QXSYM_HOST=10.0.0.5 QXSYM_PORT=7000
  qxsym ls 'Line*'
  qxsym read Line.Speed Temps
  qxsym write Recipe.Id 43
  qxsym --json read Recipe)";

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
  app.set_version_flag("--version", "qxsym 3.0.1.1");
  app.add_option("--host", ctx.endpoint.host, "controller's host name or IPv4 address")
      ->envname("QXSYM_HOST")
      ->capture_default_str();
  std::uint32_t port = 0;
  app.add_option("--port", port, "controller's TCP port (required)")
      ->envname("QXSYM_PORT")
      ->check(CLI::Range(1, 65535));
  std::uint32_t timeout = 0;
  app.add_option("--timeout", timeout, "reply time-out in ms, 1 to 65535 (default 10000)")
      ->check(CLI::Range(1, 65535));
  app.add_flag("--json", ctx.json, "print one JSON document instead of text");

  auto add = [&](const char* name, const char* help, const char* examples) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->footer(std::string("Examples:\n") + examples);
    return sub;
  };

  CLI::App* info = add("info", "server version, support level and number of global tags",
                       "  qxsym info\n  qxsym --json info");

  std::string filter;
  bool names_only = false;
  CLI::App* ls = add("ls",
                     "list global tags matching FILTER (* any run, ? one character): type, size, "
                     "flags (R read-only, B bit address) and description",
                     "  qxsym ls\n  qxsym ls 'Cnt*'\n  qxsym ls --names 'Area01_*' | wc -l\n"
                     "  qxsym --json ls 'Temp?'");
  ls->add_option("FILTER", filter, "glob over tag names; all tags when omitted");
  ls->add_flag("--names", names_only, "names only (fast)");

  std::vector<std::string> read_tags;
  CLI::App* read = add("read",
                       "read tags in one group exchange; structures, function blocks and arrays "
                       "are shown member by member",
                       "  qxsym read CntInt\n  qxsym read Line Temps[1] Line.Main.Speed\n"
                       "  qxsym --json read Recipe Grid");
  read->add_option("TAG", read_tags, "tag names or member paths")->required();

  std::string write_tag, write_value;
  CLI::App* write = add("write",
                        "write a value, parsed by the tag's type with range checks; a structure "
                        "or array as JSON; prints the value read back",
                        "  qxsym write CntInt -42\n  qxsym write Operator 'Smith'\n"
                        "  qxsym write StatusWord 16#00FF\n"
                        "  qxsym write Recipe '{\"Id\": 7, \"OvenTemp\": 180.5}'\n"
                        "  qxsym write Recipe.StepTemps '[100, 120, 140, 160, 180]'");
  write->add_option("TAG", write_tag, "tag name or member path")->required();
  write->add_option("VALUE", write_value, "the value: text, or JSON for a structure or array")
      ->required();

  std::string type_tag;
  CLI::App* type = add("type", "the tag's type tree: sizes, properties, members, dimensions",
                       "  qxsym type Line\n  qxsym --json type RecipeBook");
  type->add_option("TAG", type_tag, "tag name or member path")->required();

  std::vector<std::string> watch_tags;
  std::uint32_t interval = 1000;
  std::uint64_t count = 0;
  CLI::App* watch = add("watch",
                        "read tags once per interval as one group and print what changed, with "
                        "a timestamp; Ctrl-C stops",
                        "  qxsym watch Heartbeat CntDint\n"
                        "  qxsym watch --interval 100 --count 50 Line.Main.Speed\n"
                        "  qxsym --json watch --count 10 Temps > temps.json");
  watch->add_option("TAG", watch_tags, "tag names or member paths")->required();
  watch->add_option("--interval", interval, "milliseconds between reads")
      ->check(CLI::Range(1u, 86400000u))
      ->capture_default_str();
  watch->add_option("--count", count, "stop after this many reads (0: until Ctrl-C)")
      ->capture_default_str();

  std::string table_file;
  bool force = false;
  CLI::App* table = add("table", "download the raw symbol table into FILE",
                        "  qxsym table symbols.bin\n  qxsym table --force symbols.bin");
  table->add_option("FILE", table_file, "file to write")->required();
  table->add_flag("--force", force, "replace FILE when it exists");

  std::string bench_tag;
  std::uint32_t bench_count = 1000, max_group = 1000;
  CLI::App* bench = add("bench",
                        "time single reads and group reads of 1, 10, 100, 1000 values against the "
                        "connected controller",
                        "  qxsym bench\n  qxsym bench --count 200 CntDint\n"
                        "  qxsym --json bench --max-group 100");
  bench->add_option("TAG", bench_tag, "tag to read (default: the first basic tag)");
  bench->add_option("--count", bench_count, "reads per row")
      ->check(CLI::Range(1u, 10000000u))
      ->capture_default_str();
  bench->add_option("--max-group", max_group, "largest group, 1 to 10000")
      ->check(CLI::Range(1u, 10000u))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (port == 0) {
    std::cerr << ctx.err_style.Red("qxsym: error:")
              << " no port: give --port or set QXSYM_PORT (qxsym-sim prints its port when it "
                 "starts)\n";
    return 2;
  }
  ctx.endpoint.port = static_cast<std::uint16_t>(port);
  ctx.endpoint.timeout_ms = static_cast<std::uint16_t>(timeout);

  try {
    if (info->parsed()) return RunInfo(ctx);
    if (ls->parsed()) return RunList(ctx, filter, names_only);
    if (read->parsed()) return RunRead(ctx, read_tags);
    if (write->parsed()) return RunWrite(ctx, write_tag, write_value);
    if (type->parsed()) return RunType(ctx, type_tag);
    if (watch->parsed()) return RunWatch(ctx, watch_tags, interval, count);
    if (table->parsed()) return RunTable(ctx, table_file, force);
    if (bench->parsed()) return RunBench(ctx, bench_tag, bench_count, max_group);
  } catch (const CliError& e) {
    ReportError(ctx, e);
    return 1;
  } catch (const std::exception& e) {
    ReportError(ctx, CliError(symResNotOk, e.what()));
    return 1;
  }
  return 2;
}
