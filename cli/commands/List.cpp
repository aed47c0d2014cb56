// qxsym ls: the global tags matching a filter, with type, size, flags and
// description, or names only.
#include <Lister.h>

#include <iostream>
#include <memory>

#include "Commands.h"

namespace qxsym::cli {
namespace {

struct ListOptions {
  std::string filter;
  bool names_only = false;
  // Extra connections are opened only for a listing beyond one reply.
  unsigned connections = 4;
};

// Tags batch by batch as the core finds them; false after the last.
class ListRun {
 public:
  ListRun(const Context& ctx, const ListOptions& o) {
    CheckSentText(ctx, o.filter, "filter");
    session_ = Connect(ctx, o.connections);
    client::ListOptions options;
    options.filter = o.filter;
    options.details = options.descriptions = !o.names_only;
    options.connections = o.connections;
    client::Session* s = session_.get();
    lister_ = std::make_unique<client::Lister>(
        s->workspace(), s->encoding(), [s] { return s->OpenExtra(); }, options);
  }
  bool Next(std::vector<client::TagInfo>* batch) {
    if (done_) return false;
    batch->clear();
    QXSymResult rc = symResOk;
    if (!lister_->Next(batch, &done_, &rc)) throw CliError(rc, "cannot list the tags");
    return !batch->empty() || !done_;
  }

 private:
  std::unique_ptr<client::Session> session_;
  std::unique_ptr<client::Lister> lister_;
  bool done_ = false;
};

Json TagJson(const client::TagInfo& t) {
  return {{"name", t.name},
          {"type", t.type_name},
          {"size", t.full_size},
          {"data_size", t.size},
          {"read_only", (t.flags & client::kTagReadOnly) != 0},
          {"bit", (t.flags & client::kTagBitAddress) != 0},
          {"description", t.description}};
}

void PrintListJson(const std::vector<client::TagInfo>& tags, bool names_only) {
  Json list = Json::array();
  for (const client::TagInfo& t : tags) list.push_back(names_only ? Json(t.name) : TagJson(t));
  PrintJson(list);
}

void PrintListText(const Style& s, const std::vector<client::TagInfo>& tags) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(tags.size());
  for (const client::TagInfo& t : tags) {
    const std::string flags = std::string((t.flags & client::kTagReadOnly) ? "R" : "-") +
                              ((t.flags & client::kTagBitAddress) ? "B" : "-");
    rows.push_back({Escaped(t.name), Escaped(t.type_name), std::to_string(t.full_size), flags,
                    s.Dim(Escaped(t.description))});
  }
  PrintTable(std::cout, s, {"NAME", "TYPE", "SIZE", "FLAGS", "DESCRIPTION"}, rows, {2});
  if (IsTerminal(stdout)) {
    std::cout << s.Dim(std::to_string(tags.size()) + " tags; flags: R read-only, B bit address")
              << '\n';
  }
}

int RunList(const Context& ctx, const ListOptions& o) {
  ListRun run(ctx, o);
  std::vector<client::TagInfo> batch, all;
  const bool stream = o.names_only && !ctx.json;
  while (run.Next(&batch)) {
    if (!stream) {
      all.insert(all.end(), std::make_move_iterator(batch.begin()),
                 std::make_move_iterator(batch.end()));
      continue;
    }
    // Names as found, so the first show at once.
    for (const client::TagInfo& t : batch) std::cout << Escaped(t.name) << '\n';
    std::cout << std::flush;
  }
  if (ctx.json) {
    PrintListJson(all, o.names_only);
  } else if (!stream) {
    PrintListText(ctx.out_style, all);
  }
  return 0;
}

}  // namespace

Command AddList(CLI::App& app) {
  auto o = std::make_shared<ListOptions>();
  Command c;
  c.app = AddSubcommand(app, "ls",
                        "list global tags matching FILTER (* any run, ? one character): type, "
                        "size, flags (R read-only, B bit address) and description",
                        "  qxsym ls\n  qxsym ls 'Cnt*'\n  qxsym ls --names 'Area01_*' | wc -l\n"
                        "  qxsym ls --connections 4 --names > names.txt\n"
                        "  qxsym --json ls 'Temp?'");
  c.app->add_option("FILTER", o->filter, "glob over tag names; all tags when omitted");
  c.app->add_flag("--names", o->names_only, "names only (fast)");
  c.app
      ->add_option("--connections", o->connections,
                   "connections to the controller for a long listing, 1 to " +
                       std::to_string(client::kMaxListConnections))
      ->check(CLI::Range(1u, client::kMaxListConnections))
      ->capture_default_str();
  c.run = [o](const Context& ctx) { return RunList(ctx, *o); };
  return c;
}

}  // namespace qxsym::cli
