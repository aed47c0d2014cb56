// qxsym read: tags in one group exchange; structures, function blocks and
// arrays member by member. Each tag that fails is reported and the others
// are printed.
#include <iostream>

#include "Commands.h"
#include "TagValues.h"

namespace qxsym::cli {
namespace {

// Failed tags are null, so the document still says which were asked for.
void PrintReadJson(const std::vector<TagValues>& tags) {
  Json doc = Json::object();
  for (const TagValues& t : tags) doc[t.path] = t.ok() ? t.tree->ToJson(t.values) : Json();
  PrintJson(doc);
}

void PrintReadText(const Style& s, const std::vector<TagValues>& tags) {
  for (const TagValues& t : tags) {
    if (t.ok()) t.tree->Print(std::cout, s, t.values);
  }
}

int RunRead(const Context& ctx, const std::vector<std::string>& paths) {
  std::unique_ptr<client::Session> session = Connect(ctx);
  const std::vector<TagValues> tags = ReadTags(ctx, *session, paths);
  bool failed = false, any_good = false;
  for (const TagValues& t : tags) {
    if (!t.ok()) {
      ReportError(ctx, t.error(), false);
      failed = true;
    } else {
      any_good = true;
    }
  }
  if (ctx.json) {
    PrintReadJson(tags);
  } else if (any_good) {
    PrintReadText(ctx.out_style, tags);
  }
  return failed ? kExitRefused : 0;
}

}  // namespace

Command AddRead(CLI::App& app) {
  auto paths = std::make_shared<std::vector<std::string>>();
  Command c;
  c.app = AddSubcommand(app, "read",
                        "read tags in one group exchange; structures, function blocks and arrays "
                        "are shown member by member, arrays by their declared indices",
                        "  qxsym read CntInt\n  qxsym read Line Temps[1] Line.Main.Speed\n"
                        "  qxsym --json read Recipe Grid");
  c.app->add_option("TAG", *paths, "tag names or member paths")->required();
  c.run = [paths](const Context& ctx) { return RunRead(ctx, *paths); };
  return c;
}

}  // namespace qxsym::cli
