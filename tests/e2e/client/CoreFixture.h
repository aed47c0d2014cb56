// Sessions of the client core's C interface on both sources, and small
// helpers to read and write through it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ApiSource.h"
#include "QXSymCore.h"

namespace qxsym::test {

inline QXSymCoreValue FloatValue(double f) {
  QXSymCoreValue v{};
  v.kind = QXSymCoreFloat;
  v.f = f;
  return v;
}

inline QXSymCoreValue SignedValue(std::int64_t i) {
  QXSymCoreValue v{};
  v.kind = QXSymCoreSigned;
  v.i = i;
  return v;
}

inline QXSymCoreValue TextValue(const std::string& s) {
  QXSymCoreValue v{};
  v.kind = QXSymCoreText;
  v.data = reinterpret_cast<const std::uint8_t*>(s.data());
  v.length = static_cast<std::uint32_t>(s.size());
  return v;
}

inline std::string TextOf(const QXSymCoreValue& v) {
  return std::string(reinterpret_cast<const char*>(v.data), v.length);
}

class CoreTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  // Simulator arguments of this fixture (frozen values, so nothing moves
  // between two reads).
  virtual std::vector<std::string> SimArgs() const { return {"--scan", "0"}; }
  virtual std::string Model() const { return DemoModelPath(); }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(source_.Start(GetParam(), Model(), SimArgs(), &error)) << error;
    address_ = source_.address();
    session_ = OpenSession(QXSymCoreLatin1);
    ASSERT_NE(session_, 0u);
  }
  void TearDown() override {
    for (QXSymCoreHandle s : opened_) QXSymCore_Close(s);
  }
  bool remote() const { return GetParam() == SourceKind::kSimulator; }

  QXSymCoreHandle OpenSession(std::uint32_t encoding) {
    QXSymCoreHandle s = 0;
    EXPECT_EQ(QXSymCore_Open(&address_, 2000, encoding, 2, &s), symResOk);
    if (s != 0) opened_.push_back(s);
    return s;
  }

  // Reads one path; the values are copied out of the core's memory.
  QXSymResult Read(QXSymCoreHandle s, const std::string& path, std::vector<QXSymCoreValue>* values,
                   std::vector<std::string>* texts = nullptr) {
    const char* p = path.c_str();
    const QXSymCoreReadItem* items = nullptr;
    const QXSymResult rc = QXSymCore_Read(s, &p, 1, &items);
    if (items == nullptr) return rc;
    values->assign(items[0].values, items[0].values + items[0].value_count);
    if (texts != nullptr) {
      texts->clear();
      for (const QXSymCoreValue& v : *values) texts->push_back(TextOf(v));
    }
    return static_cast<QXSymResult>(items[0].result);
  }
  QXSymResult Read(const std::string& path, std::vector<QXSymCoreValue>* values) {
    return Read(session_, path, values);
  }

  QXSymResult Write(QXSymCoreHandle s, const std::string& path,
                    const std::vector<QXSymCoreValue>& values) {
    QXSymCoreWriteItem item{path.c_str(), values.data(), static_cast<std::uint32_t>(values.size())};
    return QXSymCore_Write(s, &item, 1, nullptr);
  }

  ApiSource source_;
  QXSymServerAddress address_{};
  QXSymCoreHandle session_ = 0;
  std::vector<QXSymCoreHandle> opened_;
};

#define QXSYM_CORE_BOTH_SOURCES(Fixture)                                                      \
  INSTANTIATE_TEST_SUITE_P(Sources, Fixture,                                                  \
                           ::testing::Values(::qxsym::test::SourceKind::kSimulator,           \
                                             ::qxsym::test::SourceKind::kHostTable),          \
                           [](const ::testing::TestParamInfo<::qxsym::test::SourceKind>& i) { \
                             return std::string(::qxsym::test::SourceName(i.param));          \
                           })

}  // namespace qxsym::test
