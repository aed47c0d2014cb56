// The bridge's log: the shape of a line, the level filter, and texts from the
// network that must not forge lines or reach the terminal raw.
#include <Log.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace qxsym::bridge {
namespace {

// Standard error as written by @p write; the level is put back to info after.
template <typename F>
std::string Captured(F write) {
  testing::internal::CaptureStderr();
  write();
  SetLogLevel(LogLevel::kInfo);
  return testing::internal::GetCapturedStderr();
}

// The message of a single captured line: what follows "<source>: ".
std::string MessageOf(const std::string& line, const std::string& source) {
  const auto at = line.find(" " + source + ": ");
  if (at == std::string::npos || line.empty() || line.back() != '\n') return "BAD LINE: " + line;
  return line.substr(at + source.size() + 3, line.size() - at - source.size() - 4);
}

TEST(LogTest, ALineHasTimeLevelSourceAndMessage) {
  const std::string out = Captured([] { Log(LogLevel::kWarn, "Oven1", "connection lost"); });
  const std::regex shape(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z warn Oven1: connection lost\n)");
  EXPECT_TRUE(std::regex_match(out, shape)) << out;
}

TEST(LogTest, LevelsFilterAndParse) {
  const std::string out = Captured([] {
    SetLogLevel(LogLevel::kWarn);
    Log(LogLevel::kError, "bridge", "e");
    Log(LogLevel::kWarn, "bridge", "w");
    Log(LogLevel::kInfo, "bridge", "i");
    Log(LogLevel::kDebug, "bridge", "d");
  });
  EXPECT_NE(out.find(" error bridge: e\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" warn bridge: w\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("bridge: i"), std::string::npos) << out;
  EXPECT_EQ(out.find("bridge: d"), std::string::npos) << out;
  EXPECT_NE(Captured([] {
              SetLogLevel(LogLevel::kDebug);
              Log(LogLevel::kDebug, "broker", "d");
            }).find(" debug broker: d\n"),
            std::string::npos);

  LogLevel level = LogLevel::kInfo;
  EXPECT_TRUE(ParseLogLevel("debug", &level));
  EXPECT_EQ(level, LogLevel::kDebug);
  EXPECT_TRUE(ParseLogLevel("error", &level));
  EXPECT_EQ(level, LogLevel::kError);
  for (const char* bad : {"", "Debug", "warning", "info ", "3"}) {
    EXPECT_FALSE(ParseLogLevel(bad, &level)) << bad;
  }
  EXPECT_EQ(level, LogLevel::kError);  // untouched by a refusal
}

TEST(LogTest, ControlCharactersCannotForgeLines) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\nZ error bridge: forged", "a\\nZ error bridge: forged"},
      {"cr\rtab\t", "cr\\rtab\\t"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x1b[2Jclear", "\\x1B[2Jclear"},
      {"del\x7f", "del\\x7F"},
      {"C1 \xc2\x9b"
       "31m",
       "C1 \\u009B31m"},                             // CSI as a code point
      {"line\xe2\x80\xa8sep", "line\\u2028sep"},     // Unicode line separator
      {"raw \x9b byte", "raw \\x9B byte"},           // not UTF-8
      {"cut \xe2\x82", "cut \\xE2\\x82"},            // a sequence cut short
      {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},  // '/' in two bytes
      {"surrogate \xed\xa0\x80", "surrogate \\xED\\xA0\\x80"},
      {"Temp \xc2\xb0"
       "C, \xe2\x82\xac, \xf0\x9f\x94\xa5",
       "Temp \xc2\xb0"
       "C, \xe2\x82\xac, \xf0\x9f\x94\xa5"},
      {"back\\slash \"quoted\"", "back\\slash \"quoted\""},
  };
  for (const auto& c : cases) {
    const std::string& message = c.first;  // C++17 lambdas cannot capture a binding
    const std::string out = Captured([&] { Log(LogLevel::kWarn, "Oven1", message); });
    EXPECT_EQ(MessageOf(out, "Oven1"), c.second) << out;
  }
  // The source is escaped too: a device name comes from a file or the network.
  const std::string out = Captured([] { Log(LogLevel::kWarn, "Ov\nen", "m"); });
  EXPECT_NE(out.find(" warn Ov\\nen: m\n"), std::string::npos) << out;
}

TEST(LogTest, LongMessagesAreCutAndLinesStayWhole) {
  const std::string out = Captured([] { Log(LogLevel::kInfo, "bridge", std::string(20000, 'x')); });
  EXPECT_LT(out.size(), 9000u);
  EXPECT_NE(out.find(" (11808 more bytes)\n"), std::string::npos) << out.substr(out.size() - 40);

  // Lines written at once from several threads do not interleave.
  const std::string many = Captured([] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < 200; ++i)
          Log(LogLevel::kInfo, "T" + std::to_string(t), std::string(300, 'a' + t));
      });
    }
    for (auto& th : threads) th.join();
  });
  std::size_t count = 0, start = 0;
  for (std::size_t nl; (nl = many.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string one = many.substr(start, nl - start);
    const auto at = one.find(" info T");
    ASSERT_NE(at, std::string::npos) << one.substr(0, 80);
    const int t = one[at + 7] - '0';
    ASSERT_TRUE(t >= 0 && t < 4) << one.substr(0, 80);
    EXPECT_EQ(one.substr(at + 8), ": " + std::string(300, static_cast<char>('a' + t)));
    ++count;
  }
  EXPECT_EQ(count, 800u);
  EXPECT_EQ(start, many.size());
}

}  // namespace
}  // namespace qxsym::bridge
