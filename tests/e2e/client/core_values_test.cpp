// Values through the core's C interface: sets read together, partial
// writes that leave the other members alone, range checks, texts in the
// session's encoding, and short replies.
#include <cstring>

#include "CoreFixture.h"

namespace qxsym::test {
namespace {

class CoreValuesTest : public CoreTest {
 protected:
  // The tag's stored bytes, read through the plain API.
  std::vector<std::uint8_t> RawBytes(const char* path) {
    QXSymWorkspaceHandle ws = 0;
    QXSymTagHandle tag = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(QXSym_OpenWorkspace(0, &address_, &ws), symResOk);
    EXPECT_EQ(QXSym_GetGlobalTag(ws, path, &tag), symResOk);
    EXPECT_EQ(QXSym_GetTagDataFullSize(tag, &size), symResOk);
    std::vector<std::uint8_t> out(size);
    EXPECT_EQ(QXSym_GetTagRawValue_Ptr(tag, out.data(), size), symResOk);
    QXSym_CloseTag(tag);
    QXSym_CloseWorkspace(ws);
    return out;
  }
};

TEST_P(CoreValuesTest, GoodPathsAreDeliveredWhenOthersFail) {
  const char* paths[] = {"CntInt", "NoSuchTag", "Recipe.Id", "Temps[0]", "CntUlint"};
  const QXSymCoreReadItem* items = nullptr;
  EXPECT_EQ(QXSymCore_Read(session_, paths, 5, &items), symResSymbolNotFound);
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items[0].result, symResOk);
  ASSERT_EQ(items[0].value_count, 1u);
  EXPECT_EQ(items[0].values[0].kind, static_cast<std::uint32_t>(QXSymCoreSigned));
  EXPECT_EQ(items[0].values[0].i, -12345);
  EXPECT_EQ(items[1].result, symResSymbolNotFound);
  EXPECT_STRNE(items[1].message, "");
  EXPECT_EQ(items[1].value_count, 0u);
  EXPECT_EQ(items[2].values[0].i, 42);
  EXPECT_NE(items[3].result, symResOk);
  EXPECT_EQ(items[4].values[0].kind, static_cast<std::uint32_t>(QXSymCoreUnsigned));
  EXPECT_EQ(items[4].values[0].u, 18000000000000000000ull);
}

TEST_P(CoreValuesTest, PartialWritesLeaveTheOtherMembersAlone) {
  std::vector<QXSymCoreValue> before;
  ASSERT_EQ(Read("Line", &before), symResOk);
  const std::vector<std::uint8_t> raw_before = RawBytes("Line");
  QXSymCoreValue speed = FloatValue(2.0);
  QXSymCoreValue set_speed = FloatValue(1000.0);
  QXSymCoreWriteItem items[] = {{"Line.Speed", &speed, 1}, {"Line.Main.SetSpeed", &set_speed, 1}};
  const QXSymCoreWriteResult* results = nullptr;
  ASSERT_EQ(QXSymCore_Write(session_, items, 2, &results), symResOk);
  EXPECT_EQ(results[1].result, symResOk);

  const QXSymCoreLayout* layout = nullptr;
  ASSERT_EQ(QXSymCore_Describe(session_, "Line", &layout, nullptr), symResOk);
  std::vector<std::string> paths;
  for (std::uint32_t i = 0; i < layout->leaf_count; ++i) paths.push_back(layout->leaves[i].path);
  std::vector<QXSymCoreValue> after;
  ASSERT_EQ(Read("Line", &after), symResOk);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (paths[i] == "Line.Speed" || paths[i] == "Line.Main.SetSpeed") continue;
    if (after[i].kind == QXSymCoreText) continue;  // compared through the raw bytes below
    EXPECT_EQ(after[i].f, before[i].f) << paths[i];
    EXPECT_EQ(after[i].i, before[i].i) << paths[i];
    EXPECT_EQ(after[i].u, before[i].u) << paths[i];
    EXPECT_EQ(after[i].boolean, before[i].boolean) << paths[i];
  }
  EXPECT_EQ(after[2].f, 2.0);
  // Every byte but the two members' (padding included) is as it was.
  const std::vector<std::uint8_t> raw_after = RawBytes("Line");
  std::size_t changed = 0;
  for (std::size_t k = 0; k < raw_after.size(); ++k) changed += raw_after[k] != raw_before[k];
  EXPECT_LE(changed, 8u);
}

TEST_P(CoreValuesTest, AnArrayAndItsElementReadTogetherAgree) {
  const char* paths[] = {"Temps", "Temps[3]", "Grid[2,3]", "Grid"};
  const QXSymCoreReadItem* items = nullptr;
  ASSERT_EQ(QXSymCore_Read(session_, paths, 4, &items), symResOk);
  ASSERT_EQ(items[0].value_count, 8u);
  EXPECT_EQ(items[1].values[0].f, items[0].values[2].f);
  EXPECT_EQ(items[2].values[0].i, items[3].values[11].i);
  EXPECT_EQ(items[2].values[0].i, 12);
}

TEST_P(CoreValuesTest, OneElementWrittenAloneLeavesItsNeighbours) {
  std::vector<QXSymCoreValue> before, after;
  ASSERT_EQ(Read("Temps", &before), symResOk);
  ASSERT_EQ(Write(session_, "Temps[3]", {FloatValue(-40.0)}), symResOk);
  ASSERT_EQ(Read("Temps", &after), symResOk);
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(after[k].f, k == 2 ? -40.0 : before[k].f) << k;
  }
  EXPECT_EQ(Write(session_, "SerialNumber", {TextValue("X")}), symResReadOnlyTag);
}

TEST_P(CoreValuesTest, AWholeStructureTakesEveryValue) {
  std::vector<QXSymCoreValue> one = {FloatValue(1.0)};
  EXPECT_EQ(Write(session_, "Line", one), symResInvalidParameter);
  std::vector<QXSymCoreValue> v;
  // A whole array is written element by element, all of them.
  std::vector<QXSymCoreValue> temps;
  for (int k = 0; k < 8; ++k) temps.push_back(FloatValue(100.0 + k));
  ASSERT_EQ(Write(session_, "Temps", temps), symResOk);
  ASSERT_EQ(Read("Temps", &v), symResOk);
  EXPECT_EQ(v[7].f, 107.0);
  temps.pop_back();
  EXPECT_EQ(Write(session_, "Temps", temps), symResInvalidParameter);
}

TEST_P(CoreValuesTest, ARealBeyondItsRangeIsRefusedAndNothingIsWritten) {
  QXSymCoreValue big = FloatValue(1e39);
  QXSymCoreValue small = SignedValue(7);
  QXSymCoreWriteItem items[] = {{"CntInt", &small, 1}, {"Line.Speed", &big, 1}};
  const QXSymCoreWriteResult* results = nullptr;
  EXPECT_EQ(QXSymCore_Write(session_, items, 2, &results), symResInvalidParameter);
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(results[1].result, symResInvalidParameter);
  EXPECT_STRNE(results[1].message, "");
  EXPECT_NE(results[0].result, symResOk);
  std::vector<QXSymCoreValue> v;
  ASSERT_EQ(Read("CntInt", &v), symResOk);
  EXPECT_EQ(v[0].i, -12345);
  ASSERT_EQ(Read("Line.Speed", &v), symResOk);
  EXPECT_FLOAT_EQ(v[0].f, 1.25);
  EXPECT_EQ(Write(session_, "CntInt", {SignedValue(40000)}), symResInvalidParameter);
}

TEST_P(CoreValuesTest, TextsTravelInTheSessionsEncoding) {
  const std::string zoe = "Zo\xC3\xAB";  // "Zoë" in UTF-8
  ASSERT_EQ(Write(session_, "Operator", {TextValue(zoe)}), symResOk);
  std::vector<std::uint8_t> raw = RawBytes("Operator");
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), std::string("Zo\xEB\0", 4));
  std::vector<QXSymCoreValue> v;
  std::vector<std::string> texts;
  ASSERT_EQ(Read(session_, "Operator", &v, &texts), symResOk);
  EXPECT_EQ(texts[0], zoe);

  const QXSymCoreHandle utf8 = OpenSession(QXSymCoreUtf8);
  ASSERT_EQ(Write(utf8, "Operator", {TextValue(zoe)}), symResOk);
  raw = RawBytes("Operator");
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 5), std::string("Zo\xC3\xAB\0", 5));
  ASSERT_EQ(Read(utf8, "Operator", &v, &texts), symResOk);
  EXPECT_EQ(texts[0], zoe);
  // The same bytes seen through Latin-1: two characters, nothing lost.
  ASSERT_EQ(Read(session_, "Operator", &v, &texts), symResOk);
  EXPECT_EQ(texts[0], "Zo\xC3\x83\xC2\xAB");

  // The euro sign has no Latin-1 byte; 81 bytes do not fit 80.
  EXPECT_EQ(Write(session_, "Operator", {TextValue("\xE2\x82\xAC")}), symResInvalidParameter);
  EXPECT_EQ(Write(session_, "Operator", {TextValue(std::string(81, 'x'))}), symResInvalidParameter);
  EXPECT_EQ(Write(session_, "Operator", {TextValue(std::string(80, 'x'))}), symResOk);
}

TEST_P(CoreValuesTest, TypedTextBecomesAValue) {
  QXSymCoreValue v{};
  const char* message = nullptr;
  ASSERT_EQ(QXSymCore_ParseLeafText(QXSymTyVarUInt, "16#FF", &v, &message), symResOk);
  EXPECT_EQ(v.u + static_cast<std::uint64_t>(v.i), 255u);
  ASSERT_EQ(QXSymCore_ParseLeafText(QXSymTyVarBool, "TRUE", &v, &message), symResOk);
  EXPECT_EQ(v.boolean, 1u);
  EXPECT_NE(QXSymCore_ParseLeafText(QXSymTyVarInt, "twelve", &v, &message), symResOk);
  EXPECT_STRNE(message, "");
  const char* text = nullptr;
  QXSymCoreValue b{};
  b.kind = QXSymCoreBool;
  b.boolean = 1;
  ASSERT_EQ(QXSymCore_FormatValue(&b, &text), symResOk);
  EXPECT_STREQ(text, "TRUE");
  b.kind = 99;
  EXPECT_EQ(QXSymCore_FormatValue(&b, &text), symResInvalidParameter);
}

QXSYM_CORE_BOTH_SOURCES(CoreValuesTest);

// A controller whose value replies lack their last byte.
class CoreShortReplyTest : public CoreTest {
 protected:
  std::vector<std::string> SimArgs() const override { return {"--short-reply"}; }
};

TEST_P(CoreShortReplyTest, AShortValueReplyIsAnError) {
  std::vector<QXSymCoreValue> v;
  EXPECT_EQ(Read("CntDint", &v), symResInvalidTagSize);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(Read("Line", &v), symResInvalidTagSize);
  EXPECT_TRUE(v.empty());
  // Read together, through a group.
  const char* paths[] = {"CntDint", "CntInt"};
  const QXSymCoreReadItem* items = nullptr;
  EXPECT_EQ(QXSymCore_Read(session_, paths, 2, &items), symResInvalidTagSize);
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items[1].result, symResInvalidTagSize);
  EXPECT_EQ(items[1].value_count, 0u);
}

INSTANTIATE_TEST_SUITE_P(Simulator, CoreShortReplyTest, ::testing::Values(SourceKind::kSimulator));

}  // namespace
}  // namespace qxsym::test
