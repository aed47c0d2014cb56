// The nesting of a layout's flat leaves by member and declared index, and
// a JSON value spread back onto the leaves for a write.
#include <gtest/gtest.h>

#include <sstream>

#include "Context.h"
#include "ValueTree.h"

namespace qxsym::cli {
namespace {

using client::Layout;
using client::Leaf;
using client::LeafValue;

Leaf Value(const std::string& path, std::uint32_t tyvar, std::vector<std::uint32_t> dims = {},
           std::vector<std::int64_t> lower = {}) {
  Leaf l;
  l.path = path;
  l.tyvar = tyvar;
  l.dims = std::move(dims);
  l.lower = std::move(lower);
  for (std::uint32_t d : l.dims) l.count *= d;
  return l;
}

LeafValue Signed(std::int64_t i) {
  LeafValue v;
  v.kind = client::ValueKind::kSigned;
  v.i = i;
  return v;
}

// Two stations of ARRAY[5..6] with a member name holding '[' and an array
// member of two dimensions, bounds -1 and 1.
Layout Stations() {
  Layout l;
  l.path = "St";
  for (const char* e : {"[5]", "[6]"}) {
    l.leaves.push_back(Value(std::string("St") + e + ".Na[me", QXSymTyVarDInt));
    l.leaves.push_back(Value(std::string("St") + e + ".G", QXSymTyVarInt, {2, 3}, {-1, 1}));
  }
  for (const Leaf& leaf : l.leaves) l.value_count += leaf.count;
  l.dims = {2};
  l.lower = {5};
  return l;
}

std::vector<LeafValue> Counting(std::size_t n) {
  std::vector<LeafValue> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(Signed(static_cast<std::int64_t>(i)));
  return v;
}

TEST(ValueTreeTest, LeavesNestByMemberAndDimension) {
  const Layout layout = Stations();
  ValueTree tree(layout);
  const Json doc = tree.ToJson(Counting(layout.value_count));
  EXPECT_EQ(doc, Json::parse(R"([{"Na[me": 0, "G": [[1, 2, 3], [4, 5, 6]]},
                                 {"Na[me": 7, "G": [[8, 9, 10], [11, 12, 13]]}])"))
      << doc.dump();
  std::ostringstream text;
  tree.Print(text, Style{}, Counting(layout.value_count));
  EXPECT_NE(text.str().find("St\n  [5]\n    Na[me = 0\n    G\n      [-1,1] = 1\n"),
            std::string::npos)
      << text.str();
  const std::vector<std::string> paths = tree.ValuePaths();
  ASSERT_EQ(paths.size(), 14u);
  EXPECT_EQ(paths[6], "St[5].G[0,3]");
  EXPECT_EQ(paths[7], "St[6].Na[me");
  // Too few values (a short reply) never print stale or made-up ones.
  EXPECT_TRUE(tree.ToJson(Counting(3)).is_null());
}

TEST(ValueTreeTest, WritesGiveOnlyWhatTheValueNames) {
  const Layout layout = Stations();
  ValueTree tree(layout);
  // One member of one element, a list given flat: that leaf alone.
  auto items = tree.Writes(Json::parse(R"([{}, {"g": [1, 2, 3, 4, 5, 6]}])"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].path, "St[6].G");
  EXPECT_EQ(items[0].values.size(), 6u);
  // Everything given: one item for the whole tag, in leaf order.
  items = tree.Writes(Json::parse(R"([{"Na[me": 1, "G": [[1,2,3],[4,5,6]]},
                                      {"NA[ME": 2, "G": [1,2,3,4,5,6]}])"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].path, "St");
  EXPECT_EQ(items[0].values.size(), 14u);
  EXPECT_EQ(items[0].values[7].u, 2u);  // the second station's name, as JSON gave it

  auto refused = [&](const char* json, int code, const std::string& piece) {
    try {
      tree.Writes(Json::parse(json));
      ADD_FAILURE() << json;
    } catch (const CliError& e) {
      EXPECT_EQ(e.code(), code) << json;
      EXPECT_NE(std::string(e.what()).find(piece), std::string::npos) << e.what();
    }
  };
  refused(R"([{}])", symResInvalidParameter, "'St' takes a list of 2 elements");
  refused(R"([{}, {"G": [1, 2]}])", symResInvalidParameter, "'St[6].G' takes a list of 6");
  refused(R"([{}, {"Bogus": 1}])", symResSymbolNotFound, "no member 'Bogus'");
  refused(R"([{}, {"G": [1, 2, 3, 4, 5, [6]]}])", symResInvalidParameter, "St[6].G[0,3]");
  refused(R"({"Na[me": 1})", symResInvalidParameter, "'St' takes a list");
  refused(R"([5, {}])", symResInvalidParameter, "'St[5]' takes a JSON object");
}

}  // namespace
}  // namespace qxsym::cli
