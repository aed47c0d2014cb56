// qxsym write: one tag's value, parsed by its type with range checks; a
// structure or array as JSON. Prints the value read back.
#include <Layout.h>

#include <iostream>

#include "Commands.h"
#include "TagValues.h"

namespace qxsym::cli {
namespace {

// TAG VALUE pairs, written together.
struct WriteOptions {
  std::vector<std::string> pairs;
};

std::shared_ptr<const client::Layout> LayoutOf(client::Session& session, const std::string& tag) {
  client::WalkError err;
  std::shared_ptr<const client::Layout> layout = client::Describe(session, tag, &err);
  if (!layout) throw CliError(err.code, err.message);
  return layout;
}

bool SingleValue(const client::Layout& layout) {
  return layout.leaves.size() == 1 && layout.leaves[0].path == layout.path &&
         layout.leaves[0].dims.empty();
}

// What to write: a basic value from its text, anything else from JSON.
std::vector<client::WriteItem> ItemsOf(const client::Layout& layout, const std::string& text) {
  if (SingleValue(layout)) {
    client::LeafValue v;
    client::CodecError err;
    if (!client::ParseLeafText(layout.leaves[0].tyvar, text, &v, &err)) {
      throw CliError(err.code, "'" + layout.path + "': " + err.message);
    }
    return {client::WriteItem{layout.path, {std::move(v)}}};
  }
  const Json value = Json::parse(text, nullptr, false);
  if (value.is_discarded()) {
    throw CliError(
        symResInvalidParameter,
        "'" + layout.path + "' is of type " + layout.type_name + ": give its value as JSON",
        "an object of members, or a list of elements (nested or flat)");
  }
  return ValueTree(layout).Writes(value);
}

void Write(client::Session& session, const std::vector<client::WriteItem>& items) {
  std::vector<client::WriteResult> results;
  const QXSymResult rc = client::Values(session).Write(items, &results);
  if (rc == symResOk) return;
  for (const client::WriteResult& r : results) {
    if (r.code == rc) throw CliError(rc, r.message);
  }
  throw CliError(rc, "cannot write '" + items.front().path + "'");
}

int RunWrite(const Context& ctx, const WriteOptions& o) {
  if (o.pairs.size() % 2 != 0) {
    std::cerr << ctx.err_style.Red("qxsym: error:")
              << " write takes TAG VALUE pairs: the last tag has no value\n";
    return kExitUsage;
  }
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < o.pairs.size(); i += 2) {
    CheckSentText(ctx, o.pairs[i], "tag name");
    tags.push_back(o.pairs[i]);
  }
  std::unique_ptr<client::Session> session = Connect(ctx);
  std::vector<client::WriteItem> items;
  for (std::size_t i = 0; i < o.pairs.size(); i += 2) {
    std::vector<client::WriteItem> more = ItemsOf(*LayoutOf(*session, o.pairs[i]), o.pairs[i + 1]);
    items.insert(items.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
  }
  Write(*session, items);
  const std::vector<TagValues> back = ReadTags(ctx, *session, tags);
  Json doc = Json::object();
  for (const TagValues& t : back) {
    if (!t.ok()) throw t.error();
    if (ctx.json) {
      doc[t.path] = t.tree->ToJson(t.values);
    } else {
      t.tree->Print(std::cout, ctx.out_style, t.values);
    }
  }
  if (ctx.json) PrintJson(doc);
  return 0;
}

}  // namespace

Command AddWrite(CLI::App& app) {
  auto o = std::make_shared<WriteOptions>();
  Command c;
  c.app = AddSubcommand(app, "write",
                        "write values, parsed by each tag's type with range checks; a structure "
                        "or array as JSON; several TAG VALUE pairs go in one exchange, and "
                        "when one is refused none is written; prints the values read back",
                        "  qxsym write CntInt -42\n  qxsym write Operator 'Smith'\n"
                        "  qxsym write StatusWord 16#00FF\n  qxsym write StatusByte 2#1010_0101\n"
                        "  qxsym write Recipe '{\"Id\": 7, \"OvenTemp\": 180.5}'\n"
                        "  qxsym write Recipe.StepTemps '[100, 120, 140, 160, 180]'\n"
                        "  qxsym write Temps[1] 30.5 Temps[8] 31");
  // TAG and VALUE one string each, so that a JSON list stays one value;
  // further pairs come as the command's remaining words.
  auto tag = std::make_shared<std::string>();
  auto value = std::make_shared<std::string>();
  c.app->add_option("TAG", *tag, "tag name or member path")->required();
  c.app
      ->add_option("VALUE", *value,
                   "the value: text, or JSON for a structure or array; more TAG VALUE pairs "
                   "may follow")
      ->required();
  CLI::App* sub = c.app;
  c.run = [o, tag, value, sub](const Context& ctx) {
    o->pairs = {*tag, *value};
    // The words beyond VALUE pass up to the application (main lets only
    // write have them).
    for (const std::string& more : sub->get_parent()->remaining()) o->pairs.push_back(more);
    return RunWrite(ctx, *o);
  };
  return c;
}

}  // namespace qxsym::cli
