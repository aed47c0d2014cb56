// Faults on the wire, end to end through the public API: each call ends
// with its documented result within a bounded time (the workspace time-out
// is 300 ms), the process goes on, and a new workspace works afterwards.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "QXSymbols.h"
#include "SimLauncher.h"

namespace qxsym::test {
namespace {

constexpr std::uint16_t kTimeoutMs = 300;
constexpr std::uint32_t kBigCount = 1000;  // DINTs: a value that travels in fragments

// Calls that give up must do so within a few waits of kTimeoutMs; the slack
// covers slow sanitizer builds on a busy machine.
constexpr long kGiveUpMs = 8 * kTimeoutMs + 2000;

class Stopwatch {
 public:
  long ms() const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start_)
                                 .count());
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The test model, written to a scratch folder that goes away with the
// process.
class ModelFile {
 public:
  ModelFile() {
    char dir[] = "/tmp/qxsym-faults-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    dir_ = dir;
    file_ = dir_ + "/faults.json";
    std::ofstream out(file_);
    out << R"({ "name": "faults", "tags": [
      { "name": "Counter", "type": "DINT", "value": 7 },
      { "name": "Label", "type": "STRING[40]", "value": "fault test" },
      { "name": "Big", "type": "ARRAY[1..)"
        << kBigCount << R"(] OF DINT" } ] })";
  }
  ~ModelFile() {
    unlink(file_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return file_; }

 private:
  std::string dir_;
  std::string file_;
};

std::string ModelPath() {
  static const ModelFile model;
  return model.path();
}

QXSymServerAddress Address(const std::string& host, std::uint16_t port,
                           std::uint16_t timeout = kTimeoutMs) {
  QXSymServerAddress a{};
  a.protocol = symProtGDB_TCP;
  std::snprintf(a.ip, sizeof a.ip, "%s", host.c_str());
  a.port = port;
  a.timeout = timeout;
  return a;
}

// The state letter of a process in /proc ('R', 'S', 'T' stopped, 'Z'...),
// or 0 when it is gone.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const std::size_t close_paren = line.rfind(')');
  if (close_paren == std::string::npos || close_paren + 2 >= line.size()) return 0;
  return line[close_paren + 2];
}

// Waits (at most 5 s) until the process has the state.
bool WaitForState(pid_t pid, char state) {
  for (int i = 0; i < 250; ++i) {
    if (ProcessState(pid) == state) return true;
    usleep(20000);
  }
  return false;
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(QXSym_Init(), symResOk); }
  void TearDown() override { QXSym_Shutdown(); }

  void StartSim(SimLauncher* sim, std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--model", ModelPath(), "--scan", "0"});
    std::string error;
    ASSERT_TRUE(sim->Start(flags, &error)) << error;
  }

  QXSymResult Open(const SimLauncher& sim, QXSymWorkspaceHandle* ws,
                   std::uint16_t timeout = kTimeoutMs) {
    const QXSymServerAddress a = Address(sim.host(), sim.port(), timeout);
    return QXSym_OpenWorkspace(0, &a, ws);
  }

  // A fresh, healthy simulator answers a new workspace: the fault left
  // nothing behind in the library.
  void ExpectNewWorkspaceWorks() {
    SimLauncher healthy;
    StartSim(&healthy, {});
    QXSymWorkspaceHandle ws = 0;
    ASSERT_EQ(Open(healthy, &ws), symResOk);
    ExpectCounterReadable(ws);
    EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
  }

 public:
  static void ExpectCounterReadable(QXSymWorkspaceHandle ws) {
    QXSymTagHandle tag = 0;
    ASSERT_EQ(QXSym_GetGlobalTag(ws, "Counter", &tag), symResOk);
    std::int32_t value = 0;
    EXPECT_EQ(QXSym_GetTagValue_Ptr(tag, &value, sizeof value), symResOk);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(QXSym_CloseTag(tag), symResOk);
  }
};

// ---- Faults the protocol recovers from -------------------------------------

TEST_F(FaultTest, RepairableFaultsAreInvisibleToTheCaller) {
  // Bad checksums (the reply is asked for again), negative acknowledgements
  // (the request is sent again), stale replies (skipped), a delay within
  // the time-out, and all of them with fragmented values.
  const std::vector<std::vector<std::string>> faults = {
      {"--bad-checksum-every", "2"},
      {"--nak-every", "2"},
      {"--stale-every", "1"},
      {"--delay", "50"},
      {"--bad-checksum-every", "3", "--nak-every", "4", "--stale-every", "2",
       "--reply-fragment-size", "200"},
      {"--no-seq", "--bad-checksum-every", "2"},
  };
  for (const auto& flags : faults) {
    SCOPED_TRACE(::testing::PrintToString(flags));
    SimLauncher sim;
    StartSim(&sim, flags);
    QXSymWorkspaceHandle ws = 0;
    ASSERT_EQ(Open(sim, &ws), symResOk);
    for (int i = 0; i < 5; ++i) ExpectCounterReadable(ws);

    QXSymTagHandle big = 0;
    ASSERT_EQ(QXSym_GetGlobalTag(ws, "Big", &big), symResOk);
    std::vector<std::int32_t> out(kBigCount), in(kBigCount);
    for (std::uint32_t i = 0; i < kBigCount; ++i) out[i] = static_cast<std::int32_t>(i * 7);
    EXPECT_EQ(QXSym_SetTagRawValue_Ptr(big, out.data(), kBigCount * 4), symResOk);
    EXPECT_EQ(QXSym_GetTagRawValue_Ptr(big, in.data(), kBigCount * 4), symResOk);
    EXPECT_EQ(in, out);
    EXPECT_EQ(QXSym_CloseTag(big), symResOk);
    EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
  }
}

// ---- Faults that end a call ------------------------------------------------

TEST_F(FaultTest, EveryReplyWithABadChecksumIsATimeOut) {
  // The repetition is spoiled as well: the reply is given up on.
  SimLauncher sim;
  StartSim(&sim, {"--bad-checksum-every", "1"});
  QXSymWorkspaceHandle ws = 0;
  Stopwatch watch;
  EXPECT_EQ(Open(sim, &ws), symResTimeoutError);
  EXPECT_EQ(ws, 0);
  EXPECT_LT(watch.ms(), kGiveUpMs);
  ExpectNewWorkspaceWorks();
}

TEST_F(FaultTest, EveryRequestRefusedIsASocketError) {
  // "-" to the frame and to its one repetition.
  SimLauncher sim;
  StartSim(&sim, {"--nak-every", "1"});
  QXSymWorkspaceHandle ws = 0;
  Stopwatch watch;
  EXPECT_EQ(Open(sim, &ws), symResSocketError);
  EXPECT_EQ(ws, 0);
  EXPECT_LT(watch.ms(), kGiveUpMs);
  ExpectNewWorkspaceWorks();
}

TEST_F(FaultTest, RepliesLaterThanTheTimeOutAreTimeOuts) {
  SimLauncher sim;
  StartSim(&sim, {"--delay", "900"});
  QXSymWorkspaceHandle ws = 0;
  Stopwatch watch;
  EXPECT_EQ(Open(sim, &ws), symResTimeoutError);
  EXPECT_LT(watch.ms(), kGiveUpMs);

  // With a time-out longer than the delay the same controller is usable,
  // and the late reply of an earlier exchange is recognised as stale.
  ASSERT_EQ(Open(sim, &ws, 3000), symResOk);
  ExpectCounterReadable(ws);
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
  ExpectNewWorkspaceWorks();
}

// A controller that stops answering (SIGSTOP). With acknowledgements the
// request already goes unacknowledged (symResSocketError); without them the
// reply never comes (symResTimeoutError).
void StoppedControllerCase(bool ack) {
  SimLauncher sim;
  std::vector<std::string> flags;
  if (!ack) flags.push_back("--no-ack");
  flags.insert(flags.begin(), {"--model", ModelPath(), "--scan", "0"});
  std::string error;
  ASSERT_TRUE(sim.Start(flags, &error)) << error;
  const QXSymServerAddress a = Address(sim.host(), sim.port());
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  QXSymTagHandle tag = 0, big = 0;
  ASSERT_EQ(QXSym_GetGlobalTag(ws, "Counter", &tag), symResOk);
  ASSERT_EQ(QXSym_GetGlobalTag(ws, "Big", &big), symResOk);
  QXSymTypeHandle type = 0;
  ASSERT_EQ(QXSym_GetTagType(tag, &type), symResOk);
  QXSymGroupHandle group = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws, &group), symResOk);
  ASSERT_EQ(QXSym_AddTagToGroup(group, tag), symResOk);

  ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);
  ASSERT_TRUE(WaitForState(sim.pid(), 'T')) << "state " << ProcessState(sim.pid());
  std::int32_t value = -1;
  // A write that goes unanswered may still be carried out once the
  // controller resumes: it writes the value the tag already has.
  const std::int32_t seven = 7;
  std::vector<std::int32_t> values(kBigCount);
  char text[64];
  std::uint16_t length = sizeof text;
  std::uint32_t count = 0;
  QXSymTagHandle other = 0;
  struct Call {
    const char* what;
    std::function<QXSymResult()> run;
  };
  const std::vector<Call> calls = {
      {"GetTagValue", [&] { return QXSym_GetTagValue_Ptr(tag, &value, sizeof value); }},
      {"SetTagValue", [&] { return QXSym_SetTagValue_Ptr(tag, &seven, sizeof seven); }},
      {"SetTagRawValue (fragmented request)",
       [&] { return QXSym_SetTagRawValue_Ptr(big, values.data(), kBigCount * 4); }},
      {"GetTagName", [&] { return QXSym_GetTagName(tag, text, &length); }},
      {"TypeGetName", [&] { return QXSym_TypeGetName(type, text, &length); }},
      {"GetGlobalTag", [&] { return QXSym_GetGlobalTag(ws, "Label", &other); }},
      {"GetGlobalTagsNum", [&] { return QXSym_GetGlobalTagsNum(ws, &count); }},
      {"IsValidWorkspace", [&] { return QXSym_IsValidWorkspace(ws); }},
      {"ReadGroup", [&] { return QXSym_ReadGroup(group); }},
  };
  for (const Call& call : calls) {
    SCOPED_TRACE(call.what);
    Stopwatch watch;
    EXPECT_EQ(call.run(), ack ? symResSocketError : symResTimeoutError);
    EXPECT_LT(watch.ms(), kGiveUpMs);
  }
  EXPECT_EQ(value, -1);  // outputs untouched
  EXPECT_EQ(other, 0);

  // The controller comes back. The old workspace's connection is full of
  // answers to exchanges long given up; closing it and opening a new one
  // is the way back.
  ASSERT_EQ(kill(sim.pid(), SIGCONT), 0);
  QXSym_DeleteGroup(group);
  QXSym_CloseType(type);
  QXSym_CloseTag(tag);
  QXSym_CloseTag(big);
  QXSym_CloseWorkspace(ws);
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  FaultTest::ExpectCounterReadable(ws);
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
}

TEST_F(FaultTest, AStoppedControllerFailsEveryCallInTime) { StoppedControllerCase(true); }

TEST_F(FaultTest, AStoppedControllerWithoutAcknowledgementsTimesOut) {
  StoppedControllerCase(false);
}

TEST_F(FaultTest, AListenerThatNeverAnswersFailsTheOpen) {
  // The kernel accepts the connection; nobody ever reads or writes.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  socklen_t len = sizeof sa;
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len), 0);

  const QXSymServerAddress a = Address("127.0.0.1", ntohs(sa.sin_port));
  QXSymWorkspaceHandle ws = 0;
  Stopwatch watch;
  // Both mode handshakes are tried twice, then the open request goes
  // unacknowledged.
  EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResSocketError);
  EXPECT_EQ(ws, 0);
  EXPECT_LT(watch.ms(), 5 * kTimeoutMs + kGiveUpMs);
  close(fd);
  ExpectNewWorkspaceWorks();
}

TEST_F(FaultTest, NoListenerAtAllIsAnInvalidAddress) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  socklen_t len = sizeof sa;
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len), 0);
  close(fd);  // the port is free again: nothing listens there

  const QXSymServerAddress a = Address("127.0.0.1", ntohs(sa.sin_port));
  QXSymWorkspaceHandle ws = 0;
  Stopwatch watch;
  EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResInvalidAddress);
  EXPECT_LT(watch.ms(), kGiveUpMs);
}

// ---- The connection closed in the middle of a transfer ---------------------

// The frame numbers at which the simulator drops the connection sweep over
// the open, a fragmented reply (a read of Big in fragments of 200 bytes) and
// a fragmented request (a write of Big). Whatever call meets the cut fails
// with a channel result; every later call knows at once that the
// connection is gone.
TEST_F(FaultTest, ConnectionClosedDuringFragmentedTransfers) {
  const std::set<int> while_failing = {symResTimeoutError, symResSocketError,
                                       symResSegmentationError, symResConnectionLost};
  const std::set<int> once_lost = {symResSocketError, symResConnectionLost};
  int cut_in_transfer = 0;
  for (int cut = 1; cut <= 40; cut += 3) {
    SCOPED_TRACE("closed at command frame " + std::to_string(cut));
    SimLauncher sim;
    StartSim(&sim, {"--reply-fragment-size", "200", "--close-after", std::to_string(cut)});
    QXSymWorkspaceHandle ws = 0;
    QXSymTagHandle big = 0;
    std::vector<std::int32_t> values(kBigCount, 5);
    Stopwatch watch;
    QXSymResult r = Open(sim, &ws);
    if (r == symResOk) r = QXSym_GetGlobalTag(ws, "Big", &big);
    for (int round = 0; round < 6 && r == symResOk; ++round) {
      r = (round % 2 == 0) ? QXSym_GetTagRawValue_Ptr(big, values.data(), kBigCount * 4)
                           : QXSym_SetTagRawValue_Ptr(big, values.data(), kBigCount * 4);
    }
    ASSERT_NE(r, symResOk);
    EXPECT_TRUE(while_failing.count(r)) << "result " << r;
    EXPECT_LT(watch.ms(), kGiveUpMs);
    if (r == symResSegmentationError) ++cut_in_transfer;
    if (ws == 0) continue;

    Stopwatch after;
    QXSymTagHandle counter = 0;
    if (big != 0) {
      EXPECT_TRUE(once_lost.count(QXSym_GetTagRawValue_Ptr(big, values.data(), kBigCount * 4)));
      QXSym_CloseTag(big);
    }
    EXPECT_TRUE(once_lost.count(QXSym_GetGlobalTag(ws, "Counter", &counter)));
    EXPECT_EQ(counter, 0);
    EXPECT_LT(after.ms(), kTimeoutMs);
    QXSym_CloseWorkspace(ws);
  }
  EXPECT_GT(cut_in_transfer, 0);
  ExpectNewWorkspaceWorks();
}

TEST_F(FaultTest, AControllerThatVanishesEndsCallsAtOnce) {
  SimLauncher sim;
  StartSim(&sim, {});
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(Open(sim, &ws), symResOk);
  QXSymTagHandle tag = 0;
  ASSERT_EQ(QXSym_GetGlobalTag(ws, "Counter", &tag), symResOk);
  QXSymGroupHandle group = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws, &group), symResOk);
  sim.Kill();
  std::int32_t value = 0;
  Stopwatch watch;
  const QXSymResult first = QXSym_GetTagValue_Ptr(tag, &value, sizeof value);
  EXPECT_TRUE(first == symResTimeoutError || first == symResSocketError) << first;
  EXPECT_TRUE(QXSym_GetTagValue_Ptr(tag, &value, sizeof value) == symResSocketError ||
              QXSym_GetTagValue_Ptr(tag, &value, sizeof value) == symResConnectionLost);
  EXPECT_LT(watch.ms(), kGiveUpMs);
  // The session that held the tag is gone with the connection: the close
  // reports the loss and releases the handle all the same, so handles of
  // lost connections never pile up.
  const QXSymResult closed = QXSym_CloseTag(tag);
  EXPECT_TRUE(closed == symResSocketError || closed == symResConnectionLost) << closed;
  char name[32];
  std::uint16_t length = sizeof name;
  EXPECT_EQ(QXSym_GetTagName(tag, name, &length), symResInvalidHandle);
  EXPECT_EQ(QXSym_CloseTag(tag), symResInvalidHandle);
  const QXSymResult deleted = QXSym_DeleteGroup(group);
  EXPECT_TRUE(deleted == symResSocketError || deleted == symResConnectionLost) << deleted;
  EXPECT_EQ(QXSym_ReadGroup(group), symResInvalidHandle);
  QXSym_CloseWorkspace(ws);
  EXPECT_EQ(QXSym_IsValidWorkspace(ws), symResInvalidHandle);
  ExpectNewWorkspaceWorks();
}

// ---- The test harness itself ----------------------------------------------

// A test process that dies without stopping its simulator (a sanitizer
// report, a crash) must not leave it running: the test runner would wait
// for its output forever.
TEST(SimLauncherTest, TheSimulatorDiesWithTheProcessThatStartedIt) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SimLauncher sim;
    pid_t started = -1;
    if (sim.Start({"--model", ModelPath()})) started = sim.pid();
    (void)!write(fds[1], &started, sizeof started);
    _exit(0);  // no destructor: the simulator is never stopped
  }
  close(fds[1]);
  pid_t sim_pid = -1;
  ASSERT_EQ(read(fds[0], &sim_pid, sizeof sim_pid), static_cast<ssize_t>(sizeof sim_pid));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_GT(sim_pid, 0);

  auto alive = [](pid_t pid) {
    const char state = ProcessState(pid);
    return state != 0 && state != 'Z';
  };
  Stopwatch watch;
  while (alive(sim_pid) && watch.ms() < 10000) usleep(20000);
  EXPECT_FALSE(alive(sim_pid));
  if (alive(sim_pid)) kill(sim_pid, SIGKILL);
}

}  // namespace
}  // namespace qxsym::test
