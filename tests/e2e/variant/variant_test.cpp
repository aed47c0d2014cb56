// The VARIANT functions against the simulator (a tag model of their own) and
// against a scripted host table. The same source runs on Linux, on the
// library's own OLE Automation layer, and under Wine, on Wine's. There the
// simulator runs outside Wine and is named by QXSYM_SIM_HOST/QXSYM_SIM_PORT.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakeHostTable.h"
#if !defined(_WIN32)
#include "QXSymOle.h"  // the library's own OLE Automation, before the functions that take it
#endif
#include "QXSymVariant.h"
#include "QXSymbols.h"
#if !defined(_WIN32)
#include "SimLauncher.h"
#endif

namespace {

// UTF-16 literals as BSTRs on both systems (wchar_t differs, char16_t not).
BSTR Bstr(const char16_t* text) { return SysAllocString(reinterpret_cast<const OLECHAR*>(text)); }
std::u16string Text(BSTR s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

class VariantSimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#if defined(_WIN32)
    const char* host = std::getenv("QXSYM_SIM_HOST");
    const char* port = std::getenv("QXSYM_SIM_PORT");
    if (host != nullptr && port != nullptr) {
      host_ = host;
      port_ = static_cast<std::uint16_t>(std::atoi(port));
    }
#else
    sim_ = new qxsym::test::SimLauncher();
    std::string error;
    if (sim_->Start({"--model", QXSYM_VARIANT_MODEL, "--scan", "0"}, &error)) {
      host_ = sim_->host();
      port_ = sim_->port();
    }
#endif
  }
  static void TearDownTestSuite() {
#if !defined(_WIN32)
    delete sim_;
    sim_ = nullptr;
#endif
  }

  void SetUp() override {
    ASSERT_NE(port_, 0) << "no simulator";
    ASSERT_EQ(QXSym_Init(), symResOk);
    QXSymServerAddress a{};
    a.protocol = symProtGDB_TCP;
    std::snprintf(a.ip, sizeof a.ip, "%s", host_.c_str());
    a.port = port_;
    a.timeout = 3000;
    ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws_), symResOk);
  }
  void TearDown() override {
    for (QXSymTagHandle t : tags_) QXSym_CloseTag(t);
    if (ws_ != 0) QXSym_CloseWorkspace(ws_);
    QXSym_Shutdown();
  }

  QXSymTagHandle Tag(const char* name) {
    QXSymTagHandle t = 0;
    EXPECT_EQ(QXSym_GetGlobalTag(ws_, name, &t), symResOk) << name;
    tags_.push_back(t);
    return t;
  }
  std::vector<std::uint8_t> Raw(QXSymTagHandle t, std::uint32_t size) {
    std::vector<std::uint8_t> out(size);
    EXPECT_EQ(QXSym_GetTagRawValue_Ptr(t, out.data(), size), symResOk);
    return out;
  }
  void SetRaw(QXSymTagHandle t, std::vector<std::uint8_t> bytes) {
    EXPECT_EQ(QXSym_SetTagRawValue_Ptr(t, bytes.data(), static_cast<uint32_t>(bytes.size())),
              symResOk);
  }

#if !defined(_WIN32)
  static qxsym::test::SimLauncher* sim_;
#endif
  static std::string host_;
  static std::uint16_t port_;
  QXSymWorkspaceHandle ws_ = 0;
  std::vector<QXSymTagHandle> tags_;
};

#if !defined(_WIN32)
qxsym::test::SimLauncher* VariantSimTest::sim_ = nullptr;
#endif
std::string VariantSimTest::host_;
std::uint16_t VariantSimTest::port_ = 0;

TEST_F(VariantSimTest, NumbersArriveInTheirTypeWithTheRestOfTheFieldZero) {
  VARIANT v = Make(VT_EMPTY);
  v.ullVal = 0xFFFFFFFFFFFFFFFFull;
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(Tag("D"), &v), symResOk);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.ullVal, 0x12345678u);

  ASSERT_EQ(QXSym_GetTagValue_VARIANT(Tag("LW"), &v), symResOk);
  EXPECT_EQ(v.vt, VT_UI8);
  EXPECT_EQ(v.ullVal, 0x0123456789ABCDEFull);

  // An array tag read through the value form gives its element 0, 0, 0; the
  // element form reaches the others.
  const QXSymTagHandle arr = Tag("Arr");
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(arr, &v), symResOk);
  EXPECT_EQ(v.lVal, 11);
  ASSERT_EQ(QXSym_GetTagArrayValue_VARIANT(arr, 2, 0, 0, &v), symResOk);
  EXPECT_EQ(v.lVal, 33);
}

TEST_F(VariantSimTest, BoolReadsCanonicalAndWritesOneByte) {
  const QXSymTagHandle flag = Tag("Flag");
  SetRaw(flag, {0});
  VARIANT v = Make(VT_BOOL);
  v.boolVal = -1;
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(flag, v), symResOk);
  EXPECT_EQ(Raw(flag, 1), std::vector<std::uint8_t>{1});

  VARIANT got = Make(VT_EMPTY);
  got.ullVal = 0xFFFFFFFFFFFFFFFFull;
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(flag, &got), symResOk);
  EXPECT_EQ(got.vt, VT_BOOL);
  EXPECT_EQ(got.boolVal, VARIANT_TRUE);
  EXPECT_EQ(got.ullVal, 0xFFFFu);  // VARIANT_TRUE and nothing else

  // A VT_I4 5 becomes VT_BOOL first, then the byte 1.
  SetRaw(flag, {0});
  VARIANT five = Make(VT_I4);
  five.lVal = 5;
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(flag, five), symResOk);
  EXPECT_EQ(Raw(flag, 1), std::vector<std::uint8_t>{1});
}

TEST_F(VariantSimTest, TextIsConvertedAndCutToTheTagsSize) {
  const QXSymTagHandle txt = Tag("Txt");
  uint32_t size = 0;
  ASSERT_EQ(QXSym_GetTagDataSize(txt, &size), symResOk);
  ASSERT_EQ(size, 81u);

  VARIANT v = Make(VT_EMPTY);
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(txt, &v), symResOk);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(Text(v.bstrVal), u"abc");

  // 100 characters: 80 arrive, then the terminating zero. Reading over a
  // VARIANT that holds a string releases it first.
  std::u16string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char16_t>(u'A' + i % 26);
  VARIANT w = Make(VT_BSTR);
  w.bstrVal = Bstr(hundred.c_str());
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(txt, w), symResOk);
  const std::vector<std::uint8_t> raw = Raw(txt, 81);
  for (int i = 0; i < 80; ++i) ASSERT_EQ(raw[i], 'A' + i % 26) << i;
  EXPECT_EQ(raw[80], 0);
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(txt, &v), symResOk);
  EXPECT_EQ(Text(v.bstrVal), hundred.substr(0, 80));
  VariantClear(&v);
  VariantClear(&w);

  // A failing read still hands out a string: the empty one.
  VARIANT e = Make(VT_EMPTY);
  const QXSymResult r = QXSym_GetTagArrayValue_VARIANT(Tag("Names"), 9, 0, 0, &e);
  EXPECT_NE(r, symResOk);
  ASSERT_EQ(e.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(e.bstrVal), 0u);
  VariantClear(&e);
}

TEST_F(VariantSimTest, OtherTypesAreConvertedOrRefusedWithoutWriting) {
  const QXSymTagHandle i = Tag("I");
  SetRaw(i, {7, 0});
  VARIANT digits = Make(VT_BSTR);
  digits.bstrVal = Bstr(u"123");
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(i, digits), symResOk);
  EXPECT_EQ(Raw(i, 2), (std::vector<std::uint8_t>{123, 0}));
  EXPECT_EQ(digits.vt, VT_BSTR);
  EXPECT_EQ(Text(digits.bstrVal), u"123");  // still the caller's, intact

  VARIANT letter = Make(VT_BSTR);
  letter.bstrVal = Bstr(u"x");
  EXPECT_EQ(QXSym_SetTagValue_VARIANT(i, letter), symResInvalidVARIANT);
  EXPECT_EQ(Text(letter.bstrVal), u"x");
  VARIANT big = Make(VT_I4);
  big.lVal = 40000;  // beyond VT_I2
  EXPECT_EQ(QXSym_SetTagValue_VARIANT(i, big), symResInvalidVARIANT);
  EXPECT_EQ(Raw(i, 2), (std::vector<std::uint8_t>{123, 0}));
  VariantClear(&digits);
  VariantClear(&letter);

  // A number into a text tag, and text into a floating tag.
  VARIANT n = Make(VT_I4);
  n.lVal = -42;
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(Tag("Txt"), n), symResOk);
  const std::vector<std::uint8_t> text = Raw(tags_.back(), 81);
  EXPECT_EQ(std::string(text.begin(), text.begin() + 4), std::string("-42", 4));
  VARIANT half = Make(VT_BSTR);
  half.bstrVal = Bstr(u"0.5");
  const QXSymTagHandle r = Tag("R");
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(r, half), symResOk);
  VARIANT got = Make(VT_EMPTY);
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(r, &got), symResOk);
  EXPECT_EQ(got.vt, VT_R8);
  EXPECT_EQ(got.dblVal, 0.5);
  VariantClear(&half);
}

TEST_F(VariantSimTest, RefusalsComeFirstAndLeaveTheVariantEmpty) {
  // Refused before any lookup, even for a handle that is not open.
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_ERROR}) {
    EXPECT_EQ(QXSym_SetTagValue_VARIANT(123456, Make(vt)), symResInvalidParameter) << vt;
    EXPECT_EQ(QXSym_SetTagValueIntoGroup_VARIANT(123456, 654321, Make(vt)), symResInvalidParameter);
  }
  EXPECT_EQ(QXSym_SetTagValue_VARIANT(0, Make(VT_EMPTY)), symResInvalidHandle);
  EXPECT_EQ(QXSym_GetTagValue_VARIANT(Tag("D"), nullptr), symResInvalidParameter);
  VARIANT v = Make(VT_EMPTY);
  EXPECT_EQ(QXSym_GetTagValue_VARIANT(123456, &v), symResInvalidHandle);

  // A structure has no VARIANT type; the string the VARIANT held is released.
  v.vt = VT_BSTR;
  v.bstrVal = Bstr(u"old");
  EXPECT_EQ(QXSym_GetTagValue_VARIANT(Tag("P"), &v), symResNotOk);
  EXPECT_EQ(v.vt, VT_EMPTY);
  VARIANT one = Make(VT_I4);
  one.lVal = 1;
  EXPECT_EQ(QXSym_SetTagValue_VARIANT(tags_.back(), one), symResNotOk);
}

TEST_F(VariantSimTest, GroupFormsMoveMembersValues) {
  QXSymGroupHandle g = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &g), symResOk);
  const QXSymTagHandle d = Tag("D");
  const QXSymTagHandle txt = Tag("Txt");
  ASSERT_EQ(QXSym_AddTagToGroup(g, d), symResOk);
  ASSERT_EQ(QXSym_AddTagToGroup(g, txt), symResOk);
  SetRaw(txt, {'h', 'i', 0});
  ASSERT_EQ(QXSym_ReadGroup(g), symResOk);

  VARIANT v = Make(VT_EMPTY);
  ASSERT_EQ(QXSym_GetTagValueFromGroup_VARIANT(g, d, &v), symResOk);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 0x12345678);
  ASSERT_EQ(QXSym_GetTagValueFromGroup_VARIANT(g, txt, &v), symResOk);
  EXPECT_EQ(Text(v.bstrVal), u"hi");
  VariantClear(&v);

  VARIANT s = Make(VT_BSTR);
  s.bstrVal = Bstr(u"-5");
  ASSERT_EQ(QXSym_SetTagValueIntoGroup_VARIANT(g, d, s), symResOk);
  ASSERT_EQ(QXSym_WriteGroup(g), symResOk);
  EXPECT_EQ(Raw(d, 4), (std::vector<std::uint8_t>{0xFB, 0xFF, 0xFF, 0xFF}));
  VariantClear(&s);
  EXPECT_EQ(QXSym_DeleteGroup(g), symResOk);
}

// The scripted host table: sizes and types the simulator never reports, and
// how often the tag is asked for what it caches.
class VariantHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QXSym_Init(), symResOk);
    QXSymServerAddress a{};
    a.protocol = symProtDirectAccess;
    const QXSymDirectAccessTable* table = host_.table();
    std::memcpy(a.ip, &table, sizeof table);
    host_.u32[0] = {0xC0};
    ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws_), symResOk);
  }
  void TearDown() override {
    QXSym_CloseWorkspace(ws_);
    QXSym_Shutdown();
  }
  // A tag whose type and size are known from the lookup.
  QXSymTagHandle Tag(std::uint32_t type_var, std::uint32_t size) {
    host_.u32[6] = {5, type_var, size, size};
    QXSymTagHandle t = 0;
    EXPECT_EQ(QXSym_GetGlobalTag(ws_, "T", &t), symResOk);
    return t;
  }

  qxsym::test::FakeHostTable host_;
  QXSymWorkspaceHandle ws_ = 0;
};

TEST_F(VariantHostTest, ScalarLargerThanTheValueFieldIsNeverMoved) {
  const QXSymTagHandle t = Tag(QXSymTyVarLReal, 16);
  VARIANT v = Make(VT_EMPTY);
  EXPECT_EQ(QXSym_GetTagValue_VARIANT(t, &v), symResInvalidTagSize);
  EXPECT_EQ(v.vt, VT_EMPTY);
  VARIANT w = Make(VT_R8);
  w.dblVal = 1.0;
  EXPECT_EQ(QXSym_SetTagValue_VARIANT(t, w), symResInvalidTagSize);
  EXPECT_EQ(host_.count(23) + host_.count(25), 0);

  // A BOOL of four bytes still reads as VARIANT_TRUE from any set byte.
  host_.bytes[23] = {0, 0, 2, 0};
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(Tag(QXSymTyVarBool, 4), &v), symResOk);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  EXPECT_EQ(v.ullVal, 0xFFFFu);
  EXPECT_EQ(host_.last(23)->args[6], 4u);  // the whole data size was asked for
}

TEST_F(VariantHostTest, TagsWiderThanTheirTypeGetZerosBeyondTheTypesBytes) {
  // An INT tag of four bytes: the caller's VT_I2 carries other bytes behind
  // its value, and a conversion leaves whatever it likes there.
  const QXSymTagHandle t = Tag(QXSymTyVarInt, 4);
  VARIANT own = Make(VT_I2);
  own.ullVal = 0x1122334455660007ull;
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(t, own), symResOk);
  EXPECT_EQ(host_.last(25)->data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  VARIANT real = Make(VT_R8);
  real.dblVal = 5.1;  // its low bytes are not zero
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(t, real), symResOk);
  EXPECT_EQ(host_.last(25)->data, (std::vector<std::uint8_t>{5, 0, 0, 0}));

  // A REAL of eight bytes, and the group form.
  const QXSymTagHandle r = Tag(QXSymTyVarReal, 8);
  VARIANT f = Make(VT_R4);
  f.ullVal = 0xFFFFFFFF00000000ull;
  f.fltVal = 1.0f;
  ASSERT_EQ(QXSym_SetTagValue_VARIANT(r, f), symResOk);
  EXPECT_EQ(host_.last(25)->data, (std::vector<std::uint8_t>{0, 0, 0x80, 0x3F, 0, 0, 0, 0}));
  host_.ids = {5};
  host_.member_size[5] = 4;
  host_.bytes[51] = {9, 9, 9, 9};
  QXSymGroupHandle g = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &g), symResOk);
  ASSERT_EQ(QXSym_AddTagToGroup(g, t), symResOk);
  ASSERT_EQ(QXSym_ReadGroup(g), symResOk);
  ASSERT_EQ(QXSym_SetTagValueIntoGroup_VARIANT(g, t, own), symResOk);
  ASSERT_EQ(QXSym_WriteGroup(g), symResOk);
  EXPECT_EQ(host_.last(52)->data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
}

TEST_F(VariantHostTest, GroupFormsKeepTheRegisteredTagsCache) {
  host_.ids = {5};
  host_.member_size[5] = 4;
  host_.bytes[51] = {1, 0, 0, 0};
  host_.u32[12] = {QXSymTyVarDInt};
  host_.u32[17] = {4};
  QXSymTagHandle t = 0;
  ASSERT_EQ(QXSym_FillGlobalTagList(ws_, &t, 1), symResOk);  // nothing cached yet
  QXSymGroupHandle g = 0;
  ASSERT_EQ(QXSym_CreateGroup(ws_, &g), symResOk);
  ASSERT_EQ(QXSym_AddTagToGroup(g, t), symResOk);
  ASSERT_EQ(QXSym_ReadGroup(g), symResOk);

  // The tag forms ask a copy each time, and its cache goes with it; the group
  // forms ask the registered tag, which keeps what it learnt.
  const int before = host_.count(12);
  VARIANT v = Make(VT_EMPTY);
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(t, &v), symResOk);
  ASSERT_EQ(QXSym_GetTagValue_VARIANT(t, &v), symResOk);
  EXPECT_EQ(host_.count(12), before + 2);
  ASSERT_EQ(QXSym_GetTagValueFromGroup_VARIANT(g, t, &v), symResOk);
  ASSERT_EQ(QXSym_GetTagValueFromGroup_VARIANT(g, t, &v), symResOk);
  EXPECT_EQ(v.lVal, 1);
  EXPECT_EQ(host_.count(12), before + 3);
}

}  // namespace
