// Sessions that reconnect, against a qxsym-sim that is killed and started
// again on the same port (with the same program or another one) or stopped
// for a while: what the calls answer while the controller is away, what a
// subscription tells, and that a write never goes by a layout that changed.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CoreFixture.h"
#include "SimLauncher.h"

namespace qxsym::test {
namespace {

// An event copied out of the core's memory (numbers only).
struct Told {
  std::uint32_t kind = 0;
  std::uint32_t status = 0;
  std::int32_t result = 0;
  std::string path;
  std::uint32_t value_kind = 0;
  std::int64_t i = 0;
  double f = 0;
};

std::string WriteModel(const std::string& name, const std::string& tags) {
  const std::string path =
      ::testing::TempDir() + "qxsym_recover_" + name + "_" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"name": ")" << name << R"(", "tags": [)" << tags << "]}";
  return path;
}

// Before: Count is a DINT, Gone a REAL. After: Count is a REAL, Gone is gone.
const char* kTagsBefore = R"({"name": "Count", "type": "DINT", "value": 7},
  {"name": "Keep", "type": "INT", "value": 3}, {"name": "Gone", "type": "REAL", "value": 2.5})";
const char* kTagsAfter = R"({"name": "Count", "type": "REAL", "value": 1.5},
  {"name": "Keep", "type": "INT", "value": 3})";

class CoreRecoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    before_ = WriteModel("before", kTagsBefore);
    after_ = WriteModel("after", kTagsAfter);
    ASSERT_TRUE(Start(before_, 0));
    port_ = sim_.port();
  }
  void TearDown() override {
    for (QXSymCoreHandle s : opened_) QXSymCore_Close(s);
    std::remove(before_.c_str());
    std::remove(after_.c_str());
  }

  // Starts the simulator on port (0: any); the port of a killed one may be
  // refused for a moment, so a refused start is tried again.
  bool Start(const std::string& model, std::uint16_t port) {
    const std::vector<std::string> args = {"--model", model,    "--scan",
                                           "0",       "--port", std::to_string(port)};
    std::string error;
    for (int k = 0; k < 100; ++k) {
      if (sim_.Start(args, &error)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << error;
    return false;
  }

  QXSymCoreHandle Open(std::uint32_t first_ms, std::uint32_t max_ms, std::uint16_t timeout = 500) {
    QXSymServerAddress a{};
    a.protocol = symProtGDB_TCP;
    std::snprintf(a.ip, sizeof a.ip, "%s", sim_.host().c_str());
    a.port = port_;
    a.timeout = timeout;
    QXSymCoreHandle s = 0;
    EXPECT_EQ(QXSymCore_Open(&a, timeout, QXSymCoreLatin1, 1, &s), symResOk);
    if (s != 0) opened_.push_back(s);
    if (first_ms != 0) {
      EXPECT_EQ(QXSymCore_SetReconnect(s, first_ms, max_ms), symResOk);
    }
    return s;
  }

  QXSymCoreHandle Subscribe(QXSymCoreHandle s, std::vector<const char*> paths) {
    QXSymCoreSubscribeOptions o{};
    o.interval_ms = 30;
    QXSymCoreHandle sub = 0;
    EXPECT_EQ(
        QXSymCore_Subscribe(s, paths.data(), static_cast<std::uint32_t>(paths.size()), &o, &sub),
        symResOk);
    return sub;
  }

  // The events of one wait, appended to *all.
  void WaitOnce(QXSymCoreHandle sub, std::vector<Told>* all) {
    const QXSymCoreEvent* events = nullptr;
    std::uint32_t n = 0;
    ASSERT_EQ(QXSymCore_SubscriptionWait(sub, 10000, &events, &n), symResOk);
    for (std::uint32_t k = 0; k < n; ++k) {
      const QXSymCoreEvent& e = events[k];
      all->push_back({e.kind, e.status, e.result, e.path, e.value.kind, e.value.i, e.value.f});
    }
  }

  // Waits until a good value of path was told (or any event of kind, when
  // path is empty); everything told up to then.
  std::vector<Told> Until(QXSymCoreHandle sub, std::uint32_t kind, const std::string& path = "") {
    std::vector<Told> all;
    for (int k = 0; k < 400; ++k) {
      const std::size_t from = all.size();
      WaitOnce(sub, &all);
      for (std::size_t j = from; j < all.size(); ++j) {
        const Told& t = all[j];
        if (t.kind == kind && (path.empty() || (t.path == path && t.status == QXSymCoreGood))) {
          return all;
        }
      }
    }
    ADD_FAILURE() << "nothing of kind " << kind << " for '" << path << "' was told";
    return all;
  }

  static std::size_t Count(const std::vector<Told>& all, std::uint32_t kind,
                           const std::string& path = "", std::uint32_t status = 99) {
    std::size_t n = 0;
    for (const Told& t : all) {
      n += t.kind == kind && (path.empty() || t.path == path) &&
           (status == 99 || t.status == status);
    }
    return n;
  }

  static const Told* Last(const std::vector<Told>& all, const std::string& path) {
    const Told* found = nullptr;
    for (const Told& t : all) {
      if (t.kind == QXSymCoreEventChange && t.path == path) found = &t;
    }
    return found;
  }

  static QXSymCoreSessionState State(QXSymCoreHandle s) {
    QXSymCoreSessionState st{};
    EXPECT_EQ(QXSymCore_SessionState(s, &st), symResOk);
    return st;
  }

  SimLauncher sim_;
  std::uint16_t port_ = 0;
  std::string before_;
  std::string after_;
  std::vector<QXSymCoreHandle> opened_;
};

TEST_F(CoreRecoverTest, StepsAreCheckedAndAPlainSessionTakesNoFingerprint) {
  const QXSymCoreHandle s = Open(0, 0);
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  ASSERT_EQ(QXSymCore_Exchanges(s, &before), symResOk);
  EXPECT_EQ(State(s).fingerprint, 0u);
  EXPECT_EQ(QXSymCore_SetReconnect(s, 500, 100), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_SetReconnect(s, 3600001, 0), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_SetReconnect(s, 10, 3600001), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_SetReconnect(0, 10, 0), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_SessionState(s, nullptr), symResInvalidParameter);
  ASSERT_EQ(QXSymCore_Exchanges(s, &after), symResOk);
  EXPECT_EQ(after, before);  // nothing refused was sent
  ASSERT_EQ(QXSymCore_SetReconnect(s, 10, 0), symResOk);
  ASSERT_EQ(QXSymCore_Exchanges(s, &after), symResOk);
  EXPECT_EQ(after, before + 2);  // the tag count and the table
  const QXSymCoreSessionState st = State(s);
  EXPECT_EQ(st.connected, 1u);
  EXPECT_NE(st.fingerprint, 0u);
}

TEST_F(CoreRecoverTest, AKilledControllerIsToldOnceCallsFailFastAndValuesComeBack) {
  const QXSymCoreHandle s = Open(20, 100);
  // A session whose first attempt is an hour away: every call fails fast.
  const QXSymCoreHandle idle = Open(3600000, 0);
  const char* count = "Count";
  const QXSymCoreReadItem* items = nullptr;
  ASSERT_EQ(QXSymCore_Read(idle, &count, 1, &items), symResOk);
  const QXSymCoreHandle sub = Subscribe(s, {"Count", "Keep"});
  ASSERT_EQ(Count(Until(sub, QXSymCoreEventChange, "Keep"), QXSymCoreEventChange), 2u);

  sim_.Kill();
  std::vector<Told> away = Until(sub, QXSymCoreEventConnectionLost);
  for (int k = 0; k < 5; ++k) WaitOnce(sub, &away);
  EXPECT_EQ(Count(away, QXSymCoreEventConnectionLost), 1u);
  EXPECT_EQ(Count(away, QXSymCoreEventChange, "Count", QXSymCoreStale), 1u);
  EXPECT_EQ(Count(away, QXSymCoreEventChange, "Keep", QXSymCoreStale), 1u);
  EXPECT_EQ(Count(away, QXSymCoreEventChange, "", QXSymCoreGood), 0u);
  EXPECT_EQ(Count(away, QXSymCoreEventConnectionBack), 0u);

  // The first call finds the connection gone; the next sends nothing.
  const QXSymResult seen = QXSymCore_Read(idle, &count, 1, &items);
  EXPECT_TRUE(seen == symResSocketError || seen == symResConnectionLost) << seen;
  std::uint64_t sent = 0;
  std::uint64_t later = 0;
  ASSERT_EQ(QXSymCore_Exchanges(idle, &sent), symResOk);
  EXPECT_EQ(QXSymCore_Read(idle, &count, 1, &items), symResConnectionLost);
  const QXSymCoreLayout* layout = nullptr;
  EXPECT_EQ(QXSymCore_Describe(idle, "Keep", &layout, nullptr), symResConnectionLost);
  ASSERT_EQ(QXSymCore_Exchanges(idle, &later), symResOk);
  EXPECT_EQ(later, sent);
  EXPECT_EQ(State(idle).connected, 0u);
  EXPECT_GT(State(idle).retry_in_ms, 3000000u);

  ASSERT_TRUE(Start(before_, port_));
  const std::vector<Told> back = Until(sub, QXSymCoreEventChange, "Count");
  EXPECT_EQ(Count(back, QXSymCoreEventConnectionBack), 1u);
  EXPECT_EQ(Count(back, QXSymCoreEventConnectionLost), 0u);
  EXPECT_EQ(Count(back, QXSymCoreEventOnlineChange), 0u);  // the same program
  EXPECT_EQ(Last(back, "Count")->i, 7);
  const QXSymCoreSessionState st = State(s);
  EXPECT_EQ(st.connected, 1u);
  EXPECT_EQ(st.reconnects, 1u);
  EXPECT_EQ(st.online_changes, 0u);
}

TEST_F(CoreRecoverTest, AnotherProgramIsAnOnlineChangeAndOldLayoutsAreNotWrittenBy) {
  const QXSymCoreHandle s = Open(20, 100);
  const QXSymCoreLayout* layout = nullptr;
  ASSERT_EQ(QXSymCore_Describe(s, "Count", &layout, nullptr), symResOk);
  const std::uint64_t print = State(s).fingerprint;
  const QXSymCoreHandle sub = Subscribe(s, {"Count", "Keep", "Gone"});
  ASSERT_EQ(Count(Until(sub, QXSymCoreEventChange, "Gone"), QXSymCoreEventChange), 3u);

  sim_.Kill();
  ASSERT_TRUE(Start(after_, port_));
  const std::vector<Told> all = Until(sub, QXSymCoreEventOnlineChange);
  std::vector<Told> more = all;
  if (Last(more, "Count") == nullptr || Last(more, "Count")->status != QXSymCoreGood) {
    more = Until(sub, QXSymCoreEventChange, "Count");
    more.insert(more.begin(), all.begin(), all.end());
  }
  EXPECT_EQ(Count(more, QXSymCoreEventOnlineChange), 1u);
  const Told* gone = Last(more, "Gone");
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(gone->status, static_cast<std::uint32_t>(QXSymCoreBad));
  EXPECT_NE(gone->result, symResOk);
  const Told* changed = Last(more, "Count");
  EXPECT_EQ(changed->value_kind, static_cast<std::uint32_t>(QXSymCoreFloat));
  EXPECT_EQ(changed->f, 1.5);
  const QXSymCoreSessionState st = State(s);
  EXPECT_EQ(st.online_changes, 1u);
  EXPECT_NE(st.fingerprint, print);

  // Values made for the DINT are refused, not written to the REAL.
  const QXSymCoreValue dint = SignedValue(5);
  QXSymCoreWriteItem item{"Count", &dint, 1};
  const QXSymCoreWriteResult* results = nullptr;
  EXPECT_EQ(QXSymCore_Write(s, &item, 1, &results), symResInvalidTagType);
  EXPECT_NE(std::string(results[0].message).find("program changed"), std::string::npos);
  ASSERT_EQ(QXSymCore_Describe(s, "Count", &layout, nullptr), symResOk);
  EXPECT_STREQ(layout->type_name, "REAL");
  const QXSymCoreValue real = FloatValue(2.5);
  item.values = &real;
  EXPECT_EQ(QXSymCore_Write(s, &item, 1, &results), symResOk);
  const QXSymCoreHandle fresh = Open(0, 0);
  const char* count = "Count";
  const QXSymCoreReadItem* items = nullptr;
  ASSERT_EQ(QXSymCore_Read(fresh, &count, 1, &items), symResOk);
  EXPECT_EQ(items[0].values[0].f, 2.5);
}

TEST_F(CoreRecoverTest, AProgramLoadedUnderTheConnectionIsAnOnlineChange) {
  // A plain session: the controller's refusal of the old references tells it.
  const QXSymCoreHandle s = Open(0, 0);
  const QXSymCoreLayout* layout = nullptr;
  ASSERT_EQ(QXSymCore_Describe(s, "Count", &layout, nullptr), symResOk);
  const QXSymCoreHandle sub = Subscribe(s, {"Count", "Keep", "Gone"});
  ASSERT_EQ(Count(Until(sub, QXSymCoreEventChange, "Gone"), QXSymCoreEventChange), 3u);

  std::ofstream(before_, std::ios::trunc) << R"({"name": "after", "tags": [)" << kTagsAfter << "]}";
  ASSERT_EQ(kill(sim_.pid(), SIGHUP), 0);
  std::vector<Told> all = Until(sub, QXSymCoreEventOnlineChange);
  const Told* changed = Last(all, "Count");
  if (changed == nullptr || changed->value_kind != QXSymCoreFloat) {
    const std::vector<Told> more = Until(sub, QXSymCoreEventChange, "Count");
    all.insert(all.end(), more.begin(), more.end());
    changed = Last(all, "Count");
  }
  EXPECT_EQ(Count(all, QXSymCoreEventOnlineChange), 1u);
  EXPECT_EQ(Count(all, QXSymCoreEventConnectionLost), 0u);
  ASSERT_NE(Last(all, "Gone"), nullptr);
  EXPECT_EQ(Last(all, "Gone")->status, static_cast<std::uint32_t>(QXSymCoreBad));
  EXPECT_EQ(changed->value_kind, static_cast<std::uint32_t>(QXSymCoreFloat));
  EXPECT_EQ(changed->f, 1.5);
  const QXSymCoreSessionState st = State(s);
  EXPECT_EQ(st.online_changes, 1u);
  EXPECT_EQ(st.reconnects, 0u);

  // Refused once; having been told, the caller writes by the new layout
  // without describing the path itself.
  const QXSymCoreValue real = FloatValue(2.5);
  QXSymCoreWriteItem item{"Count", &real, 1};
  EXPECT_EQ(QXSymCore_Write(s, &item, 1, nullptr), symResInvalidTagType);
  EXPECT_EQ(QXSymCore_Write(s, &item, 1, nullptr), symResOk);
  const char* count = "Count";
  const QXSymCoreReadItem* items = nullptr;
  ASSERT_EQ(QXSymCore_Read(s, &count, 1, &items), symResOk);
  EXPECT_EQ(items[0].values[0].f, 2.5);
}

TEST_F(CoreRecoverTest, AStoppedControllerIsStaleOnceAndGoodAfterItGoesOn) {
  const QXSymCoreHandle s = Open(20, 100, 300);
  const QXSymCoreHandle sub = Subscribe(s, {"Count", "Keep"});
  Until(sub, QXSymCoreEventChange, "Keep");
  const pid_t pid = sim_.pid();
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{pid};
  // Not even acknowledged: a socket error, so the session is away and
  // tries to open again (each attempt waiting out the open's time-outs).
  std::vector<Told> stopped;
  for (int k = 0; k < 3; ++k) WaitOnce(sub, &stopped);
  EXPECT_EQ(Count(stopped, QXSymCoreEventConnectionLost), 1u);
  EXPECT_EQ(Count(stopped, QXSymCoreEventChange, "Count", QXSymCoreStale), 1u);
  EXPECT_EQ(Count(stopped, QXSymCoreEventChange, "Keep", QXSymCoreStale), 1u);
  EXPECT_EQ(Count(stopped, QXSymCoreEventChange, "", QXSymCoreGood), 0u);
  ASSERT_EQ(kill(pid, SIGCONT), 0);
  const std::vector<Told> again = Until(sub, QXSymCoreEventChange, "Count");
  EXPECT_EQ(Last(again, "Count")->i, 7);
  EXPECT_EQ(Count(again, QXSymCoreEventConnectionBack), 1u);
  EXPECT_EQ(Count(again, QXSymCoreEventOnlineChange), 0u);
  EXPECT_EQ(State(s).connected, 1u);
}

}  // namespace
}  // namespace qxsym::test
