// QXSym_GetSymbolTableProgress against qxsym-sim: the callback sees the
// table's bytes rise as reply fragments arrive and ends at the table's size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "QXSymbolsExt.h"
#include "SimLauncher.h"

namespace {

using Calls = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

void QXSYM_CALL Record(std::uint32_t received, std::uint32_t total, void* context) {
  static_cast<Calls*>(context)->emplace_back(received, total);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SymbolTableProgressTest : public ::testing::Test {
 protected:
  void Open(const std::vector<std::string>& sim_args) {
    std::string error;
    ASSERT_TRUE(sim_.Start(sim_args, &error)) << error;
    ASSERT_EQ(QXSym_Init(), symResOk);
    QXSymServerAddress address{};
    address.protocol = symProtGDB_TCP;
    std::strcpy(address.ip, sim_.host().c_str());
    address.port = sim_.port();
    address.timeout = 5000;
    ASSERT_EQ(QXSym_OpenWorkspace(0, &address, &ws_), symResOk);
  }
  void TearDown() override {
    if (ws_ != 0) QXSym_CloseWorkspace(ws_);
    QXSym_Shutdown();
    std::remove(file_.c_str());
  }

  qxsym::test::SimLauncher sim_;
  QXSymWorkspaceHandle ws_ = 0;
  std::string file_ = ::testing::TempDir() + "qxsym_progress_table.bin";
};

TEST_F(SymbolTableProgressTest, CountRisesWithEachFragmentAndEndsAtTheTotal) {
  Open({"--model", QXSYM_DEMO_MODEL, "--reply-fragment-size", "1024"});
  const std::string model = ReadFile(QXSYM_DEMO_MODEL);
  Calls calls;
  ASSERT_EQ(QXSym_GetSymbolTableProgress(ws_, file_.c_str(), 1, Record, &calls), symResOk);
  EXPECT_EQ(ReadFile(file_), model);
  // 1024-byte fragments carry 995 bytes of the reply each.
  ASSERT_GE(calls.size(), model.size() / 1024);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].second, model.size());
    if (i > 0) {
      EXPECT_GT(calls[i].first, calls[i - 1].first) << i;
    }
    if (i + 1 < calls.size()) {
      EXPECT_LT(calls[i].first, model.size()) << i;
    }
  }
  EXPECT_EQ(calls.back().first, model.size());

  // No report when the file is refused before anything is asked.
  calls.clear();
  EXPECT_EQ(QXSym_GetSymbolTableProgress(ws_, file_.c_str(), 0, Record, &calls),
            symResFileAlreadyExists);
  EXPECT_TRUE(calls.empty());
  // Without a callback it is the plain download.
  EXPECT_EQ(QXSym_GetSymbolTableProgress(ws_, file_.c_str(), 1, nullptr, nullptr), symResOk);
  EXPECT_EQ(ReadFile(file_), model);
}

TEST_F(SymbolTableProgressTest, ReplyInOneFrameGivesOneReport) {
  Open({"--model", QXSYM_DEMO_MODEL, "--reply-fragment-size", "65532"});
  const auto size = static_cast<std::uint32_t>(ReadFile(QXSYM_DEMO_MODEL).size());
  Calls calls;
  ASSERT_EQ(QXSym_GetSymbolTableProgress(ws_, file_.c_str(), 1, Record, &calls), symResOk);
  EXPECT_EQ(calls, Calls({{size, size}}));
}

}  // namespace
