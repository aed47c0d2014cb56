// VARIANT handling of the portable OLE Automation layer: initialise, clear,
// copy and change type. Conversions follow the system's: numbers to numbers
// with range checks (floating values rounded half to even), text to numbers
// and back, VT_BOOL as -1/0 (true becomes all ones in an unsigned type),
// VT_DATE as days since 1899-12-30, VT_CY as 1/10000 units, and a VT_BYREF
// source read where it points.
#if !defined(_WIN32)

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "QXSymOle.h"

namespace {

// A source value reduced to one of five kinds.
struct Value {
  enum Kind { kSigned, kUnsigned, kReal, kText, kCurrency } kind = kSigned;
  std::int64_t s = 0;  // kSigned, and kCurrency in 1/10000 units
  std::uint64_t u = 0;
  double d = 0;
  std::string text;  // UTF-8
};

// Currency units in one.
constexpr std::int64_t kCurrencyScale = 10000;
// Largest whole amount a currency holds (its range is +-922337203685477.5807).
constexpr std::int64_t kCurrencyMaxWhole = INT64_MAX / kCurrencyScale;
// Doubles from here on round to infinity as a float: FLT_MAX plus half a step.
constexpr double kFloatLimit = 340282356779733661637539395458142568448.0;
// 2^63, the first double beyond the signed 64-bit range.
constexpr double kTwoTo63 = 9223372036854775808.0;

// Earliest and latest dates a DATE may hold (year 100 and year 9999).
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958465.99999999;

bool IsKnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Days from 1970-01-01 for a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

// 1899-12-30, day 0 of a DATE, counted from 1970-01-01.
constexpr std::int64_t kDateEpoch = -25569;

std::string FormatDate(double date) {
  if (!(date >= kMinDate && date <= kMaxDate)) return {};
  double day = std::floor(date);
  // Negative dates count whole days back, the fraction forward.
  double fraction = std::fabs(date - std::trunc(date));
  if (date < 0) day = std::trunc(date);
  long seconds = std::lround(fraction * 86400.0);
  if (seconds >= 86400) seconds = 86399;
  std::int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  CivilFromDays(static_cast<std::int64_t>(day) + kDateEpoch, &y, &m, &d);
  char out[48];
  if (seconds == 0) {
    std::snprintf(out, sizeof(out), "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  } else {
    std::snprintf(out, sizeof(out), "%04lld-%02u-%02u %02ld:%02ld:%02ld", static_cast<long long>(y),
                  m, d, seconds / 3600, (seconds / 60) % 60, seconds % 60);
  }
  return out;
}

// "YYYY-MM-DD" with an optional " hh:mm[:ss]".
bool ParseDate(const std::string& text, double* out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  const char* p = text.c_str();
  if (std::sscanf(p, "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return false;
  p += used;
  if (*p == ' ' || *p == 'T') {
    used = 0;
    const int n = std::sscanf(p + 1, "%2d:%2d%n:%2d%n", &h, &mi, &used, &s, &used);
    if (n < 2) return false;
    p += 1 + used;
  }
  if (*p != '\0') return false;
  if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 ||
      h < 0 || mi < 0 || s < 0) {
    return false;
  }
  std::int64_t cy = 0;
  unsigned cm = 0, cd = 0;
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  CivilFromDays(days, &cy, &cm, &cd);
  if (cd != static_cast<unsigned>(d)) return false;  // 31 April and the like
  const double day = static_cast<double>(days - kDateEpoch);
  const double fraction = (h * 3600.0 + mi * 60.0 + s) / 86400.0;
  *out = day < 0 ? day - fraction : day + fraction;
  return true;
}

std::string Trim(const std::string& t) {
  std::size_t b = 0;
  std::size_t e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// Number text: optional sign, digits with an optional fraction, optional
// exponent. Integers keep their exact value; anything else becomes a double.
bool ParseNumber(const std::string& raw, Value* out) {
  const std::string t = Trim(raw);
  if (t.empty()) return false;
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  std::size_t digits = 0;
  bool integral = true;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    integral = false;
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    integral = false;
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != t.size()) return false;
  errno = 0;
  if (integral && t[0] != '-') {
    const unsigned long long v = std::strtoull(t.c_str(), nullptr, 10);
    if (errno == 0) {
      out->kind = Value::kUnsigned;
      out->u = v;
      return true;
    }
  } else if (integral) {
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (errno == 0) {
      out->kind = Value::kSigned;
      out->s = v;
      return true;
    }
  }
  errno = 0;
  out->kind = Value::kReal;
  out->d = std::strtod(t.c_str(), nullptr);
  return std::isfinite(out->d);
}

HRESULT TextOf(BSTR text, std::string* out) {
  out->clear();
  const UINT n = SysStringLen(text);
  if (n == 0) return S_OK;
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return DISP_E_TYPEMISMATCH;
  out->resize(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &(*out)[0], bytes, nullptr, nullptr);
  return S_OK;
}

HRESULT Read(const VARIANT& v, Value* out) {
  switch (v.vt) {
    case VT_EMPTY:
      out->kind = Value::kSigned, out->s = 0;
      return S_OK;
    case VT_I1:
      out->kind = Value::kSigned, out->s = static_cast<signed char>(v.cVal);
      return S_OK;
    case VT_I2:
      out->kind = Value::kSigned, out->s = v.iVal;
      return S_OK;
    case VT_I4:
    case VT_INT:
      out->kind = Value::kSigned, out->s = v.lVal;
      return S_OK;
    case VT_I8:
      out->kind = Value::kSigned, out->s = v.llVal;
      return S_OK;
    case VT_BOOL:
      out->kind = Value::kSigned, out->s = v.boolVal != 0 ? -1 : 0;
      return S_OK;
    case VT_UI1:
      out->kind = Value::kUnsigned, out->u = v.bVal;
      return S_OK;
    case VT_UI2:
      out->kind = Value::kUnsigned, out->u = v.uiVal;
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      out->kind = Value::kUnsigned, out->u = v.ulVal;
      return S_OK;
    case VT_UI8:
      out->kind = Value::kUnsigned, out->u = v.ullVal;
      return S_OK;
    case VT_R4:
      out->kind = Value::kReal, out->d = v.fltVal;
      return S_OK;
    case VT_R8:
    case VT_DATE:
      out->kind = Value::kReal, out->d = v.dblVal;
      return S_OK;
    case VT_CY:
      out->kind = Value::kCurrency, out->s = v.cyVal.int64;
      return S_OK;
    case VT_BSTR:
      out->kind = Value::kText;
      return TextOf(v.bstrVal, &out->text);
    default:
      return IsKnownType(v.vt & 0x0FFF) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
}

// Text to a number (or, for a boolean target, also "True"/"False").
HRESULT Numeric(Value* v, VARTYPE target) {
  if (v->kind != Value::kText) return S_OK;
  if (target == VT_BOOL) {
    const std::string t = Trim(v->text);
    if (EqualsNoCase(t, "true")) {
      v->kind = Value::kSigned, v->s = -1;
      return S_OK;
    }
    if (EqualsNoCase(t, "false")) {
      v->kind = Value::kSigned, v->s = 0;
      return S_OK;
    }
  }
  if (target == VT_DATE) {
    double d = 0;
    if (ParseDate(Trim(v->text), &d)) {
      v->kind = Value::kReal, v->d = d;
      return S_OK;
    }
  }
  return ParseNumber(v->text, v) ? S_OK : DISP_E_TYPEMISMATCH;
}

// A currency amount rounded half to even to a whole number.
std::int64_t WholeOf(std::int64_t currency) {
  std::int64_t q = currency / kCurrencyScale;
  const std::int64_t rest = currency % kCurrencyScale;
  const std::int64_t half = kCurrencyScale / 2;
  const std::int64_t away = rest < 0 ? -rest : rest;
  if (away > half || (away == half && (q & 1) != 0)) q += rest < 0 ? -1 : 1;
  return q;
}

// The value as an integer within [lo, hi]; floating values and currency are
// rounded half to even first.
HRESULT ToSigned(const Value& v, std::int64_t lo, std::int64_t hi, std::int64_t* out) {
  switch (v.kind) {
    case Value::kCurrency:
      *out = WholeOf(v.s);
      return *out < lo || *out > hi ? DISP_E_OVERFLOW : S_OK;
    case Value::kSigned:
      if (v.s < lo || v.s > hi) return DISP_E_OVERFLOW;
      *out = v.s;
      return S_OK;
    case Value::kUnsigned:
      if (v.u > static_cast<std::uint64_t>(hi)) return DISP_E_OVERFLOW;
      *out = static_cast<std::int64_t>(v.u);
      return S_OK;
    case Value::kReal: {
      const double r = std::nearbyint(v.d);
      // 2^63 is the first double beyond the signed 64-bit range.
      if (!(r >= static_cast<double>(lo)) || !(r < kTwoTo63)) return DISP_E_OVERFLOW;
      *out = static_cast<std::int64_t>(r);
      if (*out > hi) return DISP_E_OVERFLOW;
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToUnsigned(const Value& v, std::uint64_t hi, std::uint64_t* out) {
  switch (v.kind) {
    case Value::kCurrency: {
      const std::int64_t whole = WholeOf(v.s);
      if (whole < 0 || static_cast<std::uint64_t>(whole) > hi) return DISP_E_OVERFLOW;
      *out = static_cast<std::uint64_t>(whole);
      return S_OK;
    }
    case Value::kSigned:
      if (v.s < 0 || static_cast<std::uint64_t>(v.s) > hi) return DISP_E_OVERFLOW;
      *out = static_cast<std::uint64_t>(v.s);
      return S_OK;
    case Value::kUnsigned:
      if (v.u > hi) return DISP_E_OVERFLOW;
      *out = v.u;
      return S_OK;
    case Value::kReal: {
      const double r = std::nearbyint(v.d);
      if (!(r >= 0.0) || r >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      *out = static_cast<std::uint64_t>(r);
      if (*out > hi) return DISP_E_OVERFLOW;
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

double ToDouble(const Value& v) {
  switch (v.kind) {
    case Value::kSigned:
      return static_cast<double>(v.s);
    case Value::kUnsigned:
      return static_cast<double>(v.u);
    case Value::kCurrency:
      return static_cast<double>(v.s) / kCurrencyScale;
    default:
      return v.d;
  }
}

// "-1234.5678": the whole part, then up to four decimals without trailing
// zeros.
std::string CurrencyText(std::int64_t currency) {
  const bool negative = currency < 0;
  // Magnitudes as unsigned, so the most negative amount has one too.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(currency) : static_cast<std::uint64_t>(currency);
  const std::uint64_t scale = static_cast<std::uint64_t>(kCurrencyScale);
  char buf[48];
  std::snprintf(buf, sizeof(buf), "%s%llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / scale));
  std::string text = buf;
  unsigned fraction = static_cast<unsigned>(magnitude % scale);
  if (fraction != 0) {
    std::snprintf(buf, sizeof(buf), ".%04u", fraction);
    text += buf;
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

// The value in currency units; beyond the currency's range: overflow.
HRESULT ToCurrency(const Value& v, std::int64_t* out) {
  switch (v.kind) {
    case Value::kCurrency:
      *out = v.s;
      return S_OK;
    case Value::kSigned:
      if (v.s < -kCurrencyMaxWhole || v.s > kCurrencyMaxWhole) return DISP_E_OVERFLOW;
      *out = v.s * kCurrencyScale;
      return S_OK;
    case Value::kUnsigned:
      if (v.u > static_cast<std::uint64_t>(kCurrencyMaxWhole)) return DISP_E_OVERFLOW;
      *out = static_cast<std::int64_t>(v.u) * kCurrencyScale;
      return S_OK;
    case Value::kReal: {
      const double r = std::nearbyint(v.d * kCurrencyScale);
      if (!(r >= -kTwoTo63) || !(r < kTwoTo63)) return DISP_E_OVERFLOW;
      *out = static_cast<std::int64_t>(r);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// A double as a float: beyond FLT_MAX but short of where rounding reaches
// infinity it is FLT_MAX; from there on, infinities included, overflow. NaN
// stays NaN.
HRESULT ToFloat(double d, FLOAT* out) {
  const double magnitude = std::fabs(d);
  if (magnitude >= kFloatLimit) return DISP_E_OVERFLOW;
  if (magnitude > FLT_MAX) {
    *out = d < 0 ? -FLT_MAX : FLT_MAX;
  } else {
    *out = static_cast<FLOAT>(d);
  }
  return S_OK;
}

// The system reads VT_BOOL and VT_I1 into VT_UI1 bit for bit (true is all
// ones), where every other signed source below zero overflows.
bool KeepsBits(VARTYPE from, VARTYPE to) {
  const bool unsigned_target =
      to == VT_UI1 || to == VT_UI2 || to == VT_UI4 || to == VT_UI8 || to == VT_UINT;
  return (from == VT_BOOL && unsigned_target) || (from == VT_I1 && to == VT_UI1);
}

HRESULT MakeText(const Value& v, VARTYPE source, const VARIANT& src, BSTR* out) {
  std::string text;
  char buf[64];
  if (source == VT_BSTR) {
    *out = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  if (source == VT_EMPTY) {
    text.clear();
  } else if (source == VT_DATE) {
    text = FormatDate(v.d);
    if (text.empty()) return DISP_E_OVERFLOW;
  } else if (v.kind == Value::kCurrency) {
    text = CurrencyText(v.s);
  } else if (v.kind == Value::kSigned) {
    std::snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(v.s));
    text = buf;
  } else if (v.kind == Value::kUnsigned) {
    std::snprintf(buf, sizeof(buf), "%llu", static_cast<unsigned long long>(v.u));
    text = buf;
  } else {
    // Single precision shows 7 significant digits, double precision 15.
    std::snprintf(buf, sizeof(buf), source == VT_R4 ? "%.7G" : "%.15G", v.d);
    text = buf;
  }
  if (text.empty()) {
    *out = SysAllocStringLen(nullptr, 0);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (s == nullptr) return E_OUTOFMEMORY;
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), s, n);
  *out = s;
  return S_OK;
}

// The integer targets, from v; writes only the target's own bytes.
HRESULT ToInteger(const Value& v, VARTYPE vt, VARIANT* result) {
  std::int64_t s = 0;
  std::uint64_t u = 0;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1:
      hr = ToSigned(v, INT8_MIN, INT8_MAX, &s);
      result->cVal = static_cast<CHAR>(s);
      return hr;
    case VT_I2:
      hr = ToSigned(v, INT16_MIN, INT16_MAX, &s);
      result->iVal = static_cast<SHORT>(s);
      return hr;
    case VT_I4:
    case VT_INT:
      hr = ToSigned(v, INT32_MIN, INT32_MAX, &s);
      result->lVal = static_cast<LONG>(s);
      return hr;
    case VT_I8:
      // The system takes a negative currency's whole part toward zero, then
      // one less; Wine does the same.
      if (v.kind == Value::kCurrency && v.s < 0) {
        result->llVal = v.s / kCurrencyScale - 1;
        return S_OK;
      }
      hr = ToSigned(v, INT64_MIN, INT64_MAX, &s);
      result->llVal = s;
      return hr;
    case VT_UI1:
      hr = ToUnsigned(v, UINT8_MAX, &u);
      result->bVal = static_cast<BYTE>(u);
      return hr;
    case VT_UI2:
      hr = ToUnsigned(v, UINT16_MAX, &u);
      result->uiVal = static_cast<USHORT>(u);
      return hr;
    case VT_UI4:
    case VT_UINT:
      hr = ToUnsigned(v, UINT32_MAX, &u);
      result->ulVal = static_cast<ULONG>(u);
      return hr;
    case VT_UI8:
      hr = ToUnsigned(v, UINT64_MAX, &u);
      result->ullVal = u;
      return hr;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// The numeric targets other than the integers.
HRESULT ToOther(const Value& v, VARTYPE vt, VARIANT* result) {
  switch (vt) {
    case VT_BOOL:
      result->boolVal = ToDouble(v) != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_R4:
      return ToFloat(ToDouble(v), &result->fltVal);
    case VT_R8:
      result->dblVal = ToDouble(v);
      return S_OK;
    case VT_CY:
      return ToCurrency(v, &result->cyVal.int64);
    case VT_DATE: {
      const double d = ToDouble(v);
      if (!(d >= kMinDate && d <= kMaxDate)) return DISP_E_OVERFLOW;
      result->date = d;
      return S_OK;
    }
    default:
      return ToInteger(v, vt, result);
  }
}

// Builds the converted value in result (which owns nothing of src). Only
// the target's own bytes of the value field are written.
HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT* result) {
  if (vt & (VT_ARRAY | VT_BYREF)) return DISP_E_TYPEMISMATCH;
  if (!IsKnownType(vt)) return DISP_E_BADVARTYPE;
  if (src.vt == VT_NULL) return vt == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (src.vt == VT_ERROR || vt == VT_ERROR) {
    if (src.vt != vt) return DISP_E_TYPEMISMATCH;
    result->scode = src.scode;
    return S_OK;
  }
  Value v;
  HRESULT hr = Read(src, &v);
  if (FAILED(hr)) return hr;
  if (vt == VT_BSTR) return MakeText(v, src.vt, src, &result->bstrVal);
  hr = Numeric(&v, vt);
  if (FAILED(hr)) return hr;
  if (KeepsBits(src.vt, vt) && v.s < 0) {
    // The target's width of the value's two's complement.
    const int bits = vt == VT_UI1 ? 8 : vt == VT_UI2 ? 16 : vt == VT_UI8 ? 64 : 32;
    v.kind = Value::kUnsigned;
    v.u = static_cast<std::uint64_t>(v.s);
    if (bits < 64) v.u &= (std::uint64_t{1} << bits) - 1;
  }
  return ToOther(v, vt, result);
}

// Bytes a reference of type vt (without VT_BYREF) points to; 0 for what is
// not read through a reference here.
std::size_t ReferencedSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    default:
      return 0;
  }
}

// src as a VARIANT that holds its value: a VT_BYREF source is read where it
// points (a VT_VARIANT reference to the VARIANT it names, itself read
// through once more). out borrows what it holds from src.
HRESULT Dereference(const VARIANT& src, VARIANT* out, int depth = 0) {
  *out = src;
  if (!(src.vt & VT_BYREF)) return S_OK;
  const VARTYPE vt = src.vt & ~VT_BYREF;
  if (src.byref == nullptr || depth > 1 || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_VARIANT) return Dereference(*src.pvarVal, out, depth + 1);
  const std::size_t size = ReferencedSize(vt);
  if (size == 0) return IsKnownType(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  out->vt = vt;
  std::memcpy(&out->llVal, src.byref, size);
  return S_OK;
}

}  // namespace

extern "C" {

void VariantInit(VARIANT* value) {
  if (value != nullptr) value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  switch (value->vt) {
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (value->punkVal != nullptr) value->punkVal->Release();
      break;
    default:
      if (!IsKnownType(value->vt & 0x0FFF) || (value->vt & VT_ARRAY)) return DISP_E_BADVARTYPE;
      break;
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal != nullptr) {
    src->punkVal->AddRef();
  }
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT /*flags*/, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (src->vt == vt) return VariantCopy(dest, src);
  VARIANT value;
  HRESULT hr = Dereference(*src, &value);
  if (FAILED(hr)) return hr;
  if (value.vt == vt) return VariantCopy(dest, &value);
  // The conversion writes only the target's own bytes; like the system's, it
  // leaves the rest of the value field with what its working copy held (here
  // the source's bytes), so callers cannot rely on zeros there.
  VARIANT result = value;
  hr = Convert(value, vt, &result);
  if (FAILED(hr)) return hr;  // nothing was allocated
  result.vt = vt;
  // dest may be src: the source is fully read by now.
  const HRESULT cleared = VariantClear(dest);
  if (FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *dest = result;
  return S_OK;
}

}  // extern "C"

#endif  // !_WIN32
