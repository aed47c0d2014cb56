// One slow controller stalls no other: while threads keep calling a
// workspace whose simulator answers every command late, or close that
// workspace, every read on a workspace of a healthy simulator succeeds at
// once. The bounds are generous: they separate "runs in parallel" (well
// under a millisecond) from "waits behind the slow exchange".
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "QXSymbols.h"
#include "SimLauncher.h"

namespace qxsym::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSlowDelayMs = 1000;
constexpr std::uint16_t kTimeoutMs = 2500;
// Far under the slow controller's delay, far over a healthy read.
constexpr long kHealthyBoundMs = kSlowDelayMs / 2;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class IsolationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QXSym_Init(), symResOk);
    Start(&healthy_sim_, {});
    Start(&slow_sim_, {"--delay", std::to_string(kSlowDelayMs)});
    ASSERT_EQ(Open(healthy_sim_, &healthy_ws_), symResOk);
    ASSERT_EQ(Open(slow_sim_, &slow_ws_), symResOk);
    ASSERT_EQ(QXSym_GetGlobalTag(healthy_ws_, "CntDint", &healthy_tag_), symResOk);
    ASSERT_EQ(QXSym_GetGlobalTag(slow_ws_, "CntDint", &slow_tag_), symResOk);
  }
  void TearDown() override {
    stop_ = true;
    for (auto& t : callers_) t.join();
    if (healthy_ws_ != 0) QXSym_CloseWorkspace(healthy_ws_);
    if (slow_ws_ != 0) QXSym_CloseWorkspace(slow_ws_);
    QXSym_Shutdown();
  }

  static void Start(SimLauncher* sim, std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--model", QXSYM_DEMO_MODEL, "--scan", "0"});
    std::string error;
    ASSERT_TRUE(sim->Start(flags, &error)) << error;
  }
  static QXSymResult Open(const SimLauncher& sim, QXSymWorkspaceHandle* ws) {
    QXSymServerAddress a{};
    a.protocol = symProtGDB_TCP;
    std::snprintf(a.ip, sizeof a.ip, "%s", sim.host().c_str());
    a.port = sim.port();
    a.timeout = kTimeoutMs;
    return QXSym_OpenWorkspace(0, &a, ws);
  }

  // Threads that keep reading the slow controller's tag until the test ends;
  // every call made is counted.
  void KeepCallingTheSlowOne(int threads) {
    for (int i = 0; i < threads; ++i) {
      callers_.emplace_back([this] {
        while (!stop_) {
          std::int32_t v = 0;
          (void)QXSym_GetTagValue_Ptr(slow_tag_, &v, sizeof v);
          ++slow_calls_;
        }
      });
    }
  }

  // Reads the healthy tag until done() holds: each read must succeed within
  // the bound. Returns the number of reads.
  template <typename Done>
  int ReadHealthyUntil(Done done) {
    int reads = 0;
    long slowest = 0;
    while (!done()) {
      std::int32_t v = 0;
      const auto start = Clock::now();
      const QXSymResult r = QXSym_GetTagValue_Ptr(healthy_tag_, &v, sizeof v);
      const long ms = MsSince(start);
      EXPECT_EQ(r, symResOk) << "read " << reads;
      if (ms > slowest) slowest = ms;
      ++reads;
      if (r != symResOk || ms > kHealthyBoundMs) break;
    }
    EXPECT_LE(slowest, kHealthyBoundMs) << "after " << reads << " reads";
    return reads;
  }

  SimLauncher healthy_sim_, slow_sim_;
  QXSymWorkspaceHandle healthy_ws_ = 0, slow_ws_ = 0;
  QXSymTagHandle healthy_tag_ = 0, slow_tag_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> slow_calls_{0};
  std::vector<std::thread> callers_;
};

TEST_F(IsolationTest, HealthyReadsGoOnWhileTheSlowOneIsCalledAndClosed) {
  KeepCallingTheSlowOne(1);
  const int during_calls = ReadHealthyUntil([this] { return slow_calls_ >= 2; });
  EXPECT_GE(during_calls, 10);

  std::atomic<bool> closed{false};
  QXSymResult close_result = symResNotOk;
  std::thread closer([&] {
    close_result = QXSym_CloseWorkspace(slow_ws_);
    closed = true;
  });
  const int during_close = ReadHealthyUntil([&] { return closed.load(); });
  closer.join();
  slow_ws_ = 0;
  // The close waits for the slow read in progress, then for its own late
  // answer; either way the workspace is gone.
  EXPECT_TRUE(close_result == symResOk || close_result == symResTimeoutError) << close_result;
  EXPECT_GE(during_close, 10);
}

TEST_F(IsolationTest, HealthyReadsGoOnWhileTheSlowControllerIsStopped) {
  // A controller that stops answering altogether: every call on it ends
  // with its time-out, and meanwhile the healthy one answers at once.
  ASSERT_EQ(::kill(slow_sim_.pid(), SIGSTOP), 0);
  KeepCallingTheSlowOne(1);
  const auto start = Clock::now();
  const int reads = ReadHealthyUntil([&] { return MsSince(start) > kTimeoutMs + 500; });
  EXPECT_GE(reads, 10);
  // A controller that never comes back: its workspace closes at once.
  slow_sim_.Kill();
}

}  // namespace
}  // namespace qxsym::test
