// OLE Automation as the library relies on it. On Linux this checks the
// library's portable layer; the same source under Wine checks that the layer
// agrees with Wine's own implementation.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include "QXSymOle.h"  // the library's own OLE Automation, before the functions that take it
#endif
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

// Whether the Windows program runs under Wine, whose OLE Automation differs
// from the system's in a few places the table names.
bool UnderWine() {
#if defined(_WIN32)
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A source value: vt (VT_BYREF allowed), and the value in the member its
// type uses. A VT_BYREF | VT_VARIANT source points to a VARIANT of type
// inner; null makes a reference that points nowhere.
struct Source {
  VARTYPE vt;
  std::int64_t i = 0;  // integers, VT_BOOL, VT_CY (in 1/10000)
  double d = 0;        // VT_R4, VT_R8, VT_DATE
  const char16_t* text = nullptr;
  VARTYPE inner = VT_EMPTY;
  bool null = false;
};

// What a conversion gives: its result code and, on success, the value read
// through the target's member.
struct Expect {
  HRESULT hr;
  std::int64_t i = 0;
  double d = 0;
  const char16_t* text = nullptr;
};

struct Case {
  Source from;
  VARTYPE to;
  Expect expect;
  // Where Wine's result differs from the system's: what Wine answers.
  const char* wine_differs = nullptr;
  HRESULT wine_hr = S_OK;
};

Source I(VARTYPE vt, std::int64_t i) { return Source{vt, i}; }
Source R(VARTYPE vt, double d) { return Source{vt, 0, d}; }
Source T(const char16_t* text, VARTYPE vt = VT_BSTR) { return Source{vt, 0, 0, text}; }
Expect Ok(std::int64_t i) { return Expect{S_OK, i}; }
Expect OkReal(double d) { return Expect{S_OK, 0, d}; }
Expect OkText(const char16_t* text) { return Expect{S_OK, 0, 0, text}; }
const Expect kOverflow{DISP_E_OVERFLOW};
const Expect kMismatch{DISP_E_TYPEMISMATCH};

const double kFltMax = FLT_MAX;
const double kTwo62 = std::ldexp(1.0, 62);
const double kTwo63 = std::ldexp(1.0, 63);
const char* const kWineI8 = "Wine takes only values within +-2^62 to VT_I8";

// The one table of conversions; the portable layer on Linux and Wine's OLE
// Automation under wine64 are held to the same results.
const Case kCases[] = {
    // Integers and their ranges.
    {I(VT_I4, 32767), VT_I2, Ok(32767)},
    {I(VT_I4, 32768), VT_I2, kOverflow},
    {I(VT_I4, -128), VT_I1, Ok(-128)},
    {I(VT_I4, 256), VT_UI1, kOverflow},
    {I(VT_I8, 4294967295LL), VT_UI4, Ok(4294967295LL)},
    {I(VT_I2, -1), VT_UI1, kOverflow},
    {I(VT_I1, -1), VT_UI2, kOverflow},
    // VT_I1 goes into VT_UI1 bit for bit.
    {I(VT_I1, -1), VT_UI1, Ok(255)},
    {I(VT_I1, -128), VT_UI1, Ok(128)},
    // Floating values round half to even.
    {R(VT_R8, 2.5), VT_I4, Ok(2)},
    {R(VT_R8, 3.5), VT_I4, Ok(4)},
    {R(VT_R8, -0.5), VT_I2, Ok(0)},
    {R(VT_DATE, 2.75), VT_I4, Ok(3)},
    // VT_R8 to VT_I8 and VT_UI8 at their bounds.
    {R(VT_R8, 1e20), VT_I8, kOverflow},
    {R(VT_R8, kTwo63), VT_I8, kOverflow},
    {R(VT_R8, -kTwo63 - 2048), VT_I8, kOverflow},
    {R(VT_R8, kTwo62 - 1024), VT_I8, Ok(4611686018427386880LL)},
    {R(VT_R8, kTwo62), VT_I8, Ok(4611686018427387904LL), kWineI8, DISP_E_OVERFLOW},
    {R(VT_R8, kTwo63 - 1024), VT_I8, Ok(9223372036854774784LL), kWineI8, DISP_E_OVERFLOW},
    {R(VT_R8, -kTwo63), VT_I8, Ok(INT64_MIN), kWineI8, DISP_E_OVERFLOW},
    {R(VT_R8, kTwo63), VT_UI8, Ok(INT64_MIN)},  // 2^63 as bits
    {R(VT_R8, kTwo63 * 2), VT_UI8, kOverflow},
    {R(VT_R8, -1), VT_UI8, kOverflow},
    {R(VT_R8, -0.5), VT_UI8, Ok(0)},
    // VT_R8 to VT_R4: just beyond FLT_MAX rounds to it, infinity overflows.
    {R(VT_R8, kFltMax*(1 + std::ldexp(1.0, -30))), VT_R4, OkReal(kFltMax)},
    {R(VT_R8, -kFltMax*(1 + std::ldexp(1.0, -30))), VT_R4, OkReal(-kFltMax)},
    {R(VT_R8, kFltMax*(1 + std::ldexp(1.0, -24))), VT_R4, kOverflow},
    {R(VT_R8, 1e39), VT_R4, kOverflow},
    {R(VT_R8, HUGE_VAL), VT_R4, kOverflow},
    {R(VT_R8, -HUGE_VAL), VT_R4, kOverflow},
    // Text.
    {T(u"123"), VT_I2, Ok(123)},
    {T(u" -7 "), VT_I4, Ok(-7)},
    {T(u"x"), VT_I2, kMismatch},
    {T(u""), VT_I4, kMismatch},
    {T(u"70000"), VT_I2, kOverflow},
    {T(u"18446744073709551615"), VT_UI8, Ok(-1)},
    {T(u"1.5"), VT_I4, Ok(2)},
    // VT_BOOL: -1 and 0; true is all ones in every unsigned type.
    {I(VT_I4, 5), VT_BOOL, Ok(-1)},
    {I(VT_I4, 0), VT_BOOL, Ok(0)},
    {T(u"True"), VT_BOOL, Ok(-1)},
    {T(u"false"), VT_BOOL, Ok(0)},
    {I(VT_BOOL, -1), VT_I4, Ok(-1)},
    {I(VT_BOOL, -1), VT_I1, Ok(-1)},
    {I(VT_BOOL, -1), VT_UI1, Ok(255)},
    {I(VT_BOOL, -1), VT_UI2, Ok(65535)},
    {I(VT_BOOL, -1), VT_UI4, Ok(4294967295LL)},
    {I(VT_BOOL, -1), VT_UI8, Ok(-1)},
    {I(VT_BOOL, 0), VT_UI1, Ok(0)},
    // VT_CY to numbers: rounded half to even, and ranges.
    {I(VT_CY, 15000), VT_I2, Ok(2)},
    {I(VT_CY, 25000), VT_I4, Ok(2)},
    {I(VT_CY, 35000), VT_I4, Ok(4)},
    {I(VT_CY, -25000), VT_I4, Ok(-2)},
    {I(VT_CY, -35000), VT_I2, Ok(-4)},
    {I(VT_CY, 5000), VT_I4, Ok(0)},
    {I(VT_CY, 327675000), VT_I4, Ok(32768)},
    {I(VT_CY, 327675000), VT_I2, kOverflow},
    {I(VT_CY, 12345678), VT_UI1, kOverflow},
    {I(VT_CY, -25000), VT_UI1, kOverflow},
    {I(VT_CY, -5000), VT_UI4, Ok(0)},
    {I(VT_CY, 15000), VT_R8, OkReal(1.5)},
    {I(VT_CY, 12345), VT_R8, OkReal(1.2345)},
    {I(VT_CY, 15000), VT_R4, OkReal(1.5)},
    {I(VT_CY, 15000), VT_BOOL, Ok(-1)},
    {I(VT_CY, 0), VT_BOOL, Ok(0)},
    // To VT_I8 a positive amount rounds half to even; a negative one is taken
    // toward zero, then one less (as the system does; Wine copies it).
    {I(VT_CY, 12345678), VT_I8, Ok(1235)},
    {I(VT_CY, 25000), VT_I8, Ok(2)},
    {I(VT_CY, -25000), VT_I8, Ok(-3)},
    {I(VT_CY, -20000), VT_I8, Ok(-3)},
    {I(VT_CY, -5000), VT_I8, Ok(-1)},
    // VT_CY to text: up to four decimals, no trailing zeros.
    {I(VT_CY, 15000), VT_BSTR, OkText(u"1.5")},
    {I(VT_CY, -1), VT_BSTR, OkText(u"-0.0001")},
    {I(VT_CY, 12345678), VT_BSTR, OkText(u"1234.5678")},
    {I(VT_CY, 100000), VT_BSTR, OkText(u"10")},
    {I(VT_CY, 0), VT_BSTR, OkText(u"0")},
    // Numbers and text to VT_CY.
    {I(VT_I4, 7), VT_CY, Ok(70000)},
    {I(VT_I4, -7), VT_CY, Ok(-70000)},
    {I(VT_I2, 3), VT_CY, Ok(30000)},
    {I(VT_UI8, 5), VT_CY, Ok(50000)},
    {I(VT_I8, 922337203685LL), VT_CY, Ok(9223372036850000LL)},
    {I(VT_BOOL, -1), VT_CY, Ok(-10000)},
    {R(VT_R8, 1.23456), VT_CY, Ok(12346)},
    {R(VT_R8, -2.5), VT_CY, Ok(-25000)},
    {R(VT_R4, 2.5), VT_CY, Ok(25000)},
    {R(VT_R8, 9.2e14), VT_CY, Ok(9200000000000000000LL)},
    {R(VT_R8, 1e15), VT_CY, kOverflow},
    {R(VT_R8, -1e15), VT_CY, kOverflow},
    {T(u"1.5"), VT_CY, Ok(15000)},
    {T(u"-0.0001"), VT_CY, Ok(-1)},
    {T(u"12"), VT_CY, Ok(120000)},
    {T(u"1e15"), VT_CY, kOverflow},
    {T(u"x"), VT_CY, kMismatch},
    // VT_BYREF sources are read where they point; a reference to nowhere,
    // or a reference as the target, is a type mismatch.
    {I(VT_BYREF | VT_I4, 1234), VT_I2, Ok(1234)},
    {I(VT_BYREF | VT_I4, 1234), VT_I4, Ok(1234)},
    {I(VT_BYREF | VT_I4, 1234), VT_BSTR, OkText(u"1234")},
    {I(VT_BYREF | VT_I4, 70000), VT_I2, kOverflow},
    {R(VT_BYREF | VT_R8, 2.5), VT_I4, Ok(2)},
    {T(u"42", VT_BYREF | VT_BSTR), VT_I2, Ok(42)},
    {T(u"x", VT_BYREF | VT_BSTR), VT_I2, kMismatch},
    {I(VT_BYREF | VT_BOOL, -1), VT_UI1, Ok(255)},
    {I(VT_BYREF | VT_CY, 25000), VT_I4, Ok(2)},
    {Source{VT_BYREF | VT_VARIANT, 7, 0, nullptr, VT_I2}, VT_I4, Ok(7)},
    {Source{VT_BYREF | VT_I4, 0, 0, nullptr, VT_EMPTY, true}, VT_I2, kMismatch},
    {Source{VT_BYREF | VT_VARIANT, 0, 0, nullptr, VT_EMPTY, true}, VT_I2, kMismatch},
    {I(VT_I4, 5), VT_BYREF | VT_I4, kMismatch},
};

// Stores s's value into v's member for type vt (without VT_BYREF).
void Fill(VARIANT* v, VARTYPE vt, const Source& s) {
  switch (vt) {
    case VT_BSTR:
      v->bstrVal = Bstr(s.text);
      break;
    case VT_R4:
      v->fltVal = static_cast<FLOAT>(s.d);
      break;
    case VT_R8:
    case VT_DATE:
      v->dblVal = s.d;
      break;
    case VT_BOOL:
      v->boolVal = static_cast<VARIANT_BOOL>(s.i);
      break;
    case VT_I1:
    case VT_UI1:
      v->bVal = static_cast<BYTE>(s.i);
      break;
    case VT_I2:
    case VT_UI2:
      v->iVal = static_cast<SHORT>(s.i);
      break;
    case VT_I4:
    case VT_UI4:
      v->lVal = static_cast<LONG>(s.i);
      break;
    default:  // VT_I8, VT_UI8, VT_CY
      v->llVal = s.i;
      break;
  }
}

// The result as the target's member holds it.
std::int64_t Integer(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return static_cast<signed char>(v.cVal);
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_UI2:
      return v.uiVal;
    case VT_I4:
      return v.lVal;
    case VT_UI4:
      return v.ulVal;
    case VT_BOOL:
      return v.boolVal;
    default:  // VT_I8, VT_UI8, VT_CY
      return v.llVal;
  }
}

void Check(const Case& c) {
  // The referenced value lives in held, a VARIANT of the source's type.
  VARIANT held;
  VariantInit(&held);
  const VARTYPE base = c.from.vt & ~VT_BYREF;
  held.vt = base == VT_VARIANT ? c.from.inner : base;
  Fill(&held, held.vt, c.from);
  VARIANT src;
  VariantInit(&src);
  src.vt = c.from.vt;
  if (!(c.from.vt & VT_BYREF)) {
    src = held;
  } else if (c.from.null) {
    src.byref = nullptr;
  } else {
    src.byref = base == VT_VARIANT ? static_cast<void*>(&held) : static_cast<void*>(&held.llVal);
  }
  VARIANT dst;
  VariantInit(&dst);
  const HRESULT hr = VariantChangeType(&dst, &src, 0, c.to);
  const bool wine = c.wine_differs != nullptr && UnderWine();
  if (wine) {
    EXPECT_EQ(hr, c.wine_hr) << c.wine_differs;
  } else if (hr != c.expect.hr) {
    ADD_FAILURE() << "result " << std::hex << hr << ", expected " << c.expect.hr;
  } else if (SUCCEEDED(hr)) {
    ASSERT_EQ(dst.vt, c.to);
    if (c.to == VT_BSTR) {
      EXPECT_EQ(Text(dst.bstrVal), std::u16string(c.expect.text));
    } else if (c.to == VT_R4) {
      EXPECT_EQ(dst.fltVal, static_cast<FLOAT>(c.expect.d));
    } else if (c.to == VT_R8) {
      EXPECT_EQ(dst.dblVal, c.expect.d);
    } else {
      EXPECT_EQ(Integer(dst), c.expect.i);
    }
  } else {
    EXPECT_EQ(dst.vt, VT_EMPTY);  // untouched
  }
  VariantClear(&dst);
  VariantClear(&held);
}

TEST(OleChangeType, OneTableOfConversions) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "from " << c.from.vt << " (" << c.from.i << ", "
                                      << c.from.d << ") to " << c.to);
    Check(c);
  }
}

TEST(OleVariant, InitSetsTheTypeAndLeavesTheValueField) {
  VARIANT v;
  std::memset(&v, 0xAB, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  // Documented to set vt alone, so the library never counts on zeros there;
  // Wine clears the whole record, so only the portable layer is held to
  // leaving the value field, which keeps the Linux tests as strict as the
  // documented system.
#if !defined(_WIN32)
  EXPECT_EQ(v.ullVal, 0xABABABABABABABABull);
#endif
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
