// Several threads on shared handles: values written and read back, tags
// opened and closed, types walked, a group read, and one thread closing the
// workspace under all of them. Nothing may crash, no answer may be wrong, and
// after the close every call must end in a clean result code.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ApiFixture.h"

namespace qxsym::test {
namespace {

using ConcurrencyTest = ApiTest;

class Failures {
 public:
  void Add(const std::string& what) {
    std::lock_guard<std::mutex> g(mu_);
    if (list_.size() < 20) list_.push_back(what);
  }
  std::vector<std::string> list() {
    std::lock_guard<std::mutex> g(mu_);
    return list_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> list_;
};

// Rounds done by each of n threads; the test waits until every thread has
// done enough of them to have raced the others.
class Progress {
 public:
  explicit Progress(std::size_t n) : rounds_(n, 0) {}
  void Tick(std::size_t thread) {
    std::lock_guard<std::mutex> g(mu_);
    ++rounds_[thread];
    cv_.notify_all();
  }
  bool WaitAll(int rounds, std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> g(mu_);
    return cv_.wait_for(g, timeout, [&] {
      for (int r : rounds_)
        if (r < rounds) return false;
      return true;
    });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<int> rounds_;
};

TEST_P(ConcurrencyTest, SharedHandlesWhileTheWorkspaceCloses) {
  // Results a call may give once the workspace is being closed.
  const std::set<int> after_close = {symResOk,
                                     symResConnectionLost,
                                     symResTimeoutError,
                                     symResSocketError,
                                     symResInvalidWorkspace,
                                     symResInvalidHandle,
                                     symResSegmentationError};
  std::atomic<bool> closing{false};
  std::atomic<bool> stop{false};
  Failures failures;
  auto check = [&](const char* what, QXSymResult r, std::initializer_list<int> also = {}) {
    if (r == symResOk) return;
    for (int a : also)
      if (r == a) return;
    if (closing.load() && after_close.count(r)) return;
    failures.Add(std::string(what) + " gave " + std::to_string(r));
  };

  // Each writer owns one tag: what it reads back must be what it wrote.
  const char* owned[] = {"CntInt", "CntUint", "StatusWord"};
  QXSymTagHandle shared_tag = Tag("Grid");
  QXSymTypeHandle shared_type = 0;
  ASSERT_EQ(QXSym_GetTagType(Tag("Line"), &shared_type), symResOk);
  QXSymGroupHandle group = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &group), symResOk);
  const QXSymTagHandle recipe_id = Tag("Recipe.Id");
  ASSERT_EQ(QXSym_AddTagToGroup(group, recipe_id), symResOk);
  for (const char* n : {"Temps[2]", "CntLint"})
    ASSERT_EQ(QXSym_AddTagToGroup(group, Tag(n)), symResOk);

  // The threads use this copy: the fixture's ws_ is cleared below while
  // they run.
  const QXSymWorkspaceHandle ws = ws_;
  std::vector<std::thread> threads;
  std::atomic<int> rounds{0};
  Progress progress(6);  // three writers, the tag, type and group threads
  std::size_t next_thread = 0;
  for (const char* name : owned) {
    QXSymTagHandle t = Tag(name);
    threads.emplace_back([&, t, name, me = next_thread++] {
      for (std::uint16_t i = 1; !stop.load(); ++i) {
        QXSymResult r = QXSym_SetTagValue_Ptr(t, &i, sizeof i);
        check(name, r);
        std::uint16_t back = 0;
        QXSymResult r2 = QXSym_GetTagValue_Ptr(t, &back, sizeof back);
        check(name, r2);
        if (r == symResOk && r2 == symResOk && back != i)
          failures.Add(std::string(name) + ": wrote " + std::to_string(i) + " read " +
                       std::to_string(back));
        rounds.fetch_add(1);
        progress.Tick(me);
      }
    });
  }
  // Opens and closes tags, racing other threads for the shared handle.
  threads.emplace_back([&, me = next_thread++] {
    while (!stop.load()) {
      QXSymTagHandle t = 0;
      QXSymResult r = QXSym_GetGlobalTag(ws, "Operator", &t);
      check("lookup", r);
      if (r == symResOk) check("close", QXSym_CloseTag(t));
      std::int16_t e = 0;
      check("element", QXSym_GetTagArrayValue_Ptr(shared_tag, 1, 1, 0, &e, sizeof e));
      if (!closing.load() && e != 6) failures.Add("Grid[1,1] read " + std::to_string(e));
      progress.Tick(me);
    }
  });
  // Walks the shared type.
  threads.emplace_back([&, me = next_thread++] {
    while (!stop.load()) {
      QXSymTypeHandle child = 0;
      QXSymResult r = QXSym_TypeGetChildByName(shared_type, "Main", &child);
      check("child", r);
      if (r == symResOk) {
        std::uint32_t n = 0;
        check("children", QXSym_TypeGetNumChildren(child, &n));
        if (!closing.load() && n != 9) failures.Add("MOTOR has " + std::to_string(n));
        check("close type", QXSym_CloseType(child));
      }
      progress.Tick(me);
    }
  });
  // Reads the group and takes a member's value out; a handle of the same
  // tag that is not the member is refused.
  const QXSymTagHandle other_id = Tag("Recipe.Id");
  threads.emplace_back([&, me = next_thread++] {
    while (!stop.load()) {
      const QXSymResult read = QXSym_ReadGroup(group);
      check("group read", read);
      std::int32_t v = 0;
      const QXSymResult r = QXSym_GetTagValueFromGroup_Ptr(group, recipe_id, &v, sizeof v);
      if (read == symResOk) {
        check("group value", r);
        if (r == symResOk && v != 42) failures.Add("Recipe.Id from group " + std::to_string(v));
      }
      check("not a member", QXSym_GetTagValueFromGroup_Ptr(group, other_id, &v, sizeof v),
            {symResInvalidHandle});
      progress.Tick(me);
    }
  });

  // Let every thread race the others for a while.
  EXPECT_TRUE(progress.WaitAll(50, std::chrono::seconds(20)));
  closing.store(true);
  EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResOk);
  ws_ = 0;
  // Keep calling on the stranded handles for a while.
  const int seen = rounds.load();
  while (rounds.load() < seen + 300) std::this_thread::yield();
  stop.store(true);
  for (auto& t : threads) t.join();

  EXPECT_GT(seen, 50);
  for (const std::string& f : failures.list()) ADD_FAILURE() << f;
  // The library stops cleanly with everything still registered.
  EXPECT_EQ(QXSym_Shutdown(), symResOk);
  EXPECT_EQ(QXSym_Init(), symResOk);
}

QXSYM_INSTANTIATE_BOTH_SOURCES(ConcurrencyTest);

}  // namespace
}  // namespace qxsym::test
