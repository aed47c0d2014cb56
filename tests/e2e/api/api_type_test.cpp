// Type walks through the exported API, against both sources.
#include <string>

#include "ApiFixture.h"

namespace qxsym::test {
namespace {

using TypeTest = ApiTest;

std::string TypeName(QXSymTypeHandle t) {
  char buf[QXSYM_MAX_STRING];
  std::uint16_t len = sizeof buf;
  return QXSym_TypeGetName(t, buf, &len) == symResOk ? buf : "?";
}

TEST_P(TypeTest, WalkAStructureAndItsChildren) {
  QXSymTagHandle line = Tag("Line");
  QXSymTypeHandle type = 0;
  ASSERT_EQ(QXSym_GetTagType(line, &type), symResOk);
  EXPECT_EQ(TypeName(type), "LINE");
  bool_t yes = 9;
  ASSERT_EQ(QXSym_TypeIsStruct(type, &yes), symResOk);
  EXPECT_EQ(yes, 1);
  ASSERT_EQ(QXSym_TypeIsBasic(type, &yes), symResOk);
  EXPECT_EQ(yes, 0);
  std::uint32_t flags = 0, children = 0, size = 0;
  ASSERT_EQ(QXSym_TypeGetProperties(type, &flags), symResOk);
  EXPECT_TRUE(flags & QXSymTypeIsStruct);
  EXPECT_FALSE(flags & QXSymTypeIsArray);
  ASSERT_EQ(QXSym_TypeGetNumChildren(type, &children), symResOk);
  EXPECT_EQ(children, 7u);
  ASSERT_EQ(QXSym_TypeGetSize(type, &size), symResOk);
  std::uint32_t full = 0;
  ASSERT_EQ(QXSym_GetTagDataFullSize(line, &full), symResOk);
  EXPECT_EQ(size, full);

  char buf[QXSYM_MAX_STRING];
  std::uint16_t len = sizeof buf;
  ASSERT_EQ(QXSym_TypeGetChildName(type, 3, buf, &len), symResOk);
  EXPECT_STREQ(buf, "Infeed");
  len = 3;
  EXPECT_EQ(QXSym_TypeGetChildName(type, 3, buf, &len), symResInvalidBuffer);
  EXPECT_EQ(len, 7);
  EXPECT_EQ(QXSym_TypeGetChildName(type, 3, nullptr, &len), symResInvalidBuffer);
  EXPECT_EQ(QXSym_TypeGetName(type, nullptr, &len), symResInvalidParameter);

  QXSymTypeHandle motor = 0, by_index = 0, missing = 55;
  ASSERT_EQ(QXSym_TypeGetChildByName(type, "main", &motor), symResOk);
  EXPECT_EQ(TypeName(motor), "MOTOR");
  ASSERT_EQ(QXSym_TypeIsFunctionBlock(motor, &yes), symResOk);
  EXPECT_EQ(yes, 1);
  EXPECT_EQ(QXSym_TypeGetChildByName(type, "Nope", &missing), symResSymbolNotFound);
  EXPECT_EQ(missing, 55);
  EXPECT_EQ(QXSym_TypeGetChild(type, 0, nullptr), symResInvalidParameter);
  ASSERT_EQ(QXSym_TypeGetChild(type, 0, &by_index), symResOk);
  EXPECT_EQ(TypeName(by_index), "STRING[24]");
  ASSERT_EQ(QXSym_TypeIsString(by_index, &yes), symResOk);
  EXPECT_EQ(yes, 1);
  // Closing the parent leaves the children usable.
  EXPECT_EQ(QXSym_CloseType(type), symResOk);
  EXPECT_EQ(QXSym_CloseType(type), symResInvalidHandle);
  ASSERT_EQ(QXSym_TypeGetNumChildren(motor, &children), symResOk);
  EXPECT_EQ(children, 9u);
  for (QXSymTypeHandle t : {motor, by_index}) EXPECT_EQ(QXSym_CloseType(t), symResOk);
  EXPECT_EQ(QXSym_CloseTag(line), symResOk);
}

TEST_P(TypeTest, ArrayDimensions) {
  QXSymTagHandle heat = Tag("Heatmap");  // ARRAY[1..2, 1..3, 1..4] OF REAL
  QXSymTypeHandle type = 0;
  ASSERT_EQ(QXSym_GetTagType(heat, &type), symResOk);
  bool_t yes = 0;
  ASSERT_EQ(QXSym_TypeIsArray(type, &yes), symResOk);
  EXPECT_EQ(yes, 1);
  std::uint32_t n = 0, d = 0;
  ASSERT_EQ(QXSym_TypeGetArrayNumDimensions(type, &n), symResOk);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(QXSym_TypeGetArrayDimension(type, 2, &d), symResOk);
  EXPECT_EQ(d, 4u);
  std::uint32_t dims[4] = {0, 0, 0, 77};
  EXPECT_EQ(QXSym_TypeGetArrayDimensions(type, dims, 2), symResInvalidParameter);
  EXPECT_EQ(dims[0], 0u);  // nothing written
  ASSERT_EQ(QXSym_TypeGetArrayDimensions(type, dims, 3), symResOk);
  EXPECT_EQ(dims[0], 2u);
  EXPECT_EQ(dims[1], 3u);
  EXPECT_EQ(dims[2], 4u);
  EXPECT_EQ(dims[3], 77u);
  EXPECT_EQ(QXSym_TypeGetArrayDimensions(type, nullptr, 3), symResInvalidParameter);
  QXSymTypeHandle elem = 0;
  ASSERT_EQ(QXSym_TypeGetChild(type, 0, &elem), symResOk);
  EXPECT_EQ(TypeName(elem), "REAL");
  std::uint32_t flags = 0;
  ASSERT_EQ(QXSym_TypeGetProperties(elem, &flags), symResOk);
  EXPECT_EQ(flags & (QXSymTypeIsBasic | QXSymTypeIsNumeric | QXSymTypeIsInteger),
            unsigned(QXSymTypeIsBasic | QXSymTypeIsNumeric));
  EXPECT_EQ(QXSym_CloseType(elem), symResOk);

  QXSymTagHandle scalar = Tag("CntInt");
  QXSymTypeHandle st = 0;
  ASSERT_EQ(QXSym_GetTagType(scalar, &st), symResOk);
  ASSERT_EQ(QXSym_TypeGetArrayDimensions(st, dims, 0), symResOk);  // nothing to write
  EXPECT_EQ(QXSym_CloseType(st), symResOk);
  EXPECT_EQ(QXSym_CloseType(type), symResOk);
  EXPECT_EQ(QXSym_CloseTag(heat), symResOk);
  EXPECT_EQ(QXSym_CloseTag(scalar), symResOk);
}

QXSYM_INSTANTIATE_BOTH_SOURCES(TypeTest);

}  // namespace
}  // namespace qxsym::test
