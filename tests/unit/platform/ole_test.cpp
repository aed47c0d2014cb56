// OLE Automation as the library relies on it. On Linux this checks the
// library's portable layer; the same source under Wine checks that the layer
// agrees with Wine's own implementation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "QXSymVariant.h"

namespace {

BSTR Bstr(const char16_t* text) { return SysAllocString(reinterpret_cast<const OLECHAR*>(text)); }
std::u16string Text(BSTR s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

TEST(OleLayout, VariantIsTheTypeCodeThenAnEightByteValueField) {
  VARIANT v;
  EXPECT_EQ(offsetof(VARIANT, vt), 0u);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&v.llVal) - reinterpret_cast<unsigned char*>(&v), 8);
  EXPECT_GE(sizeof(VARIANT), 16u);
  EXPECT_EQ(VT_BOOL, 11);
  EXPECT_EQ(VT_UI8, 21);
  BSTR s = Bstr(u"ab\u00e9");
  // Length prefix in bytes just before the text, and a terminating zero.
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<unsigned char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(s[3], 0);
  SysFreeString(s);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

struct Case {
  VARTYPE from;
  std::int64_t value;  // integer sources
  const char16_t* text;
  double real;
  VARTYPE to;
  bool ok;
  std::int64_t expect;  // integer and boolean results
};

TEST(OleChangeType, NumbersTextAndBooleans) {
  const Case cases[] = {
      {VT_I4, 32767, nullptr, 0, VT_I2, true, 32767},
      {VT_I4, 32768, nullptr, 0, VT_I2, false, 0},
      {VT_I4, -128, nullptr, 0, VT_I1, true, -128},
      {VT_I4, 256, nullptr, 0, VT_UI1, false, 0},
      {VT_I8, 4294967295LL, nullptr, 0, VT_UI4, true, 4294967295LL},
      {VT_R8, 0, nullptr, 2.5, VT_I4, true, 2},  // half to even
      {VT_R8, 0, nullptr, 3.5, VT_I4, true, 4},
      {VT_R8, 0, nullptr, -0.5, VT_I2, true, 0},
      {VT_R8, 0, nullptr, 1e20, VT_I8, false, 0},
      {VT_BSTR, 0, u"123", 0, VT_I2, true, 123},
      {VT_BSTR, 0, u" -7 ", 0, VT_I4, true, -7},
      {VT_BSTR, 0, u"x", 0, VT_I2, false, 0},
      {VT_BSTR, 0, u"", 0, VT_I4, false, 0},
      {VT_BSTR, 0, u"70000", 0, VT_I2, false, 0},
      {VT_BSTR, 0, u"18446744073709551615", 0, VT_UI8, true, -1},
      {VT_BSTR, 0, u"1.5", 0, VT_I4, true, 2},
      {VT_I4, 5, nullptr, 0, VT_BOOL, true, -1},
      {VT_I4, 0, nullptr, 0, VT_BOOL, true, 0},
      {VT_BSTR, 0, u"True", 0, VT_BOOL, true, -1},
      {VT_BSTR, 0, u"false", 0, VT_BOOL, true, 0},
      {VT_BOOL, -1, nullptr, 0, VT_I4, true, -1},
      {VT_DATE, 0, nullptr, 2.75, VT_I4, true, 3},
  };
  for (const Case& c : cases) {
    VARIANT src;
    VariantInit(&src);
    src.vt = c.from;
    if (c.from == VT_BSTR) {
      src.bstrVal = Bstr(c.text);
    } else if (c.from == VT_R8 || c.from == VT_DATE) {
      src.dblVal = c.real;
    } else if (c.from == VT_I8) {
      src.llVal = c.value;
    } else if (c.from == VT_BOOL) {
      src.boolVal = static_cast<VARIANT_BOOL>(c.value);
    } else {
      src.lVal = static_cast<LONG>(c.value);
    }
    VARIANT dst;
    VariantInit(&dst);
    const HRESULT hr = VariantChangeType(&dst, &src, 0, c.to);
    SCOPED_TRACE(::testing::Message() << "from " << c.from << " to " << c.to << " value " << c.value
                                      << " real " << c.real);
    ASSERT_EQ(SUCCEEDED(hr), c.ok) << std::hex << hr;
    if (c.ok) {
      ASSERT_EQ(dst.vt, c.to);
      std::int64_t got = 0;
      switch (c.to) {
        case VT_I1:
          got = static_cast<signed char>(dst.cVal);
          break;
        case VT_I2:
          got = dst.iVal;
          break;
        case VT_I4:
          got = dst.lVal;
          break;
        case VT_UI1:
          got = dst.bVal;
          break;
        case VT_UI4:
          got = dst.ulVal;
          break;
        case VT_BOOL:
          got = dst.boolVal;
          break;
        default:
          got = dst.llVal;
          break;
      }
      EXPECT_EQ(got, c.expect);
    } else {
      EXPECT_EQ(dst.vt, VT_EMPTY);  // untouched
    }
    VariantClear(&dst);
    VariantClear(&src);
  }
}

TEST(OleChangeType, ToTextAndInPlace) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = -42;
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v.bstrVal), u"-42");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);  // the string is released
  EXPECT_EQ(v.dblVal, -42.0);
  v.vt = VT_R4;
  v.fltVal = 0.1f;
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v.bstrVal), u"0.1");
  VariantClear(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);

  VARIANT n;
  VariantInit(&n);
  n.vt = VT_NULL;
  EXPECT_TRUE(FAILED(VariantChangeType(&v, &n, 0, VT_I4)));
}

TEST(OleText, AnsiIsUtf8AndLengthsFollowTheWindowsRules) {
  const char* text = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // 2-byte, 2-byte, 4-byte
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  ASSERT_EQ(n, 8);  // 6 characters, a surrogate pair, the terminator
  OLECHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 8), 8);
  EXPECT_EQ(wide[2], 0x00FC);
  EXPECT_EQ(wide[5], 0xD83D);
  EXPECT_EQ(wide[6], 0xDE00);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 7), 0);  // too short
  char back[16];
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, sizeof back, nullptr, nullptr), 12);
  EXPECT_STREQ(back, text);
}

}  // namespace
