// A layout's leaves nested the way JavaScript holds the value, and given
// values spread back onto them as the client core's write items: whole,
// in part by declared indices, typed by a person, and refused.
#include <gtest/gtest.h>

#include "ValueShape.h"

namespace qxsym::js {
namespace {

using Node = ValueShape::Node;

OwnedLeaf Leaf(const std::string& path, uint32_t offset, uint32_t tyvar = QXSymTyVarInt,
               std::vector<uint32_t> dims = {}, std::vector<int64_t> lower = {}) {
  OwnedLeaf l;
  l.path = path;
  l.offset = offset;
  l.tyvar = tyvar;
  l.element_size = tyvar == QXSymTyVarUSInt ? 1 : tyvar == QXSymTyVarString ? 8 : 2;
  l.count = 1;
  for (uint32_t d : dims) l.count *= d;
  l.size = l.count * l.element_size;
  l.dims = std::move(dims);
  l.lower = std::move(lower);
  return l;
}

// T: { A: INT, Pts: ARRAY[-1..0] OF { X: INT }, G: ARRAY[1..2, 5..6] OF INT }
OwnedLayout Layout() {
  OwnedLayout l;
  l.path = "T";
  l.type_name = "T";
  l.leaves = {Leaf("T.A", 0), Leaf("T.Pts[-1].X", 2), Leaf("T.Pts[0].X", 4),
              Leaf("T.G", 6, QXSymTyVarInt, {2, 2}, {1, 5})};
  for (const OwnedLeaf& leaf : l.leaves) l.value_count += leaf.count;
  return l;
}

ValueShape Shape(OwnedLayout layout = Layout()) {
  ValueShape shape;
  ShapeError err;
  EXPECT_TRUE(shape.Build(std::move(layout), &err)) << err.message;
  return shape;
}

Given Num(double f) {
  Given g;
  g.kind = Given::Kind::kValue;
  g.value.kind = QXSymCoreFloat;
  g.value.f = f;
  return g;
}

Given Text(const std::string& s) {
  Given g;
  g.kind = Given::Kind::kValue;
  g.value.kind = QXSymCoreText;
  g.value.data = s;
  return g;
}

Given List(std::vector<Given> items) {
  Given g;
  g.kind = Given::Kind::kList;
  g.items = std::move(items);
  return g;
}

Given Record(std::vector<std::pair<std::string, Given>> members) {
  Given g;
  g.kind = Given::Kind::kRecord;
  g.members = std::move(members);
  return g;
}

const Given kLeftOut;

// "path=v,v;path=v" of the items, values as the core formats them.
std::string Items(const std::vector<WriteIn>& items) {
  std::string out;
  for (const WriteIn& item : items) {
    out += (out.empty() ? "" : ";") + item.path + "=";
    for (size_t i = 0; i < item.values.size(); ++i) {
      const QXSymCoreValue c = ToCore(item.values[i]);
      const char* text = nullptr;
      QXSymCore_FormatValue(&c, &text);
      out += (i ? "," : "") + std::string(text);
    }
  }
  return out;
}

ShapeError Refusal(const ValueShape& shape, Given g, ValueShape::SpreadOptions options = {}) {
  std::vector<WriteIn> items;
  ShapeError err;
  EXPECT_FALSE(shape.Spread(&g, options, &items, &err));
  return err;
}

TEST(ValueShapeTest, LeavesNestByMemberAndDeclaredIndex) {
  const ValueShape shape = Shape();
  const Node& root = shape.root();
  ASSERT_EQ(root.kind, Node::Kind::kRecord);
  ASSERT_EQ(root.children.size(), 3u);
  const Node& pts = root.children[1];
  EXPECT_EQ(pts.kind, Node::Kind::kArray);
  ASSERT_EQ(pts.children.size(), 2u);
  EXPECT_EQ(pts.children[0].name, "-1");
  EXPECT_EQ(pts.children[0].path, "T.Pts[-1]");
  EXPECT_EQ(pts.children[1].children[0].path, "T.Pts[0].X");
  const Node& grid = root.children[2];
  EXPECT_EQ(grid.kind, Node::Kind::kLeaf);
  EXPECT_EQ(shape.FirstValue(static_cast<size_t>(grid.leaf)), 3u);
  EXPECT_EQ(shape.ElementPath(shape.Leaf(grid), 2), "T.G[2,5]");
  EXPECT_FALSE(shape.IsSingle());

  // Arrays of structures in two dimensions nest a row per first index; a
  // member name may hold '['.
  OwnedLayout two;
  two.path = "M";
  for (const char* e : {"[1,0]", "[1,1]", "[2,0]", "[2,1]"}) {
    two.leaves.push_back(Leaf(std::string("M") + e + ".Na[me", 0));
  }
  const ValueShape m = Shape(two);
  ASSERT_EQ(m.root().children.size(), 2u);
  EXPECT_EQ(m.root().children[1].path, "M[2]");
  EXPECT_EQ(m.root().children[1].children[0].path, "M[2,0]");
  EXPECT_EQ(m.root().children[1].children[0].children[0].name, "Na[me");

  // A single value: the layout's own path is its leaf.
  OwnedLayout single;
  single.path = "G[2,5]";
  single.leaves = {Leaf("G[2,5]", 0)};
  EXPECT_TRUE(Shape(single).IsSingle());
}

TEST(ValueShapeTest, LeavesThatDoNotNestAreRefused) {
  for (const std::vector<std::string>& paths : {std::vector<std::string>{"U.A"},
                                                {"T.A", "T.A"},
                                                {"T.A", "T.A.B"},
                                                {"T.A", "T[1]"},
                                                {"T..A"},
                                                {"TA"}}) {
    OwnedLayout l;
    l.path = "T";
    for (const std::string& p : paths) l.leaves.push_back(Leaf(p, 0));
    ValueShape shape;
    ShapeError err;
    EXPECT_FALSE(shape.Build(l, &err)) << paths.back();
    EXPECT_EQ(err.code, symResInvalidParameter);
  }
}

TEST(ValueShapeTest, AWholeValueIsOneItemAPartialOneNamesEachPart) {
  const ValueShape shape = Shape();
  std::vector<WriteIn> items;
  ShapeError err;
  Given whole = Record({{"a", Num(1)},
                        {"PTS", List({Record({{"X", Num(2)}}), Record({{"x", Num(3)}})})},
                        {"G", List({List({Num(4), Num(5)}), List({Num(6), Num(7)})})}});
  ASSERT_TRUE(shape.Spread(&whole, {}, &items, &err)) << err.message;
  EXPECT_EQ(Items(items), "T=1,2,3,4,5,6,7");
  // Keys are respelt as the layout spells the members.
  EXPECT_EQ(whole.members[0].first, "A");
  EXPECT_EQ(whole.members[1].first, "Pts");

  items.clear();
  Given part = Record({{"Pts", List({kLeftOut, Record({{"X", Num(3)}})})},
                       {"G", List({List({Num(4), Num(5)}), List({Num(6)})})}});
  ASSERT_TRUE(shape.Spread(&part, {}, &items, &err)) << err.message;
  EXPECT_EQ(Items(items), "T.Pts[0].X=3;T.G[1,5]=4;T.G[1,6]=5;T.G[2,5]=6");

  items.clear();
  Given leaf_whole = Record({{"G", List({List({Num(4), Num(5)}), List({Num(6), Num(7)})})}});
  ASSERT_TRUE(shape.Spread(&leaf_whole, {}, &items, &err));
  EXPECT_EQ(Items(items), "T.G=4,5,6,7");

  items.clear();
  Given nothing = Record({});
  ASSERT_TRUE(shape.Spread(&nothing, {}, &items, &err));
  EXPECT_TRUE(items.empty());
}

TEST(ValueShapeTest, PartsTheLayoutLacksAndShapesThatDoNotFitAreRefused) {
  const ValueShape shape = Shape();
  struct Case {
    Given given;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {Record({{"B", Num(1)}}), symResSymbolNotFound, "'T.B': no such member"},
      {Record({{"Pts", List({Record({}), Record({}), Record({})})}}), symResInvalidArrayIndex,
       "value for 'T.Pts': 3 elements, the array holds 2"},
      {Record({{"G", List({List({Num(1), Num(2), Num(3)})})}}), symResInvalidArrayIndex,
       "value for 'T.G': 3 elements, the dimension holds 2"},
      {Record({{"A", Record({})}}), symResInvalidParameter,
       "value for 'T.A': expected a value, got an object"},
      {Record({{"G", List({Num(1), Num(2)})}}), symResInvalidParameter,
       "value for 'T.G': expected an array, got 1"},
      {List({Num(1)}), symResInvalidParameter, "value for 'T': expected an object, got an array"},
      {Record({{"Pts", Text("x")}}), symResInvalidParameter,
       "value for 'T.Pts': expected an array, got the text 'x'"},
      {Given{}, symResInvalidParameter, "value for 'T': none given"},
  };
  for (const Case& c : cases) {
    const ShapeError err = Refusal(shape, c.given);
    EXPECT_EQ(err.code, c.code) << c.message;
    EXPECT_EQ(err.message, c.message);
  }
}

TEST(ValueShapeTest, TypedTextsAreReadAndCheckedByTheCoresRules) {
  OwnedLayout l;
  l.path = "R";
  l.leaves = {Leaf("R.Id", 0), Leaf("R.Small", 2, QXSymTyVarUSInt),
              Leaf("R.Name", 3, QXSymTyVarString)};
  const ValueShape shape = Shape(l);
  ValueShape::SpreadOptions typed;
  typed.typed = typed.check = true;
  std::vector<WriteIn> items;
  ShapeError err;
  Given g = Record({{"id", Text("16#FF")}, {"small", Num(7)}, {"name", Text("16#FF")}});
  ASSERT_TRUE(shape.Spread(&g, typed, &items, &err)) << err.message;
  EXPECT_EQ(Items(items), "R=255,7,16#FF");
  EXPECT_EQ(g.members[0].second.value.kind, QXSymCoreSigned);  // as understood
  EXPECT_EQ(g.members[2].second.value.kind, QXSymCoreText);

  // Out of range: parsed, then refused by the write rules, naming the leaf.
  ShapeError range = Refusal(shape, Record({{"Small", Text("300")}}), typed);
  EXPECT_EQ(range.code, symResInvalidParameter);
  EXPECT_EQ(range.message.rfind("value for 'R.Small': ", 0), 0u) << range.message;
  EXPECT_NE(range.message.find("300"), std::string::npos) << range.message;
  EXPECT_EQ(Refusal(shape, Record({{"Small", Num(300)}}), typed).message, range.message);
  // Not a literal of the type; a zero would cut the text short.
  EXPECT_EQ(Refusal(shape, Record({{"Id", Text("twelve")}}), typed).code, symResInvalidParameter);
  EXPECT_EQ(Refusal(shape,
                    Record({{"Id", Text(std::string("12\0"
                                                    "3",
                                                    4))}}),
                    typed)
                .message,
            "value for 'R.Id': a zero character in the text");
  // Untyped, a text is no number: the core refuses it when it writes.
  items.clear();
  Given untyped = Record({{"Id", Text("12")}});
  ASSERT_TRUE(shape.Spread(&untyped, {}, &items, &err));
  EXPECT_EQ(items[0].values[0].kind, QXSymCoreText);
}

TEST(ValueShapeTest, ArrayLeavesTakeElementsByIndexInEveryDimension) {
  OwnedLayout l;
  l.path = "Grid";
  l.leaves = {Leaf("Grid", 0, QXSymTyVarInt, {2, 3}, {0, -1})};
  l.dims = {2, 3};
  l.lower = {0, -1};
  const ValueShape shape = Shape(l);
  std::vector<WriteIn> items;
  ShapeError err;
  Given g = List({kLeftOut, List({kLeftOut, kLeftOut, Num(9)})});
  ASSERT_TRUE(shape.Spread(&g, {}, &items, &err)) << err.message;
  EXPECT_EQ(Items(items), "Grid[1,1]=9");
  EXPECT_EQ(Refusal(shape, List({List({Record({})})})).message,
            "value for 'Grid[0,-1]': expected a value, got an object");
}

}  // namespace
}  // namespace qxsym::js
