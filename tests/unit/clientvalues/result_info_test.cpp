// The result texts: every code of the public header named as the header
// spells it, with words for people that name no tool's options.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "ResultInfo.h"

namespace qxsym::client {
namespace {

// The enumerators of _QXSymResult as the public header declares them: an
// oracle apart from the table in ResultInfo.cpp.
std::map<int, std::string> HeaderResults() {
  std::ifstream in(QXSYM_PUBLIC_HEADER);
  std::stringstream text;
  text << in.rdbuf();
  std::map<int, std::string> out;
  const std::string all = text.str();
  const std::regex enumerator(R"((symRes\w+)\s*=\s*(\d+))");
  for (std::sregex_iterator it(all.begin(), all.end(), enumerator), end; it != end; ++it) {
    out[std::stoi((*it)[2])] = (*it)[1];
  }
  return out;
}

TEST(ResultInfo, NamesEveryCodeAsThePublicHeaderDoes) {
  const std::map<int, std::string> header = HeaderResults();
  ASSERT_EQ(header.size(), 50u);
  for (const auto& [code, name] : header) EXPECT_EQ(InfoOf(code).name, name) << code;
}

TEST(ResultInfo, EveryCodeHasItsOwnMessageAndAdviceWithoutToolOptions) {
  std::set<std::string> messages;
  for (int code = 0; code < 50; ++code) {
    const ResultInfo& info = InfoOf(code);
    ASSERT_NE(info.message, nullptr);
    ASSERT_NE(info.advice, nullptr);
    EXPECT_GT(std::string(info.message).size(), 5u) << info.name;
    EXPECT_GT(std::string(info.advice).size(), 5u) << info.name;
    EXPECT_TRUE(messages.insert(info.message).second) << info.name << " repeats a message";
    for (const char* text : {info.message, info.advice}) {
      EXPECT_EQ(std::string(text).find("--"), std::string::npos) << info.name << ": " << text;
      EXPECT_EQ(std::string(text).find("qxsym"), std::string::npos) << info.name << ": " << text;
    }
  }
}

TEST(ResultInfo, AControllerThatNeverAnswersSaysSo) {
  // Silent: the open failed on sockets after a whole time-out (0: 10 s).
  const std::string silent = "the controller does not answer";
  EXPECT_EQ(OpenFailureMessage(symResSocketError, 500, 500), silent);
  EXPECT_EQ(OpenFailureMessage(symResSocketError, 10000, 0), silent);
  // Refused or closed at once, or another failure: the code's own message.
  EXPECT_STREQ(OpenFailureMessage(symResSocketError, 499, 500), InfoOf(symResSocketError).message);
  EXPECT_STREQ(OpenFailureMessage(symResSocketError, 9999, 0), InfoOf(symResSocketError).message);
  EXPECT_STREQ(OpenFailureMessage(symResInvalidAddress, 20000, 500),
               InfoOf(symResInvalidAddress).message);
  EXPECT_EQ(std::string(InfoOf(symResSocketError).message).find("does not answer"),
            std::string::npos);
  EXPECT_NE(std::string(InfoOf(symResTimeoutError).message).find("did not answer"),
            std::string::npos);
  EXPECT_NE(std::string(InfoOf(symResTimeoutError).advice).find("raise the time-out"),
            std::string::npos);
}

TEST(ResultInfo, UnknownCodesGetTheGenericEntry) {
  for (int code : {-1, 50, 51, 1000, -2147483647 - 1}) {
    EXPECT_STREQ(InfoOf(code).name, "symRes?") << code;
    EXPECT_NE(InfoOf(code).message, nullptr);
  }
}

}  // namespace
}  // namespace qxsym::client
