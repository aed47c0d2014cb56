// qxsym type: a tag's type tree as the client core learned it, with each
// type's properties, members, dimensions and declared lower bounds; with
// --leaves, the values of basic types it holds, each with its byte offset.
#include <Layout.h>
#include <TypeCatalog.h>

#include <iostream>
#include <map>

#include "Commands.h"

namespace qxsym::cli {
namespace {

// The properties of each type (by name) met in the tree, asked once per
// type of the tree at the first path that has it.
class Properties {
 public:
  explicit Properties(client::Session& session) : session_(session) {}

  std::uint32_t Of(const client::TypeNode& node, const std::string& path) {
    auto it = known_.find(node.name);
    if (it != known_.end()) return it->second;
    client::TagFacts facts;
    QXSymTypeHandle type = 0;
    std::uint32_t properties = 0;
    QXSymResult r = session_.Tag(path, &facts);
    if (r == symResOk) r = QXSym_GetTagType(facts.handle, &type);
    if (r == symResOk) r = QXSym_TypeGetProperties(type, &properties);
    if (type != 0) QXSym_CloseType(type);
    if (r != symResOk) throw CliError(r, "cannot read the properties of '" + path + "'");
    known_[node.name] = properties;
    return properties;
  }

 private:
  client::Session& session_;
  std::map<std::string, std::uint32_t> known_;
};

std::vector<std::string> PropertyNames(std::uint32_t properties) {
  static const char* const kNames[] = {"Basic",         "Complex", "String", "Array",  "Struct",
                                       "FunctionBlock", "Numeric", "Signed", "Integer"};
  std::vector<std::string> out;
  for (int bit = 0; bit < 9; ++bit) {
    if (properties & (1u << bit)) out.emplace_back(kNames[bit]);
  }
  return out;
}

// The type tree as one result, apart from its printing.
struct TypeResult {
  std::string label, type;
  std::uint32_t size = 0;
  std::vector<std::string> properties;
  std::vector<std::uint32_t> dims;
  std::vector<std::int64_t> lower;
  std::vector<TypeResult> element;  // one for an array
  std::vector<TypeResult> members;
};

TypeResult Shape(Properties& props, const client::TypeNode& node, const std::string& path,
                 const std::string& label) {
  TypeResult r;
  r.label = label;
  r.type = node.name;
  r.size = node.size;
  r.properties = PropertyNames(props.Of(node, path));
  if (node.kind == client::TypeNode::Kind::kArray && node.element != nullptr) {
    r.dims = node.dims;
    r.lower = node.lower;
    const std::string first = path + client::ElementLabel(0, node.dims, node.lower);
    r.element.push_back(Shape(props, *node.element, first, "element"));
  }
  for (const client::TypeNode::Member& m : node.members) {
    r.members.push_back(Shape(props, *m.type, path + "." + m.name, m.name));
  }
  return r;
}

Json TypeJson(const TypeResult& r) {
  Json j = {{"type", r.type}, {"size", r.size}, {"properties", r.properties}};
  if (!r.element.empty()) {
    j["dims"] = r.dims;
    j["lower_bounds"] = r.lower;
    j["element"] = TypeJson(r.element.front());
  }
  if (!r.members.empty()) {
    Json members = Json::array();
    for (const TypeResult& m : r.members) {
      Json one = TypeJson(m);
      one["name"] = m.label;
      members.push_back(std::move(one));
    }
    j["members"] = std::move(members);
  }
  return j;
}

void PrintTypeText(std::ostream& out, const Style& style, const TypeResult& r, int indent) {
  std::string line(static_cast<std::size_t>(indent) * 2, ' ');
  line += style.Bold(Escaped(r.label)) + ": " + style.Cyan(Escaped(r.type)) + ", " +
          std::to_string(r.size) + (r.size == 1 ? " byte" : " bytes") + ",";
  for (const std::string& p : r.properties) line += " " + p;
  if (!r.element.empty()) {
    line += ", index";
    for (std::size_t d = 0; d < r.dims.size(); ++d) {
      line += (d ? ", " : " ") + std::to_string(r.lower[d]) + ".." +
              std::to_string(r.lower[d] + static_cast<std::int64_t>(r.dims[d]) - 1);
    }
  }
  out << line << '\n';
  for (const TypeResult& e : r.element) PrintTypeText(out, style, e, indent + 1);
  for (const TypeResult& m : r.members) PrintTypeText(out, style, m, indent + 1);
}

int RunType(const Context& ctx, const std::string& tag) {
  CheckSentText(ctx, tag, "tag name");
  std::unique_ptr<client::Session> session = Connect(ctx);
  client::WalkError err;
  const client::TypeNode* node = session->types().Learn(*session, tag, &err);
  if (node == nullptr) throw CliError(err.code, err.message);
  Properties props(*session);
  const TypeResult r = Shape(props, *node, tag, tag);
  if (ctx.json) {
    Json doc = {{"name", tag}};
    doc.update(TypeJson(r));
    PrintJson(doc);
  } else {
    PrintTypeText(std::cout, ctx.out_style, r, 0);
  }
  return 0;
}

// One value of a basic type within the described value.
struct LeafRow {
  std::string path;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::string type;
};

// The layout's leaves, an array leaf element by element under its declared
// indices.
std::vector<LeafRow> LeafRows(const client::Layout& layout) {
  std::vector<LeafRow> rows;
  for (const client::Leaf& leaf : layout.leaves) {
    const std::string type = client::TyVarName(leaf.tyvar);
    if (leaf.dims.empty()) {
      rows.push_back({leaf.path, leaf.offset, leaf.size, type});
      continue;
    }
    for (std::uint32_t k = 0; k < leaf.count; ++k) {
      rows.push_back({leaf.path + client::ElementLabel(k, leaf.dims, leaf.lower),
                      leaf.offset + k * leaf.element_size, leaf.element_size, type});
    }
  }
  return rows;
}

int RunLeaves(const Context& ctx, const std::string& tag) {
  CheckSentText(ctx, tag, "tag name");
  std::unique_ptr<client::Session> session = Connect(ctx);
  client::WalkError err;
  const std::shared_ptr<const client::Layout> layout = client::Describe(*session, tag, &err);
  if (!layout) throw CliError(err.code, err.message);
  const std::vector<LeafRow> rows = LeafRows(*layout);
  if (ctx.json) {
    Json leaves = Json::array();
    for (const LeafRow& r : rows) {
      leaves.push_back(
          {{"path", r.path}, {"offset", r.offset}, {"size", r.size}, {"type", r.type}});
    }
    PrintJson({{"name", tag}, {"type", layout->type_name}, {"leaves", std::move(leaves)}});
    return 0;
  }
  std::vector<std::vector<std::string>> table;
  for (const LeafRow& r : rows) {
    table.push_back({Escaped(r.path), std::to_string(r.offset), std::to_string(r.size), r.type});
  }
  PrintTable(std::cout, ctx.out_style, {"PATH", "OFFSET", "SIZE", "TYPE"}, table, {1, 2});
  return 0;
}

}  // namespace

Command AddType(CLI::App& app) {
  auto tag = std::make_shared<std::string>();
  auto leaves = std::make_shared<bool>(false);
  Command c;
  c.app = AddSubcommand(
      app, "type", "the tag's type tree: sizes, properties, members, declared index ranges",
      "  qxsym type Line\n  qxsym --json type RecipeBook\n  qxsym type --leaves Line");
  c.app->add_option("TAG", *tag, "tag name or member path")->required();
  c.app->add_flag("--leaves", *leaves,
                  "list the values of basic types the tag holds instead: path, byte offset within "
                  "the tag, size, basic type");
  c.run = [tag, leaves](const Context& ctx) {
    return *leaves ? RunLeaves(ctx, *tag) : RunType(ctx, *tag);
  };
  return c;
}

}  // namespace qxsym::cli
