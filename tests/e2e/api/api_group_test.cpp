// Groups through the exported API, against both sources.
#include <cstring>

#include "ApiFixture.h"

namespace qxsym::test {
namespace {

using GroupTest = ApiTest;

TEST_P(GroupTest, TypicalUseReadTakeSetWrite) {
  QXSymGroupHandle g = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &g), symResOk);
  EXPECT_EQ(QXSym_ReadGroup(g), symResGroupIsEmpty);
  EXPECT_EQ(QXSym_WriteGroup(g), symResGroupIsEmpty);
  QXSymTagHandle dint = Tag("Recipe.Id"), sint = Tag("CntInt"), lreal = Tag("TotalEnergy");
  for (QXSymTagHandle t : {dint, sint, lreal}) ASSERT_EQ(QXSym_AddTagToGroup(g, t), symResOk);
  EXPECT_EQ(QXSym_AddTagToGroup(g, sint), symResHandleAlreadyExists);
  std::uint32_t count = 0, size = 0;
  ASSERT_EQ(QXSym_GetGroupInfo(g, &count, &size), symResOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(size, 14u);  // 4 + 2 + 8

  std::int32_t id = 0;
  EXPECT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, dint, &id, sizeof id), symResGroupMustBeRead);
  std::int16_t value = 321;
  EXPECT_EQ(QXSym_SetTagValueIntoGroup_Ptr(g, sint, &value, sizeof value), symResOk);
  ASSERT_EQ(QXSym_ReadGroup(g), symResOk);
  ASSERT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, dint, &id, sizeof id), symResOk);
  EXPECT_EQ(id, 42);
  std::uint8_t small[2];
  EXPECT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, dint, small, sizeof small), symResInvalidTagSize);
  EXPECT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, dint, nullptr, 4), symResInvalidBuffer);

  // Write two values in one exchange; the third goes back as read.
  id = 4711;
  value = -7;
  ASSERT_EQ(QXSym_SetTagValueIntoGroup_Ptr(g, dint, &id, sizeof id), symResOk);
  ASSERT_EQ(QXSym_SetTagValueIntoGroup_Ptr(g, sint, &value, sizeof value), symResOk);
  ASSERT_EQ(QXSym_WriteGroup(g), symResOk);
  std::int32_t single = 0;
  ASSERT_EQ(QXSym_GetTagValue_Ptr(dint, &single, sizeof single), symResOk);
  EXPECT_EQ(single, 4711);

  // Removing the middle member re-lays the values.
  ASSERT_EQ(QXSym_RemoveTagFromGroup(g, sint), symResOk);
  EXPECT_EQ(QXSym_RemoveTagFromGroup(g, sint), symResNotOk);
  ASSERT_EQ(QXSym_GetGroupInfo(g, &count, &size), symResOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 12u);
  ASSERT_EQ(QXSym_ReadGroup(g), symResOk);
  double energy = 0;
  ASSERT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, lreal, &energy, sizeof energy), symResOk);
  EXPECT_GT(energy, 123000.0);
  EXPECT_EQ(QXSym_GetTagValueFromGroup_Ptr(g, sint, &value, sizeof value), symResInvalidHandle);

  EXPECT_EQ(QXSym_DeleteGroup(g), symResOk);
  EXPECT_EQ(QXSym_DeleteGroup(g), symResInvalidHandle);
  for (QXSymTagHandle t : {dint, sint, lreal}) EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(GroupTest, MembersMustBelongToTheWorkspace) {
  QXSymWorkspaceHandle other = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &address_, &other), symResOk);
  QXSymTagHandle foreign = 0;
  ASSERT_EQ(QXSym_GetGlobalTag(other, "CntInt", &foreign), symResOk);
  QXSymGroupHandle g = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &g), symResOk);
  EXPECT_EQ(QXSym_AddTagToGroup(g, foreign), symResInvalidHandle);
  EXPECT_EQ(QXSym_AddTagToGroup(g, 0), symResInvalidHandle);
  EXPECT_EQ(QXSym_AddTagToGroup(0, foreign), symResInvalidHandle);
  EXPECT_EQ(QXSym_AddTagToGroup(g, ws_), symResInvalidHandle);  // not a tag
  EXPECT_EQ(QXSym_CreateGroup(ws_, nullptr), symResInvalidParameter);
  std::uint32_t count = 9, size = 9;
  ASSERT_EQ(QXSym_GetGroupInfo(g, &count, &size), symResOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(QXSym_GetGroupInfo(g, &count, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_DeleteGroup(g), symResOk);
  EXPECT_EQ(QXSym_CloseTag(foreign), symResOk);
  EXPECT_EQ(QXSym_CloseWorkspace(other), symResOk);
}

QXSYM_INSTANTIATE_BOTH_SOURCES(GroupTest);

}  // namespace
}  // namespace qxsym::test
