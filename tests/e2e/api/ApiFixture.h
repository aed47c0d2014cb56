// A fixture that starts the library and a source, and opens a workspace on
// it; the same test body runs against both sources.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ApiSource.h"
#include "QXSymbols.h"

namespace qxsym::test {

class ApiTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  void SetUp() override {
    ASSERT_EQ(QXSym_Init(), symResOk);
    std::string error;
    ASSERT_TRUE(source_.Start(GetParam(), DemoModelPath(), {}, &error)) << error;
    address_ = source_.address();
    ASSERT_EQ(QXSym_OpenWorkspace(0, &address_, &ws_), symResOk);
    ASSERT_NE(ws_, 0);
  }
  // A test that closes ws_ itself, or leaves it unusable on purpose, sets it
  // to 0; everything else must close and stop cleanly.
  void TearDown() override {
    if (ws_ != 0) {
      EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResOk);
    }
    EXPECT_EQ(QXSym_Shutdown(), symResOk);
  }
  bool remote() const { return GetParam() == SourceKind::kSimulator; }

  QXSymTagHandle Tag(const char* name) {
    QXSymTagHandle t = 0;
    EXPECT_EQ(QXSym_GetGlobalTag(ws_, name, &t), symResOk) << name;
    return t;
  }
  std::string TagName(QXSymTagHandle t) {
    char buf[QXSYM_MAX_STRING];
    uint16_t len = sizeof buf;
    if (QXSym_GetTagName(t, buf, &len) != symResOk) return "?";
    return buf;
  }

  ApiSource source_;
  QXSymServerAddress address_{};
  QXSymWorkspaceHandle ws_ = 0;
};

#define QXSYM_INSTANTIATE_BOTH_SOURCES(Fixture)                                               \
  INSTANTIATE_TEST_SUITE_P(Sources, Fixture,                                                  \
                           ::testing::Values(::qxsym::test::SourceKind::kSimulator,           \
                                             ::qxsym::test::SourceKind::kHostTable),          \
                           [](const ::testing::TestParamInfo<::qxsym::test::SourceKind>& i) { \
                             return std::string(::qxsym::test::SourceName(i.param));          \
                           })

}  // namespace qxsym::test
