// Layouts through the core's C interface: member offsets as the source
// places them, declared array bounds, 2-D and 3-D arrays, arrays of
// structures.
#include <cstring>
#include <map>

#include "CoreFixture.h"

namespace qxsym::test {
namespace {

class CoreLayoutTest : public CoreTest {
 protected:
  const QXSymCoreLayout* Describe(const char* path, QXSymResult expect = symResOk) {
    const QXSymCoreLayout* layout = nullptr;
    const char* message = nullptr;
    EXPECT_EQ(QXSymCore_Describe(session_, path, &layout, &message), expect) << message;
    return layout;
  }
  std::map<std::string, QXSymCoreLeaf> Leaves(const QXSymCoreLayout* layout) {
    std::map<std::string, QXSymCoreLeaf> out;
    for (std::uint32_t i = 0; i < layout->leaf_count; ++i) {
      out[layout->leaves[i].path] = layout->leaves[i];
    }
    return out;
  }
  // The address the plain API reports, to check offsets independently.
  qxsym_addr_t AddressOf(const char* path) {
    QXSymWorkspaceHandle ws = 0;
    QXSymTagHandle tag = 0;
    qxsym_addr_t a = 0;
    EXPECT_EQ(QXSym_OpenWorkspace(0, &address_, &ws), symResOk);
    EXPECT_EQ(QXSym_GetGlobalTag(ws, path, &tag), symResOk) << path;
    EXPECT_EQ(QXSym_GetTagAddress(tag, &a), symResOk);
    QXSym_CloseTag(tag);
    QXSym_CloseWorkspace(ws);
    return a;
  }
};

TEST_P(CoreLayoutTest, StructureLeavesLieWhereTheSourcePutsThem) {
  const QXSymCoreLayout* line = Describe("Line");
  ASSERT_NE(line, nullptr);
  EXPECT_STREQ(line->type_name, "LINE");
  // Name, Running, Speed, three drives of nine members, PartsToday.
  EXPECT_EQ(line->leaf_count, 31u);
  auto leaves = Leaves(line);
  const qxsym_addr_t base = AddressOf("Line");
  for (const char* path : {"Line.Speed", "Line.Main.Speed", "Line.Outfeed.FaultCode",
                           "Line.PartsToday", "Line.Infeed.Enable"}) {
    ASSERT_EQ(leaves.count(path), 1u) << path;
    EXPECT_EQ(leaves[path].offset, AddressOf(path) - base) << path;
  }
  EXPECT_EQ(leaves["Line.Main.Speed"].tyvar, static_cast<std::uint32_t>(QXSymTyVarReal));
  EXPECT_EQ(leaves["Line.Name"].tyvar, static_cast<std::uint32_t>(QXSymTyVarString));
  EXPECT_EQ(leaves["Line.Name"].size, 25u);
  // A member's layout reuses the type learned for the whole tag.
  const QXSymCoreLayout* main = Describe("Line.Main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->leaf_count, 9u);
  EXPECT_STREQ(main->leaves[3].path, "Line.Main.SetSpeed");
}

TEST_P(CoreLayoutTest, ArraysCarryTheirDeclaredBounds) {
  const QXSymCoreLayout* temps = Describe("Temps");
  ASSERT_NE(temps, nullptr);
  ASSERT_EQ(temps->leaf_count, 1u);
  const QXSymCoreLeaf& leaf = temps->leaves[0];
  EXPECT_EQ(leaf.num_dims, 1u);
  EXPECT_EQ(leaf.dims[0], 8u);
  EXPECT_EQ(leaf.lower[0], 1);
  EXPECT_EQ(leaf.count, 8u);
  EXPECT_EQ(leaf.element_size, 4u);
  // A type whose name spells no bounds: learned from where an element lies.
  const QXSymCoreLayout* zones = Describe("ZoneSetpoints");
  ASSERT_NE(zones, nullptr);
  EXPECT_EQ(zones->leaves[0].lower[0], 1);
  const QXSymCoreLayout* alarms = Describe("Alarms");
  ASSERT_NE(alarms, nullptr);
  EXPECT_EQ(alarms->leaves[0].lower[0], 0);

  std::vector<QXSymCoreValue> v;
  ASSERT_EQ(Read("Temps[1]", &v), symResOk);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_FLOAT_EQ(v[0].f, 180.5);
  ASSERT_EQ(Read("Temps[8]", &v), symResOk);
  EXPECT_FLOAT_EQ(v[0].f, 170.0);
  for (const char* outside : {"Temps[0]", "Temps[9]"}) {
    const QXSymResult rc = Read(outside, &v);
    EXPECT_TRUE(rc == symResInvalidArrayIndex || rc == symResSymbolNotFound) << outside << rc;
    EXPECT_TRUE(v.empty());
  }
}

TEST_P(CoreLayoutTest, MultiDimensionalArraysReadInOrder) {
  const QXSymCoreLayout* grid = Describe("Grid");
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(grid->leaves[0].num_dims, 2u);
  EXPECT_EQ(grid->leaves[0].dims[0], 3u);
  EXPECT_EQ(grid->leaves[0].dims[1], 4u);
  std::vector<QXSymCoreValue> v;
  ASSERT_EQ(Read("Grid", &v), symResOk);
  ASSERT_EQ(v.size(), 12u);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(v[k].i, k + 1) << k;
  ASSERT_EQ(Read("Grid[1,2]", &v), symResOk);
  EXPECT_EQ(v[0].i, 7);

  const QXSymCoreLayout* heat = Describe("Heatmap");
  ASSERT_NE(heat, nullptr);
  EXPECT_EQ(heat->leaves[0].num_dims, 3u);
  EXPECT_EQ(heat->leaves[0].lower[2], 1);
  ASSERT_EQ(Read("Heatmap", &v), symResOk);
  ASSERT_EQ(v.size(), 24u);
  EXPECT_FLOAT_EQ(v[23].f, 24.5);
  ASSERT_EQ(Read("Heatmap[2,3,4]", &v), symResOk);
  EXPECT_FLOAT_EQ(v[0].f, 24.5);
  ASSERT_EQ(Read("Heatmap[1,2,1]", &v), symResOk);
  EXPECT_FLOAT_EQ(v[0].f, 5.5);
}

TEST_P(CoreLayoutTest, ArraysOfStructuresAreSpeltOutByElement) {
  const QXSymCoreLayout* book = Describe("RecipeBook");
  ASSERT_NE(book, nullptr);
  auto leaves = Leaves(book);
  ASSERT_EQ(leaves.count("RecipeBook[3].StepTemps"), 1u);
  EXPECT_EQ(leaves["RecipeBook[3].StepTemps"].lower[0], 1);
  EXPECT_EQ(leaves.count("RecipeBook[0].Name"), 0u);
  ASSERT_EQ(book->num_dims, 1u);
  EXPECT_EQ(book->dims[0], 3u);
  EXPECT_EQ(book->lower[0], 1);
  EXPECT_EQ(leaves["RecipeBook[2].Id"].offset - leaves["RecipeBook[1].Id"].offset, book->size / 3);
  std::vector<QXSymCoreValue> v;
  std::vector<std::string> texts;
  ASSERT_EQ(Read(session_, "RecipeBook[2].Name", &v, &texts), symResOk);
  EXPECT_EQ(texts[0], "Cookies 500g");
  ASSERT_EQ(Read("RecipeBook", &v), symResOk);
  EXPECT_EQ(v.size(), book->value_count);
}

TEST_P(CoreLayoutTest, UnknownPathsSaySo) {
  Describe("NoSuchTag", symResSymbolNotFound);
  Describe("Line.NoSuchMember", symResSymbolNotFound);
  Describe("", symResSymbolNotFound);
  const std::string long_path(400, 'A');
  Describe(long_path.c_str(), symResInvalidParameter);
}

QXSYM_CORE_BOTH_SOURCES(CoreLayoutTest);

}  // namespace
}  // namespace qxsym::test
