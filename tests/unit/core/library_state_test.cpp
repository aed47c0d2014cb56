// Start/stop state machine and handle registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "HandleRegistry.h"
#include "LibraryState.h"
#include "QXSymbols.h"

namespace qxsym {
namespace {

struct Counted {
  explicit Counted(int* d) : destroyed(d) {}
  ~Counted() { ++*destroyed; }
  int* destroyed;
};

class LibraryStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    while (QXSym_IsInitOk() == symResOk) QXSym_Shutdown();
  }
  void TearDown() override {
    while (QXSym_IsInitOk() == symResOk) QXSym_Shutdown();
  }
  std::uint32_t RegisterCounted(HandleKind kind, int* destroyed) {
    auto& st = LibraryState::Get();
    std::lock_guard<std::mutex> g(st.lock());
    return st.registry().Add(kind, std::make_shared<Counted>(destroyed));
  }
  bool IsRegistered(std::uint32_t h, HandleKind kind) {
    auto& st = LibraryState::Get();
    std::lock_guard<std::mutex> g(st.lock());
    return st.registry().Find(h, kind) != nullptr;
  }
};

TEST_F(LibraryStateTest, StartStopStateMachine) {
  EXPECT_EQ(QXSym_Shutdown(), symResNotInited);  // before any start
  EXPECT_EQ(QXSym_IsInitOk(), symResNotInited);
  EXPECT_EQ(QXSym_Init(), symResOk);
  EXPECT_EQ(QXSym_IsInitOk(), symResOk);
  EXPECT_EQ(QXSym_Init(), symResOk);  // does not nest
  EXPECT_EQ(QXSym_Shutdown(), symResOk);
  EXPECT_EQ(QXSym_IsInitOk(), symResNotInited);  // one shutdown stops it
  EXPECT_EQ(QXSym_Shutdown(), symResNotInited);
  EXPECT_EQ(QXSym_Init(), symResOk);  // restartable
  EXPECT_EQ(QXSym_IsInitOk(), symResOk);
}

TEST_F(LibraryStateTest, ShutdownForgetsAndReleasesHandles) {
  ASSERT_EQ(QXSym_Init(), symResOk);
  int destroyed = 0;
  std::uint32_t h = RegisterCounted(HandleKind::kTag, &destroyed);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(IsRegistered(h, HandleKind::kTag));
  ASSERT_EQ(QXSym_Shutdown(), symResOk);
  EXPECT_EQ(destroyed, 1);  // released, not leaked
  ASSERT_EQ(QXSym_Init(), symResOk);
  EXPECT_FALSE(IsRegistered(h, HandleKind::kTag));  // earlier period's handle is invalid
  // New handles never reuse an old value.
  int d2 = 0;
  std::uint32_t h2 = RegisterCounted(HandleKind::kTag, &d2);
  EXPECT_NE(h2, h);
  EXPECT_NE(h2, 0u);
  // Released here, while d2 still exists.
  ASSERT_EQ(QXSym_Shutdown(), symResOk);
  EXPECT_EQ(d2, 1);
}

TEST_F(LibraryStateTest, RetiredObjectsAreReleasedAtStartAndStop) {
  ASSERT_EQ(QXSym_Init(), symResOk);
  auto& st = LibraryState::Get();
  int destroyed = 0;
  st.RetireGroupData(std::make_shared<Counted>(&destroyed));
  EXPECT_EQ(st.retired_count(), 1u);
  ASSERT_EQ(QXSym_Shutdown(), symResOk);
  EXPECT_EQ(destroyed, 1);
  st.RetireGroupData(std::make_shared<Counted>(&destroyed));
  ASSERT_EQ(QXSym_Init(), symResOk);
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(st.retired_count(), 0u);
}

TEST_F(LibraryStateTest, RetiredObjectInUseOutlivesRelease) {
  auto& st = LibraryState::Get();
  int destroyed = 0;
  auto in_use = std::make_shared<Counted>(&destroyed);
  st.RetireGroupData(in_use);
  st.ReleaseRetired();
  EXPECT_EQ(destroyed, 0);  // a running call still holds it
  in_use.reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(HandleRegistryTest, KindsUnknownHandlesAndLists) {
  HandleRegistry reg;
  auto ws = std::make_shared<int>(1);
  std::uint32_t h = reg.Add(HandleKind::kWorkspace, ws);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(reg.Find<int>(h, HandleKind::kWorkspace), ws.get());
  EXPECT_EQ(reg.Find(h, HandleKind::kTag), nullptr);  // wrong kind misses
  EXPECT_EQ(reg.Find(0, HandleKind::kWorkspace), nullptr);
  EXPECT_EQ(reg.Find(h + 1000, HandleKind::kWorkspace), nullptr);  // never issued
  // The address of live memory is not a handle either.
  EXPECT_EQ(reg.Find(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(ws.get())),
                     HandleKind::kWorkspace),
            nullptr);
  EXPECT_EQ(reg.Remove(h, HandleKind::kGroup), nullptr);  // wrong kind keeps it
  EXPECT_NE(reg.Remove(h, HandleKind::kWorkspace), nullptr);
  EXPECT_EQ(reg.Find(h, HandleKind::kWorkspace), nullptr);

  QXSymTagHandle* p = reg.AddList({5, 6, 0});
  QXSymTagHandle caller_made[3] = {5, 6, 0};
  EXPECT_TRUE(reg.HasList(p));
  EXPECT_FALSE(reg.HasList(caller_made));
  EXPECT_EQ(reg.ListEntries(p), (std::vector<QXSymTagHandle>{5, 6, 0}));
  EXPECT_EQ(reg.RemoveList(p).size(), 3u);
  EXPECT_FALSE(reg.HasList(p));
}

// Around the wrap of the id counter: 0 is never handed out, ids still in use
// are skipped, and the live handles keep finding their objects.
TEST(HandleRegistryTest, WrapSkipsZeroAndIdsInUse) {
  HandleRegistry reg;
  int a = 1, b = 2, c = 3;
  const std::uint32_t before = HandleRegistry::MoveCounterTo(0xFFFFFFFEu);
  const std::uint32_t last = reg.Add(HandleKind::kTag, std::shared_ptr<void>(&a, [](void*) {}));
  EXPECT_EQ(last, 0xFFFFFFFEu);
  HandleRegistry::MoveCounterTo(1);
  const std::uint32_t one = reg.Add(HandleKind::kTag, std::shared_ptr<void>(&b, [](void*) {}));
  const std::uint32_t two = reg.Add(HandleKind::kType, std::shared_ptr<void>(&c, [](void*) {}));
  ASSERT_EQ(one, 1u);
  ASSERT_EQ(two, 2u);

  HandleRegistry::MoveCounterTo(0xFFFFFFFEu);
  std::vector<std::uint32_t> drawn;
  for (int i = 0; i < 4; ++i) drawn.push_back(reg.Add(HandleKind::kGroup, nullptr));
  EXPECT_EQ(drawn, (std::vector<std::uint32_t>{0xFFFFFFFFu, 3, 4, 5}));
  EXPECT_EQ(reg.Find(last, HandleKind::kTag), &a);
  EXPECT_EQ(reg.Find(one, HandleKind::kTag), &b);
  EXPECT_EQ(reg.Find(two, HandleKind::kType), &c);

  // A released id is handed out again once the counter comes round to it.
  EXPECT_EQ(reg.Remove(one, HandleKind::kTag).get(), &b);
  HandleRegistry::MoveCounterTo(1);
  EXPECT_EQ(reg.Add(HandleKind::kTag, nullptr), 1u);
  HandleRegistry::MoveCounterTo(before);
}

TEST(HandleRegistryTest, ConcurrentRegistrationsGiveDistinctHandles) {
  // Different registries (one per thread, as the lock would serialise a
  // shared one) still draw from one process-wide sequence.
  std::vector<std::vector<std::uint32_t>> got(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      HandleRegistry reg;
      for (int i = 0; i < 1000; ++i) got[t].push_back(reg.Add(HandleKind::kTag, nullptr));
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::uint32_t> all;
  for (auto& v : got) all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
}

}  // namespace
}  // namespace qxsym
