// qxsym watch run as a program against qxsym-sim, its lines read as they
// come: deadband and heartbeat, times, CSV quoting, JSON lines, arrays by
// their declared indices, stale values while the controller is stopped,
// and the stop signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "CliRunner.h"
#include "SimLauncher.h"

namespace {

using nlohmann::json;
using qxsym::test::Outcome;
using qxsym::test::QxsymChild;
using qxsym::test::RunQxsym;

constexpr int kLineWaitMs = 5000;

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Start({"--model", QXSYM_DEMO_MODEL}, &error)) << error;
  }
  // A test that fails while the simulator is stopped must not leave it so.
  void TearDown() override {
    if (sim_.running()) kill(sim_.pid(), SIGCONT);
  }

  std::vector<std::string> Args(std::vector<std::string> args, const char* timeout = "5000") {
    std::vector<std::string> all{"--host",    sim_.host(), "--port", std::to_string(sim_.port()),
                                 "--timeout", timeout};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  // The next line of a JSON watch, parsed (discarded when there is none).
  static json NextJson(QxsymChild& watch) {
    std::string line;
    if (!watch.NextLine(&line, kLineWaitMs)) return json::value_t::discarded;
    return json::parse(line, nullptr, false);
  }

  qxsym::test::SimLauncher sim_;
};

// Seconds since the epoch of an ISO 8601 UTC time as watch prints it.
std::time_t Seconds(const std::string& iso) {
  std::tm tm{};
  strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  return timegm(&tm);
}

TEST_F(WatchTest, DeadbandHidesSmallMovesAndTellsLargerOnes) {
  QxsymChild watch(
      Args({"--json", "watch", "--interval", "20", "--deadband", "10", "CntUint", "CntUdint"}));
  ASSERT_TRUE(watch.started());
  EXPECT_EQ(NextJson(watch)["value"], 54321);
  EXPECT_EQ(NextJson(watch)["path"], "CntUdint");
  // One exchange moves CntUint by less than the deadband and CntUdint by
  // more: the poll that tells CntUdint saw CntUint moved too.
  ASSERT_EQ(RunQxsym(Args({"write", "CntUint", "54325", "CntUdint", "7"})).status, 0);
  json next = NextJson(watch);
  EXPECT_EQ(next["path"], "CntUdint") << next;
  EXPECT_EQ(next["value"], 7);
  ASSERT_EQ(RunQxsym(Args({"write", "CntUint", "54400"})).status, 0);
  next = NextJson(watch);
  EXPECT_EQ(next["path"], "CntUint") << next;
  EXPECT_EQ(next["value"], 54400);
  // Compared with the value last told, not the one last read.
  EXPECT_EQ(next["previous"], 54321);
  EXPECT_EQ(watch.Finish(SIGINT).status, 0);
}

TEST_F(WatchTest, HeartbeatRetellsStillValuesWithIncreasingUtcTimes) {
  QxsymChild watch(
      Args({"--json", "watch", "--interval", "20", "--heartbeat", "60", "SerialNumber"}));
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  std::string last_time;
  for (int i = 0; i < 4; ++i) {
    const json line = NextJson(watch);
    ASSERT_TRUE(line.is_object()) << i;
    EXPECT_EQ(line["value"], "QX-2024-000815");
    EXPECT_EQ(line["status"], "good");
    if (i > 0) {
      EXPECT_EQ(line["previous"], "QX-2024-000815");
    }
    const std::string time = line["time"];
    ASSERT_TRUE(std::regex_match(time, iso)) << time;
    EXPECT_GT(time, last_time);
    last_time = time;
  }
  // UTC, not the local time: within a minute of the system clock.
  EXPECT_LT(std::abs(std::difftime(Seconds(last_time), std::time(nullptr))), 60.0) << last_time;
  EXPECT_EQ(watch.Finish(SIGTERM).status, 0);
}

TEST_F(WatchTest, CsvQuotesFieldsAsRfc4180) {
  ASSERT_EQ(RunQxsym(Args({"write", "Operator", "say \"hi\", ok"})).status, 0);
  Outcome o = RunQxsym(Args({"watch", "--csv", "--count", "1", "Operator", "Grid[1,2]"}));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string header = "time,path,value,previous,status\n";
  ASSERT_EQ(o.out.substr(0, header.size()), header);
  EXPECT_NE(o.out.find(",Operator,\"say \"\"hi\"\", ok\",,good\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(",\"Grid[1,2]\",7,,good\n"), std::string::npos) << o.out;
}

// Every line a whole JSON object, the array by its declared indices, and
// Ctrl-C ends with status 0 after a complete line.
TEST_F(WatchTest, JsonLinesExpandArraysAndEndWholeOnInterrupt) {
  QxsymChild watch(Args({"--json", "watch", "--interval", "20", "CntDint", "Temps"}));
  std::vector<std::string> paths;
  for (int i = 0; i < 9; ++i) paths.push_back(NextJson(watch).value("path", "?"));
  EXPECT_EQ(paths,
            (std::vector<std::string>{"CntDint", "Temps[1]", "Temps[2]", "Temps[3]", "Temps[4]",
                                      "Temps[5]", "Temps[6]", "Temps[7]", "Temps[8]"}));
  ASSERT_TRUE(NextJson(watch).is_object());
  Outcome o = watch.Finish(SIGINT);
  EXPECT_EQ(o.status, 0) << o.err;
  ASSERT_FALSE(o.out.empty());
  EXPECT_EQ(o.out.back(), '\n');
  std::size_t from = 0;
  for (std::size_t end; (end = o.out.find('\n', from)) != std::string::npos; from = end + 1) {
    const json line = json::parse(o.out.substr(from, end - from), nullptr, false);
    EXPECT_TRUE(line.is_object() && line.contains("time") && line.contains("previous"))
        << o.out.substr(from, end - from);
  }
}

// A stopped controller: the values go stale once, with the result, and
// good again when it runs on; the watch goes on all along.
TEST_F(WatchTest, StaleWhileTheControllerIsStoppedAndGoodAfter) {
  QxsymChild watch(Args({"--json", "watch", "--interval", "50", "CntUint"}, "200"));
  ASSERT_EQ(NextJson(watch)["status"], "good");
  ASSERT_EQ(kill(sim_.pid(), SIGSTOP), 0);
  const json stale = NextJson(watch);
  EXPECT_EQ(stale["status"], "stale") << stale;
  EXPECT_EQ(stale["value"], 54321);
  EXPECT_TRUE(stale.contains("result")) << stale;
  ASSERT_EQ(kill(sim_.pid(), SIGCONT), 0);
  const json back = NextJson(watch);
  EXPECT_EQ(back["status"], "good") << back;
  EXPECT_EQ(back["value"], 54321);
  EXPECT_FALSE(back.contains("result"));
  const Outcome o = watch.Finish(SIGINT);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("polls fell behind"), std::string::npos) << o.err;
}

// With --reconnect a controller killed and started again on its port costs
// stale values, not the watch: the values come back good on their own.
TEST_F(WatchTest, ReconnectCarriesTheWatchOverAControllerRestart) {
  QxsymChild watch(Args({"--json", "watch", "--interval", "50", "--reconnect", "CntUint"}, "300"));
  ASSERT_EQ(NextJson(watch)["status"], "good");
  const std::uint16_t port = sim_.port();
  sim_.Kill();
  const json stale = NextJson(watch);
  EXPECT_EQ(stale["status"], "stale") << stale;
  std::string error;
  bool started = false;
  // The port of a killed program may be refused for a moment.
  for (int k = 0; k < 100 && !started; ++k) {
    started = sim_.Start({"--model", QXSYM_DEMO_MODEL, "--port", std::to_string(port)}, &error);
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(started) << error;
  const json back = NextJson(watch);
  EXPECT_EQ(back["status"], "good") << back;
  EXPECT_EQ(back["value"], 54321);
  const Outcome o = watch.Finish(SIGINT);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("is back"), std::string::npos) << o.err;
}

}  // namespace
