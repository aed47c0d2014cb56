// The symbol cache on disk against qxsym-sim: a second session finds the
// types the first one wrote and reads a structure in a handful of
// exchanges, with the same values; another program discards the file; a
// damaged file is passed over and written again.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CoreFixture.h"
#include "SimLauncher.h"

namespace qxsym::test {
namespace {

namespace fs = std::filesystem;

// The same type name as the demo's LINE, with other members.
const char* kOtherModel = R"({"name": "other", "types": [{"name": "LINE", "kind": "STRUCT",
  "members": [{"name": "Count", "type": "DINT"}, {"name": "Speed", "type": "REAL"}]}],
  "tags": [{"name": "Line", "type": "LINE", "value": {"Count": 42, "Speed": 0.5}}]})";

class CoreCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "qxsym_cache_" + std::to_string(getpid());
    fs::remove_all(dir_);
    Start({});
  }
  void TearDown() override {
    for (QXSymCoreHandle s : opened_) QXSymCore_Close(s);
    fs::remove_all(dir_);
  }

  void Start(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--scan", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    // The port of a stopped simulator may be refused for a moment.
    for (int k = 0; k < 100; ++k) {
      if (sim_.Start(args, &error)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << error;
  }

  // A session, its cache in dir_ when cached.
  QXSymCoreHandle Open(bool cached) {
    QXSymServerAddress a{};
    a.protocol = symProtGDB_TCP;
    std::snprintf(a.ip, sizeof a.ip, "%s", sim_.host().c_str());
    a.port = sim_.port();
    QXSymCoreHandle s = 0;
    EXPECT_EQ(QXSymCore_Open(&a, 2000, QXSymCoreLatin1, 1, &s), symResOk);
    if (s != 0) opened_.push_back(s);
    if (cached) {
      EXPECT_EQ(QXSymCore_SetCache(s, dir_.c_str()), symResOk);
    }
    return s;
  }
  void Close(QXSymCoreHandle s) {
    EXPECT_EQ(QXSymCore_Close(s), symResOk);
    opened_.erase(std::find(opened_.begin(), opened_.end(), s));
  }

  std::uint64_t Exchanges(QXSymCoreHandle s) {
    std::uint64_t n = 0;
    EXPECT_EQ(QXSymCore_Exchanges(s, &n), symResOk);
    return n;
  }

  // Line's values as text, one entry per value; *exchanges what reading cost.
  std::vector<std::string> ReadLine(QXSymCoreHandle s, std::uint64_t* exchanges = nullptr) {
    const std::uint64_t before = Exchanges(s);
    const char* p = "Line";
    const QXSymCoreReadItem* items = nullptr;
    EXPECT_EQ(QXSymCore_Read(s, &p, 1, &items), symResOk);
    if (exchanges != nullptr) *exchanges = Exchanges(s) - before;
    std::vector<std::string> out;
    if (items == nullptr) return out;
    for (std::uint32_t k = 0; k < items[0].value_count; ++k) {
      const QXSymCoreValue& v = items[0].values[k];
      out.push_back(std::to_string(v.kind) + ":" + std::to_string(v.i) + ":" + std::to_string(v.u) +
                    ":" + std::to_string(v.f) + ":" + TextOf(v));
    }
    return out;
  }

  std::vector<fs::path> Files() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec)) files.push_back(e.path());
    return files;
  }

  // Fills the cache from one session and gives what it read.
  std::vector<std::string> Fill() {
    QXSymCoreHandle first = Open(true);
    std::vector<std::string> values = ReadLine(first);
    Close(first);
    EXPECT_EQ(Files().size(), 1u);
    return values;
  }

  SimLauncher sim_;
  std::string dir_;
  std::vector<QXSymCoreHandle> opened_;
};

TEST_F(CoreCacheTest, ASecondSessionReadsByTheCachedTypes) {
  const std::vector<std::string> plain = ReadLine(Open(false));
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(Fill(), plain);

  QXSymCoreHandle second = Open(true);
  std::uint64_t cost = 0;
  EXPECT_EQ(ReadLine(second, &cost), plain);
  EXPECT_LE(cost, 4u);
  RecordProperty("exchanges", static_cast<int>(cost));
  // Nothing new was learned: the file stays as it was.
  const auto written = fs::last_write_time(Files().at(0));
  Close(second);
  EXPECT_EQ(fs::last_write_time(Files().at(0)), written);
}

TEST_F(CoreCacheTest, AnotherProgramDiscardsTheFile) {
  Fill();
  const fs::path old_file = Files().at(0);
  const std::string model = dir_ + "_other.json";
  std::ofstream(model) << kOtherModel;
  const std::string port = std::to_string(sim_.port());
  sim_.Stop();
  // The same controller (host and port) with another program.
  Start({"--model", model, "--port", port});

  QXSymCoreHandle s = Open(true);
  const std::vector<std::string> values = ReadLine(s);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].substr(values[0].find(':') + 1, 2), "42");
  Close(s);
  // The other program's file took the place of the first one's.
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_NE(Files()[0], old_file);
  fs::remove(model);
}

TEST_F(CoreCacheTest, AReconnectToAnotherProgramFollowsItsFile) {
  Fill();
  const fs::path old_file = Files().at(0);
  QXSymCoreHandle s = Open(true);
  ASSERT_EQ(QXSymCore_SetReconnect(s, 20, 40), symResOk);
  ASSERT_FALSE(ReadLine(s).empty());
  const std::string model = dir_ + "_other.json";
  std::ofstream(model) << kOtherModel;
  const std::string port = std::to_string(sim_.port());
  sim_.Kill();
  Start({"--model", model, "--port", port});
  // Calls fail fast until the attempt to open again is due.
  std::vector<QXSymCoreValue> values;
  QXSymResult rc = symResConnectionLost;
  for (int k = 0; k < 400 && rc != symResOk; ++k) {
    const char* p = "Line";
    const QXSymCoreReadItem* items = nullptr;
    rc = QXSymCore_Read(s, &p, 1, &items);
    if (rc == symResOk) values.assign(items[0].values, items[0].values + items[0].value_count);
    if (rc != symResOk) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(rc, symResOk);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].i, 42);
  Close(s);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_NE(Files()[0], old_file);
  fs::remove(model);
}

TEST_F(CoreCacheTest, ADamagedFileIsPassedOverAndWrittenAgain) {
  const std::vector<std::string> good = Fill();
  const fs::path file = Files().at(0);
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string huge = bytes;
  // The type count right after magic, version and fingerprint.
  for (int k = 0; k < 4; ++k) huge[20 + k] = '\xFF';
  const std::vector<std::string> damaged = {bytes.substr(0, bytes.size() / 2),
                                            std::string(4096, '\x5A'), huge, ""};
  for (const std::string& d : damaged) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << d;
    QXSymCoreHandle s = Open(true);
    EXPECT_EQ(ReadLine(s), good);
    Close(s);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
  }
}

TEST_F(CoreCacheTest, TurningTheCacheOffOrOnAgainWritesWhatWasLearned) {
  QXSymCoreHandle s = Open(true);
  ReadLine(s);
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(QXSymCore_SetCache(s, nullptr), symResOk);
  EXPECT_EQ(Files().size(), 1u);
  EXPECT_EQ(QXSymCore_SetCache(0, dir_.c_str()), symResInvalidHandle);
}

}  // namespace
}  // namespace qxsym::test
