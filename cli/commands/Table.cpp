// qxsym table: the raw symbol table into a file, or to standard output.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>

#include "Commands.h"
#include "NewFile.h"
#include "QXSymbolsExt.h"

namespace qxsym::cli {
namespace {

struct TableOptions {
  std::string file;
  bool force = false;
};

// A progress bar on standard error, redrawn at most ten times a second and
// at the end.
struct ProgressBar {
  Style style;
  std::chrono::steady_clock::time_point last_draw{};
  bool drawn = false;

  static void QXSYM_CALL Report(std::uint32_t received, std::uint32_t total, void* self) {
    auto* bar = static_cast<ProgressBar*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (received < total && bar->drawn && now - bar->last_draw < std::chrono::milliseconds(100)) {
      return;
    }
    bar->last_draw = now;
    bar->drawn = true;
    constexpr int kWidth = 30;
    const double part = total == 0 ? 1.0 : static_cast<double>(received) / total;
    const int filled = static_cast<int>(part * kWidth);
    std::fprintf(
        stderr, "\r%s%s %3d%%  %u of %u bytes", bar->style.Green(std::string(filled, '#')).c_str(),
        std::string(kWidth - filled, '.').c_str(), static_cast<int>(part * 100), received, total);
    std::fflush(stderr);
  }
  void Finish() {
    if (drawn) std::fputc('\n', stderr);
  }
};

// The option that helps, where one does.
std::string AdviceOf(int code) {
  return code == symResFileAlreadyExists ? "the file exists; pass --force to replace it" : "";
}

void Download(const Context& ctx, client::Session& session, const std::string& written, bool force,
              const std::string& what) {
  ProgressBar bar{ctx.err_style};
  QXSymResult r = QXSym_GetSymbolTableProgress(session.workspace(), written.c_str(), force ? 1 : 0,
                                               ctx.progress ? &ProgressBar::Report : nullptr, &bar);
  bar.Finish();
  if (r != symResOk) throw CliError(r, what, AdviceOf(r));
}

// "-": the table through a private file (removed after) to standard output.
int ToStandardOutput(const Context& ctx, client::Session& session) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/qxsym-table-" +
                           std::to_string(static_cast<long>(getpid()));
  NewFile staged(base);
  Download(ctx, session, staged.staging(), false, "cannot download the symbol table");
  std::ifstream in(staged.staging(), std::ios::binary);
  std::cout << in.rdbuf() << std::flush;
  if (!in || !std::cout) {
    throw CliError(symResCannotWriteFile, "cannot copy the symbol table to standard output");
  }
  return 0;
}

int RunTable(const Context& ctx, const TableOptions& o) {
  std::unique_ptr<client::Session> session = Connect(ctx);
  if (o.file == "-") return ToStandardOutput(ctx, *session);
  const std::string what = "cannot download the symbol table into '" + o.file + "'";
  auto with_what = [&](const CliError& e) {
    return CliError(e.code(), what + ": " + e.what(),
                    e.advice().empty() ? AdviceOf(e.code()) : e.advice());
  };
  // Without --force the table is written beside the file and put in its
  // place only while nothing has that name.
  std::optional<NewFile> target;
  try {
    if (!o.force) target.emplace(o.file);
  } catch (const CliError& e) {
    throw with_what(e);
  }
  const std::string& written = target ? target->staging() : o.file;
  Download(ctx, *session, written, o.force, what);
  struct stat st {};
  long long bytes = stat(written.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  try {
    if (target) target->Publish();
  } catch (const CliError& e) {
    throw with_what(e);
  }
  if (ctx.json) {
    PrintJson({{"file", o.file}, {"bytes", bytes}});
  } else {
    std::cout << "wrote " << bytes << " bytes of symbol table to " << Escaped(o.file) << '\n';
  }
  return 0;
}

}  // namespace

Command AddTable(CLI::App& app) {
  auto o = std::make_shared<TableOptions>();
  Command c;
  c.app =
      AddSubcommand(app, "table", "download the raw symbol table into FILE (- for standard output)",
                    "  qxsym table symbols.bin\n  qxsym table --force symbols.bin\n"
                    "  qxsym table - | sha256sum");
  c.app->add_option("FILE", o->file, "file to write; - writes to standard output")->required();
  c.app->add_flag("--force", o->force, "replace FILE when it exists");
  c.run = [o](const Context& ctx) { return RunTable(ctx, *o); };
  return c;
}

}  // namespace qxsym::cli
