// qxsym-sim changes its program under a connected client, on SIGHUP and
// with --reload-every, seen through the public API: references issued before
// a reload are unknown to the controller, lookups see the new program, a tag
// that survives keeps its value, and a file that cannot be loaded leaves the
// running program alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "QXSymbols.h"
#include "SimLauncher.h"

namespace qxsym::test {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kFirst = R"({ "name": "first", "tags": [
  { "name": "Speed", "type": "REAL", "value": 1.5 },
  { "name": "Mode", "type": "INT", "value": 3 },
  { "name": "Gone", "type": "DINT", "value": 9 } ] })";

// Mode changes its type, Gone vanishes, Speed survives, Added is new.
const char* const kSecond = R"({ "name": "second", "tags": [
  { "name": "Added", "type": "DINT", "value": 77 },
  { "name": "Mode", "type": "LREAL", "value": 2.25 },
  { "name": "Speed", "type": "REAL", "value": 8.0 } ] })";

// A scratch folder with the model file and the simulator's standard error.
class Scratch {
 public:
  Scratch() {
    char dir[] = "/tmp/qxsym-reload-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    dir_ = dir;
  }
  ~Scratch() {
    unlink(model().c_str());
    unlink(log().c_str());
    unlink((model() + ".new").c_str());
    rmdir(dir_.c_str());
  }
  std::string model() const { return dir_ + "/model.json"; }
  std::string log() const { return dir_ + "/stderr.log"; }

  // Replaced whole, as a program download does: a reload never reads half
  // a file.
  void Write(const std::string& text) const {
    {
      std::ofstream out(model() + ".new");
      out << text;
    }
    ASSERT_EQ(std::rename((model() + ".new").c_str(), model().c_str()), 0);
  }
  void Remove() const { unlink(model().c_str()); }

  // How often the simulator has logged text so far.
  int Count(const std::string& text) const {
    std::ifstream in(log());
    std::stringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    int n = 0;
    for (std::size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) ++n;
    return n;
  }

 private:
  std::string dir_;
};

// Polls until done() holds; false after a few seconds.
bool WaitFor(const std::function<bool()>& done) {
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class SimReload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QXSym_Init(), symResOk);
    scratch_.Write(kFirst);
  }
  void TearDown() override {
    if (ws_ != 0) QXSym_CloseWorkspace(ws_);
    QXSym_Shutdown();
  }

  void Start(std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--model", scratch_.model(), "--scan", "0"});
    sim_.set_stderr_file(scratch_.log());
    std::string error;
    ASSERT_TRUE(sim_.Start(flags, &error)) << error;
    QXSymServerAddress a{};
    a.protocol = symProtGDB_TCP;
    std::snprintf(a.ip, sizeof a.ip, "%s", sim_.host().c_str());
    a.port = sim_.port();
    a.timeout = 1000;
    ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws_), symResOk);
  }

  QXSymTagHandle Tag(const char* name) {
    QXSymTagHandle tag = 0;
    EXPECT_EQ(QXSym_GetGlobalTag(ws_, name, &tag), symResOk) << name;
    return tag;
  }

  // Until a lookup finds Added, which only the second program declares.
  bool WaitForSecondProgram() {
    return WaitFor([this] {
      QXSymTagHandle added = 0;
      if (QXSym_GetGlobalTag(ws_, "Added", &added) != symResOk) return false;
      QXSym_CloseTag(added);
      return true;
    });
  }

  Scratch scratch_;
  SimLauncher sim_;
  QXSymWorkspaceHandle ws_ = 0;
};

TEST_F(SimReload, SighupDownloadsTheNewFileUnderAnOpenWorkspace) {
  Start({});
  const QXSymTagHandle speed = Tag("Speed");
  const QXSymTagHandle mode = Tag("Mode");
  QXSymTypeHandle mode_type = 0;
  ASSERT_EQ(QXSym_GetTagType(mode, &mode_type), symResOk);
  const float written = 42.5f;
  ASSERT_EQ(QXSym_SetTagValue_Ptr(speed, &written, sizeof written), symResOk);

  scratch_.Write(kSecond);
  ASSERT_EQ(kill(sim_.pid(), SIGHUP), 0);
  ASSERT_TRUE(WaitForSecondProgram());

  // The controller no longer knows anything issued before.
  EXPECT_EQ(QXSym_IsValidWorkspace(ws_), symResOk);
  float f = 0;
  std::int16_t i = 0;
  EXPECT_EQ(QXSym_GetTagValue_Ptr(speed, &f, sizeof f), symResInvalidHandle);
  EXPECT_EQ(QXSym_GetTagValue_Ptr(mode, &i, sizeof i), symResInvalidHandle);
  EXPECT_EQ(QXSym_SetTagValue_Ptr(speed, &written, sizeof written), symResInvalidHandle);
  QXSymTypeHandle type = 0;
  EXPECT_EQ(QXSym_GetTagType(speed, &type), symResInvalidHandle);
  std::uint32_t size = 0;
  EXPECT_EQ(QXSym_TypeGetSize(mode_type, &size), symResInvalidHandle);

  // Lookups see the new program: the survivor keeps the value written
  // before, the changed tag has its new type, the vanished one is gone.
  const QXSymTagHandle speed2 = Tag("Speed");
  ASSERT_EQ(QXSym_GetTagValue_Ptr(speed2, &f, sizeof f), symResOk);
  EXPECT_EQ(f, written);
  const QXSymTagHandle mode2 = Tag("Mode");
  char type_name[32] = {};
  std::uint16_t length = sizeof type_name;
  ASSERT_EQ(QXSym_GetTagDataType(mode2, type_name, &length), symResOk);
  EXPECT_STREQ(type_name, "LREAL");
  double d = 0;
  ASSERT_EQ(QXSym_GetTagValue_Ptr(mode2, &d, sizeof d), symResOk);
  EXPECT_EQ(d, 2.25);
  QXSymTagHandle gone = 0;
  EXPECT_EQ(QXSym_GetGlobalTag(ws_, "Gone", &gone), symResSymbolNotFound);

  // A file that is no program keeps the one running: references issued
  // after the last good reload stay valid.
  const int refused_before = scratch_.Count("reload refused");
  const std::function<void()> spoil[] = {
      [this] { scratch_.Write("{ \"tags\": [ "); },
      [this] { scratch_.Write(R"({ "tags": [ { "name": "X", "type": "NOSUCH" } ] })"); },
      [this] { scratch_.Remove(); },
  };
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    spoil[k]();
    ASSERT_EQ(kill(sim_.pid(), SIGHUP), 0);
    ASSERT_TRUE(WaitFor([&] { return scratch_.Count("reload refused") > refused_before + k; }));
    EXPECT_EQ(QXSym_GetTagValue_Ptr(speed2, &f, sizeof f), symResOk);
    EXPECT_EQ(QXSym_GetTagValue_Ptr(mode2, &d, sizeof d), symResOk);
    EXPECT_EQ(d, 2.25);
  }
  EXPECT_EQ(scratch_.Count("program reloaded from " + scratch_.model()), 1);
  EXPECT_EQ(scratch_.Count(scratch_.model() + ":"), 3);  // each refusal names the file

  // Handles of the old program can still be given back: the controller
  // holds nothing for them, so they are released, and with the controller
  // stopped a released handle answers at once, without an exchange.
  EXPECT_EQ(QXSym_CloseTag(speed), symResInvalidHandle);
  ASSERT_EQ(kill(sim_.pid(), SIGSTOP), 0);
  EXPECT_EQ(QXSym_GetTagValue_Ptr(speed, &f, sizeof f), symResInvalidHandle);
  EXPECT_EQ(QXSym_CloseTag(speed), symResInvalidHandle);
  ASSERT_EQ(kill(sim_.pid(), SIGCONT), 0);
}

TEST_F(SimReload, ReloadEveryPeriodKeepsTheSurvivorsAndFollowsTheFile) {
  Start({"--reload-every", "50"});
  const QXSymTagHandle speed = Tag("Speed");
  const float written = 42.5f;
  ASSERT_EQ(QXSym_SetTagValue_Ptr(speed, &written, sizeof written), symResOk);
  // Even an unchanged file is a new program: the reference goes stale.
  float f = 0;
  ASSERT_TRUE(
      WaitFor([&] { return QXSym_GetTagValue_Ptr(speed, &f, sizeof f) == symResInvalidHandle; }));
  // A new lookup and its read may straddle the next reload: look again.
  ASSERT_TRUE(WaitFor([&] {
    const QXSymTagHandle again = Tag("Speed");
    return QXSym_GetTagValue_Ptr(again, &f, sizeof f) == symResOk;
  }));
  EXPECT_EQ(f, written);

  scratch_.Write(kSecond);
  ASSERT_TRUE(WaitForSecondProgram());
  QXSymTagHandle gone = 0;
  EXPECT_EQ(QXSym_GetGlobalTag(ws_, "Gone", &gone), symResSymbolNotFound);
}

}  // namespace
}  // namespace qxsym::test
