// Sessions and handles of the core's C interface, listing through it, and
// the bounds of the type walk.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "CoreFixture.h"

namespace qxsym::test {
namespace {

class CoreSessionTest : public CoreTest {};

TEST_P(CoreSessionTest, StaleAndForeignHandlesAreRefused) {
  const QXSymCoreLayout* layout = nullptr;
  std::uint64_t n = 0;
  EXPECT_EQ(QXSymCore_Exchanges(0, &n), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_Exchanges(session_ ^ 0x5A5A5A5Au, &n), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_Exchanges(session_, nullptr), symResInvalidParameter);

  QXSymCoreHandle listing = 0;
  ASSERT_EQ(QXSymCore_ListBegin(session_, "Cnt*", 0, 0, &listing), symResOk);
  // A listing is no session and a session no listing.
  EXPECT_EQ(QXSymCore_Describe(listing, "Line", &layout, nullptr), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_ListEnd(session_), symResInvalidHandle);
  const QXSymCoreTagInfo* tags = nullptr;
  std::uint32_t count = 0, done = 0;
  EXPECT_EQ(QXSymCore_ListNext(session_, &tags, &count, &done), symResInvalidHandle);

  const QXSymCoreHandle other = OpenSession(QXSymCoreLatin1);
  ASSERT_EQ(QXSymCore_Close(other), symResOk);
  EXPECT_EQ(QXSymCore_Close(other), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_Describe(other, "Line", &layout, nullptr), symResInvalidHandle);
  const char* path = "CntInt";
  const QXSymCoreReadItem* items = nullptr;
  EXPECT_EQ(QXSymCore_Read(other, &path, 1, &items), symResInvalidHandle);
  EXPECT_EQ(Write(other, "CntInt", {SignedValue(1)}), symResInvalidHandle);

  // Closing the session ends its listings.
  ASSERT_EQ(QXSymCore_Close(session_), symResOk);
  EXPECT_EQ(QXSymCore_ListNext(listing, &tags, &count, &done), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_ListEnd(listing), symResInvalidHandle);
  EXPECT_EQ(QXSymCore_Exchanges(session_, &n), symResInvalidHandle);
}

TEST_P(CoreSessionTest, BadArgumentsAreRefusedBeforeAnything) {
  QXSymCoreHandle s = 0;
  EXPECT_EQ(QXSymCore_Open(nullptr, 0, 0, 1, &s), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Open(&address_, 0, 3, 1, &s), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Open(&address_, 0, 0, 9, &s), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Open(&address_, 70000, 0, 1, &s), symResInvalidParameter);
  EXPECT_EQ(s, 0u);
  const QXSymCoreReadItem* items = nullptr;
  const char* paths[] = {"CntInt", nullptr};
  EXPECT_EQ(QXSymCore_Read(session_, paths, 2, &items), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Read(session_, paths, 0, &items), symResInvalidParameter);
  QXSymCoreValue bad{};
  bad.kind = QXSymCoreText;
  bad.length = 5;  // and no data
  EXPECT_EQ(Write(session_, "Operator", {bad}), symResInvalidParameter);
  QXSymCoreHandle listing = 0;
  EXPECT_EQ(QXSymCore_ListBegin(session_, nullptr, 4, 0, &listing), symResInvalidParameter);
}

TEST_P(CoreSessionTest, ListsWithDetails) {
  QXSymCoreHandle listing = 0;
  ASSERT_EQ(QXSymCore_ListBegin(session_, "Cnt*", QXSYMCORE_LIST_DETAILS, 0, &listing), symResOk);
  std::set<std::string> names;
  std::uint32_t done = 0;
  for (int rounds = 0; !done && rounds < 100; ++rounds) {
    const QXSymCoreTagInfo* tags = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(QXSymCore_ListNext(listing, &tags, &count, &done), symResOk);
    for (std::uint32_t i = 0; i < count; ++i) {
      EXPECT_TRUE(names.insert(tags[i].name).second) << tags[i].name;
      if (std::string(tags[i].name) == "CntDint") {
        EXPECT_EQ(tags[i].tyvar, static_cast<std::uint32_t>(QXSymTyVarDInt));
        EXPECT_EQ(tags[i].size, 4u);
        EXPECT_STREQ(tags[i].type_name, "DINT");
      }
    }
  }
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(names.size(), 8u);
  EXPECT_EQ(QXSymCore_ListEnd(listing), symResOk);
  std::uint64_t exchanges = 0;
  ASSERT_EQ(QXSymCore_Exchanges(session_, &exchanges), symResOk);
  EXPECT_GT(exchanges, 2u);
}

TEST_P(CoreSessionTest, ClosingLeavesNothingOpenAtTheSource) {
  if (remote()) GTEST_SKIP() << "the host table shows what its service holds";
  const char* paths[] = {"Line", "Temps", "CntInt", "RecipeBook[2]"};
  const QXSymCoreReadItem* items = nullptr;
  ASSERT_EQ(QXSymCore_Read(session_, paths, 4, &items), symResOk);
  ASSERT_EQ(Write(session_, "Line.Speed", {FloatValue(1.5)}), symResOk);
  QXSymCoreHandle listing = 0;
  ASSERT_EQ(QXSymCore_ListBegin(session_, "*", 0, 0, &listing), symResOk);
  const QXSymCoreTagInfo* tags = nullptr;
  std::uint32_t count = 0, done = 0;
  ASSERT_EQ(QXSymCore_ListNext(listing, &tags, &count, &done), symResOk);
  EXPECT_GT(source_.host_table()->service().object_count(), 0u);
  ASSERT_EQ(QXSymCore_Close(session_), symResOk);
  EXPECT_EQ(source_.host_table()->service().workspace_count(), 0u);
  EXPECT_EQ(source_.host_table()->service().object_count(), 0u);
}

TEST_P(CoreSessionTest, TagTextsComeInUtf8) {
  const char* text = nullptr;
  ASSERT_EQ(QXSymCore_Description(session_, "Temps", &text), symResOk);
  EXPECT_STREQ(text, "Oven zone temperatures");
  ASSERT_EQ(QXSymCore_Attribute(session_, "Line.Speed", "unit", &text), symResOk);
  EXPECT_STREQ(text, "m/s");
  EXPECT_EQ(QXSymCore_Attribute(session_, "Line", "colour", &text), symResAttributeNotFound);
  EXPECT_EQ(QXSymCore_Attribute(session_, "Line", "\xE2\x82\xAC", &text), symResInvalidParameter);
  EXPECT_EQ(QXSymCore_Description(session_, "NoSuchTag", &text), symResSymbolNotFound);
}

TEST_P(CoreSessionTest, ResultTextsCoverEveryCode) {
  EXPECT_STREQ(QXSymCore_ResultName(symResTimeoutError), "symResTimeoutError");
  EXPECT_STREQ(QXSymCore_ResultName(9999), "symRes?");
  EXPECT_STRNE(QXSymCore_ResultMessage(symResTimeoutError), "");
  EXPECT_NE(QXSymCore_ResultAdvice(-1), nullptr);
}

QXSYM_CORE_BOTH_SOURCES(CoreSessionTest);

// Structures nested 40 levels deep: T0 holds a T1 ... T39 holds a DINT.
class CoreDeepTypeTest : public CoreTest {
 protected:
  std::string Model() const override {
    static const std::string path = [] {
      std::string p = ::testing::TempDir() + "core_deep_" + std::to_string(getpid()) + ".json";
      std::ofstream out(p);
      out << "{\"name\":\"deep\",\"types\":[";
      for (int i = 0; i < 40; ++i) {
        out << (i ? "," : "") << "{\"name\":\"T" << i << "\",\"kind\":\"STRUCT\",\"members\":[";
        out << "{\"name\":\"Next\",\"type\":\""
            << (i == 39 ? std::string("DINT") : "T" + std::to_string(i + 1)) << "\"}]}";
      }
      out << "],\"tags\":[{\"name\":\"Deep\",\"type\":\"T0\"}]}";
      return p;
    }();
    return path;
  }
};

TEST_P(CoreDeepTypeTest, NestingIsBoundedFromWhereTheWalkStarts) {
  const QXSymCoreLayout* layout = nullptr;
  const char* message = nullptr;
  EXPECT_EQ(QXSymCore_Describe(session_, "Deep", &layout, &message), symResMaxReached);
  EXPECT_NE(std::string(message).find("deep"), std::string::npos) << message;
  std::string path = "Deep";
  for (int i = 0; i < 10; ++i) path += ".Next";
  ASSERT_EQ(QXSymCore_Describe(session_, path.c_str(), &layout, &message), symResOk) << message;
  EXPECT_EQ(layout->leaf_count, 1u);
}

QXSYM_CORE_BOTH_SOURCES(CoreDeepTypeTest);

// Tag names beyond ASCII, stored as the model file spells them (UTF-8).
class CoreNamesTest : public CoreTest {
 protected:
  std::string Model() const override {
    static const std::string path = [] {
      std::string p = ::testing::TempDir() + "core_names_" + std::to_string(getpid()) + ".json";
      std::ofstream out(p);
      out << "{\"name\":\"names\",\"tags\":[{\"name\":\"Z\xC3\xA4hler\",\"type\":\"DINT\","
             "\"value\":5}]}";
      return p;
    }();
    return path;
  }
};

TEST_P(CoreNamesTest, PathsAreSpeltInTheSessionsEncoding) {
  std::vector<QXSymCoreValue> v;
  // Through UTF-8 the stored bytes read as the name they are.
  const QXSymCoreHandle utf8 = OpenSession(QXSymCoreUtf8);
  ASSERT_EQ(Read(utf8, "Z\xC3\xA4hler", &v), symResOk);
  EXPECT_EQ(v[0].i, 5);
  // Through Latin-1 the same bytes are two characters, and the name as
  // listed finds the tag; the one-character name does not exist there.
  ASSERT_EQ(Read(session_, "Z\xC3\x83\xC2\xA4hler", &v), symResOk);
  EXPECT_EQ(v[0].i, 5);
  EXPECT_EQ(Read(session_, "Z\xC3\xA4hler", &v), symResSymbolNotFound);
  EXPECT_EQ(Read(session_, "\xE2\x82\xAC", &v), symResSymbolNotFound);
}

QXSYM_CORE_BOTH_SOURCES(CoreNamesTest);

// A host table whose types claim 4,294,967,295 members.
QXSymResult ClaimsEveryMember(uint32_t, uint32_t, uint32_t* count) {
  *count = 0xFFFFFFFFu;
  return symResOk;
}

TEST(CoreWalkBounds, AClaimOfFourBillionMembersIsRefusedAtOnce) {
  ApiSource source;
  ASSERT_TRUE(source.Start(SourceKind::kHostTable));
  QXSymDirectAccessTable table = *source.host_table()->table();
  table.TypeGetNumChildren = &ClaimsEveryMember;
  QXSymServerAddress address{};
  address.protocol = symProtDirectAccess;
  const QXSymDirectAccessTable* p = &table;
  std::memcpy(address.ip, &p, sizeof p);
  QXSymCoreHandle s = 0;
  ASSERT_EQ(QXSymCore_Open(&address, 0, QXSymCoreLatin1, 1, &s), symResOk);
  const QXSymCoreLayout* layout = nullptr;
  const char* message = nullptr;
  EXPECT_EQ(QXSymCore_Describe(s, "Line", &layout, &message), symResMaxReached);
  EXPECT_NE(std::string(message).find("4294967295"), std::string::npos) << message;
  std::uint64_t exchanges = 0;
  ASSERT_EQ(QXSymCore_Exchanges(s, &exchanges), symResOk);
  EXPECT_LT(exchanges, 12u);
  EXPECT_EQ(QXSymCore_Close(s), symResOk);
}

}  // namespace
}  // namespace qxsym::test
