// Every allocation of an exported call fails in turn, against both sources:
// each failed call answers an out-of-memory result, leaves no handle behind,
// leaves the workspace working, and the next attempt goes on; the attempt
// that reaches no failure succeeds. Run under the address sanitizer, the
// leak check shows that nothing a failed call made is lost.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ApiFixture.h"
#include "FailingAllocator.h"
#include "LibraryState.h"
#include "QXSymbols.h"

namespace qxsym::test {
namespace {

std::size_t Registered() {
  LibraryState& state = LibraryState::Get();
  std::lock_guard<std::mutex> guard(state.lock());
  return state.registry().size();
}

class OutOfMemoryTest : public ApiTest {
 protected:
  // Runs step with its 1st, 2nd, ... allocation failing until a run reaches
  // no failure; that run must answer done_result, and undo then releases
  // what it made. A failed run answers failure_result when one is given.
  void EachAllocationFails(
      const char* what, const std::function<QXSymResult()>& step,
      const std::function<void()>& undo = [] {}, QXSymResult done_result = symResOk,
      QXSymResult failure_result = symResOk) {
    for (long nth = 1; nth < 100000; ++nth) {
      const std::size_t before = Registered();
      FailNthAllocation(nth);
      const QXSymResult r = step();
      if (!Disarm()) {
        EXPECT_EQ(r, done_result) << what << " without a failing allocation";
        undo();
        return;
      }
      // A buffer or list that cannot be had answers symResMemoryAllocError,
      // a single new object symResNotOk.
      EXPECT_TRUE(r == symResMemoryAllocError || r == symResNotOk)
          << what << ", allocation " << nth << " failing gave " << r;
      if (failure_result != symResOk) {
        EXPECT_EQ(r, failure_result) << what << ", allocation " << nth << " failing";
      }
      EXPECT_EQ(Registered(), before) << what << ", allocation " << nth << " failing";
      EXPECT_EQ(QXSym_IsValidWorkspace(ws_), symResOk) << what << ", allocation " << nth;
      if (HasFailure()) return;
    }
    ADD_FAILURE() << what << " never completed";
  }
};

TEST_P(OutOfMemoryTest, WorkspacesOpenAndClose) {
  QXSymWorkspaceHandle other = 0;
  EachAllocationFails(
      "open", [&] { return QXSym_OpenWorkspace(0, &address_, &other); },
      [&] { EXPECT_EQ(QXSym_CloseWorkspace(other), symResOk); });
}

TEST_P(OutOfMemoryTest, TagListsRegisterAllOrNothing) {
  QXSymTagHandle* list = nullptr;
  uint32_t n = 0;
  auto free_list = [&] { EXPECT_EQ(QXSym_FreeTagList(list), symResOk); };
  // Both sources answer a list that cannot be had alike.
  EachAllocationFails(
      "all tags", [&] { return QXSym_GetGlobalTags(ws_, &list, &n); }, free_list, symResOk,
      symResMemoryAllocError);
  EachAllocationFails(
      "matching tags", [&] { return QXSym_QueryGlobalTags(ws_, "Cnt?int", &list, &n); }, free_list,
      symResOk, symResMemoryAllocError);
  ASSERT_EQ(n, 4u);

  uint32_t count = 0;
  ASSERT_EQ(QXSym_GetGlobalTagsNum(ws_, &count), symResOk);
  std::vector<QXSymTagHandle> tags(count, 0);
  EachAllocationFails(
      "caller's array", [&] { return QXSym_FillGlobalTagList(ws_, tags.data(), count); },
      [&] {
        for (QXSymTagHandle t : tags) EXPECT_EQ(QXSym_CloseTag(t), symResOk);
      });
}

TEST_P(OutOfMemoryTest, TagsAndTypes) {
  QXSymTagHandle made = 0;
  EachAllocationFails(
      "tag", [&] { return QXSym_GetGlobalTag(ws_, "Recipe.Id", &made); },
      [&] { EXPECT_EQ(QXSym_CloseTag(made), symResOk); });

  const QXSymTagHandle recipe = Tag("Recipe");
  const QXSymTagHandle id = Tag("Recipe.Id");
  std::int32_t value = 0;
  EachAllocationFails("value", [&] { return QXSym_GetTagValue_Ptr(id, &value, sizeof value); });
  EXPECT_EQ(value, 42);
  value = 43;
  EachAllocationFails("write", [&] { return QXSym_SetTagValue_Ptr(id, &value, sizeof value); });

  QXSymTypeHandle type = 0, child = 0;
  EachAllocationFails(
      "type", [&] { return QXSym_GetTagType(recipe, &type); }, [&] { ASSERT_NE(type, 0); });
  EachAllocationFails(
      "child type", [&] { return QXSym_TypeGetChildByName(type, "Id", &child); },
      [&] { EXPECT_EQ(QXSym_CloseType(child), symResOk); });
  EXPECT_EQ(QXSym_CloseType(type), symResOk);
  EXPECT_EQ(QXSym_CloseTag(recipe), symResOk);
  EXPECT_EQ(QXSym_CloseTag(id), symResOk);
}

TEST_P(OutOfMemoryTest, Groups) {
  QXSymGroupHandle group = 0;
  EachAllocationFails("create group", [&] { return QXSym_CreateGroup(ws_, &group); });
  const QXSymTagHandle id = Tag("Recipe.Id");
  const QXSymTagHandle temps = Tag("Temps");
  EachAllocationFails("add", [&] { return QXSym_AddTagToGroup(group, id); });
  EachAllocationFails("add", [&] { return QXSym_AddTagToGroup(group, temps); });
  EachAllocationFails("read group", [&] { return QXSym_ReadGroup(group); });
  std::int32_t value = 0;
  ASSERT_EQ(QXSym_GetTagValueFromGroup_Ptr(group, id, &value, sizeof value), symResOk);
  EXPECT_EQ(value, 42);
  EachAllocationFails("write group", [&] { return QXSym_WriteGroup(group); });
  // The membership survived every failure: both members, nothing twice.
  uint32_t count = 0, size = 0;
  ASSERT_EQ(QXSym_GetGroupInfo(group, &count, &size), symResOk);
  EXPECT_EQ(count, 2u);
  uint32_t id_size = 0, temps_size = 0;
  ASSERT_EQ(QXSym_GetTagDataSize(id, &id_size), symResOk);
  ASSERT_EQ(QXSym_GetTagDataSize(temps, &temps_size), symResOk);
  EXPECT_EQ(size, id_size + temps_size);
  EXPECT_EQ(QXSym_DeleteGroup(group), symResOk);
  EXPECT_EQ(QXSym_CloseTag(id), symResOk);
  EXPECT_EQ(QXSym_CloseTag(temps), symResOk);
}

TEST_P(OutOfMemoryTest, SymbolTableDownload) {
  const std::string path =
      ::testing::TempDir() + "oom_table_" + std::to_string(static_cast<int>(GetParam()));
  // A Direct workspace has no symbol table to give.
  EachAllocationFails(
      "symbol table", [&] { return QXSym_GetSymbolTable(ws_, path.c_str(), 1); }, [] {},
      remote() ? symResOk : symResNotImplemented);
  std::remove(path.c_str());
}

QXSYM_INSTANTIATE_BOTH_SOURCES(OutOfMemoryTest);

}  // namespace
}  // namespace qxsym::test
