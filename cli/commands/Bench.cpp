// qxsym bench: single reads and group reads of 1, 10, 100, 1000 values
// timed against the connected controller.
#include <Lister.h>
#include <SourcePath.h>

#include <chrono>
#include <iostream>
#include <sstream>

#include "Commands.h"

namespace qxsym::cli {
namespace {

struct BenchOptions {
  std::string tag;
  std::uint32_t count = 1000;
  std::uint32_t max_group = 1000;
};

struct BenchRow {
  std::string test;
  std::uint32_t values = 0;
  std::uint32_t reads = 0;
  double seconds = 0;
  double PerRead() const { return reads ? seconds / reads : 0; }
};

struct BenchResult {
  std::string tag;
  std::vector<BenchRow> rows;
};

// The first tag of a number or bool type, found by listing.
std::string FirstBasicTag(client::Session& session) {
  client::ListOptions options;
  options.details = true;
  client::Lister lister(session.workspace(), session.encoding(), nullptr, options);
  std::vector<client::TagInfo> batch;
  bool done = false;
  QXSymResult rc = symResOk;
  while (!done && lister.Next(&batch, &done, &rc)) {
    for (const client::TagInfo& t : batch) {
      const client::ValueKind kind = client::KindOf(t.tyvar);
      if (kind != client::ValueKind::kText && kind != client::ValueKind::kBytes &&
          kind != client::ValueKind::kNone) {
        return t.name;
      }
    }
  }
  if (rc != symResOk) throw CliError(rc, "cannot list the tags");
  throw CliError(symResSymbolNotFound, "no tag of a basic type to measure with",
                 "name a tag: qxsym bench TAG");
}

void Check(QXSymResult r, const std::string& what) {
  if (r != symResOk) throw CliError(r, what);
}

// Each lookup gives a tag reference of its own, so one tag can fill a
// group of any size. name in UTF-8, looked up as the source spells it.
BenchRow GroupRow(client::Session& session, QXSymGroupHandle group, const std::string& name,
                  std::uint32_t n, std::uint32_t count, std::vector<QXSymTagHandle>* members) {
  std::string spelt;
  Check(client::SpellPath(name, session.encoding(), &spelt), "cannot find '" + name + "'");
  while (members->size() < n) {
    QXSymTagHandle tag = 0;
    Check(QXSym_GetGlobalTag(session.workspace(), spelt.c_str(), &tag),
          "cannot find '" + name + "'");
    members->push_back(tag);
    Check(QXSym_AddTagToGroup(group, tag), "cannot add a group member");
  }
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t i = 0; i < count; ++i) Check(QXSym_ReadGroup(group), "cannot read the group");
  return {"group read", n, count,
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

BenchResult RunBench(const Context& ctx, const BenchOptions& o) {
  if (!o.tag.empty()) CheckSentText(ctx, o.tag, "tag name");
  std::unique_ptr<client::Session> session = Connect(ctx);
  BenchResult result;
  result.tag = o.tag.empty() ? FirstBasicTag(*session) : o.tag;
  client::TagFacts facts;
  Check(session->Tag(result.tag, &facts), "cannot find '" + result.tag + "'");
  std::vector<std::uint8_t> buffer(facts.data_size == 0 ? 1 : facts.data_size);
  auto start = std::chrono::steady_clock::now();
  for (std::uint32_t i = 0; i < o.count; ++i) {
    Check(QXSym_GetTagValue_Ptr(facts.handle, buffer.data(),
                                static_cast<std::uint32_t>(buffer.size())),
          "cannot read '" + result.tag + "'");
  }
  result.rows.push_back(
      {"single read", 1, o.count,
       std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()});
  QXSymGroupHandle group = 0;
  Check(QXSym_CreateGroup(session->workspace(), &group), "cannot create a group");
  std::vector<QXSymTagHandle> members;
  try {
    for (std::uint32_t n = 1; n <= o.max_group; n *= 10) {
      result.rows.push_back(GroupRow(*session, group, result.tag, n, o.count, &members));
    }
  } catch (...) {
    QXSym_DeleteGroup(group);
    for (QXSymTagHandle t : members) QXSym_CloseTag(t);
    throw;
  }
  QXSym_DeleteGroup(group);
  for (QXSymTagHandle t : members) QXSym_CloseTag(t);
  return result;
}

std::string Fixed(double v, int decimals) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(decimals);
  s << v;
  return s.str();
}

void PrintBenchJson(const BenchResult& r) {
  Json list = Json::array();
  for (const BenchRow& row : r.rows) {
    const double per_read = row.PerRead();
    list.push_back({{"test", row.test},
                    {"values_per_read", row.values},
                    {"reads", row.reads},
                    {"us_per_read", per_read * 1e6},
                    {"reads_per_s", per_read > 0 ? 1 / per_read : 0},
                    {"values_per_s", per_read > 0 ? row.values / per_read : 0}});
  }
  PrintJson({{"tag", r.tag}, {"results", list}});
}

void PrintBenchText(const Style& s, const BenchResult& r, std::uint32_t count) {
  std::cout << "tag " << s.Bold(Escaped(r.tag)) << ", " << count << " reads per row\n";
  std::vector<std::vector<std::string>> table;
  for (const BenchRow& row : r.rows) {
    const double per_read = row.PerRead();
    table.push_back({row.test, std::to_string(row.values), std::to_string(row.reads),
                     Fixed(per_read * 1e6, 1), Fixed(per_read > 0 ? 1 / per_read : 0, 0),
                     Fixed(per_read > 0 ? row.values / per_read : 0, 0)});
  }
  PrintTable(std::cout, s, {"TEST", "VALUES", "READS", "US/READ", "READS/S", "VALUES/S"}, table,
             {1, 2, 3, 4, 5});
}

}  // namespace

Command AddBench(CLI::App& app) {
  auto o = std::make_shared<BenchOptions>();
  Command c;
  c.app = AddSubcommand(app, "bench",
                        "time single reads and group reads of 1, 10, 100, 1000 values against "
                        "the connected controller",
                        "  qxsym bench\n  qxsym bench --count 200 CntDint\n"
                        "  qxsym --json bench --max-group 100");
  c.app->add_option("TAG", o->tag, "tag to read (default: the first basic tag)");
  c.app->add_option("--count", o->count, "reads per row")
      ->check(CLI::Range(1u, 10000000u))
      ->capture_default_str();
  c.app->add_option("--max-group", o->max_group, "largest group, 1 to 10000")
      ->check(CLI::Range(1u, 10000u))
      ->capture_default_str();
  c.run = [o](const Context& ctx) {
    const BenchResult r = RunBench(ctx, *o);
    if (ctx.json) {
      PrintBenchJson(r);
    } else {
      PrintBenchText(ctx.out_style, r, o->count);
    }
    return 0;
  };
  return c;
}

}  // namespace qxsym::cli
