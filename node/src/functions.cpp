// The convenience functions: a tag's value as a JavaScript boolean, number
// or string, and its data-type name. A failing library call is reported by
// ThrowException (printed, then thrown as a string), except
// symResInvalidHandle, which passes silently: the readers then give false, 0
// or "", and the setters send nothing. After a failure nothing further is
// sent.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Binding.h"
#include "QXSymbols.h"

namespace qxsym {
namespace node {
namespace {

// The value commands move at most 65535 bytes, so a larger data size can
// never be read or written in one call: the buffer is capped one byte above
// that and the library itself answers for the rest. Numbers need 8 bytes.
constexpr uint32_t kMaxValueBuffer = 65536;
constexpr uint32_t kNumberWidth = 8;

// Prints "ERROR: <function> returned <result>" without a line break and
// throws the same text as a string; symResInvalidHandle passes silently.
// Returns true when the caller must stop (thrown or silent).
bool ThrowException(napi_env env, const char* function, QXSymResult result) {
  if (result == symResInvalidHandle) return true;
  char text[100];
  std::snprintf(text, sizeof text, "ERROR: %s returned %i", function, static_cast<int>(result));
  std::fputs(text, stdout);
  std::fflush(stdout);
  napi_value thrown = nullptr;
  if (napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &thrown) == napi_ok) {
    napi_throw(env, thrown);
  }
  return true;
}

// Checks a library result: true when it failed (and has been reported).
bool Failed(napi_env env, const char* function, QXSymResult result) {
  return result != symResOk && ThrowException(env, function, result);
}

// Count and tag handle; the second argument, when there is one, is
// checked by the caller.
bool TakeTag(napi_env env, napi_callback_info info, const char* name, std::size_t count,
             CallArgs* a, QXSymTagHandle* tag) {
  if (!GetArgs(env, info, a)) return false;
  if (a->argc != count) {
    ThrowArgCount(env, name);
    return false;
  }
  int32_t handle = 0;
  if (!ToInt32Cut(env, a->argv[0], &handle)) {
    ThrowArgType(env, name, 1, "QXSymTagHandle");
    return false;
  }
  *tag = handle;
  return true;
}

// A zero-filled buffer of the tag's data size (capped), never shorter than
// the widest number, so conversions never read or write past it.
std::vector<uint8_t> ValueBuffer(uint32_t size) {
  return std::vector<uint8_t>(std::max(std::min(size, kMaxValueBuffer), kNumberWidth), 0);
}
uint32_t PassedSize(uint32_t size) { return std::min(size, kMaxValueBuffer); }

// The data-type name into a buffer of the given capacity.
bool GetTypeName(napi_env env, QXSymTagHandle tag, uint16_t capacity, std::string* name) {
  std::vector<char> buffer(capacity, 0);
  uint16_t length = capacity;
  if (Failed(env, "QXSym_GetTagDataType", QXSym_GetTagDataType(tag, buffer.data(), &length))) {
    return false;
  }
  const void* end = std::memchr(buffer.data(), 0, buffer.size());
  name->assign(buffer.data(), end ? static_cast<const char*>(end) - buffer.data() : buffer.size());
  return true;
}

template <typename T>
T Load(const std::vector<uint8_t>& b) {
  T v;
  std::memcpy(&v, b.data(), sizeof v);
  return v;
}

template <typename T>
void Store(std::vector<uint8_t>& b, T v) {
  std::memcpy(b.data(), &v, sizeof v);
}

// Cuts toward zero into [lo, hi], saturating; NaN gives 0.
template <typename T>
T Cut(double x) {
  if (std::isnan(x)) return 0;
  if (x <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  // The top of a 64-bit range is not a double; 2^63 and 2^64 are.
  if (x >= std::ldexp(1.0, std::numeric_limits<T>::digits)) return std::numeric_limits<T>::max();
  return static_cast<T>(std::trunc(x));
}

// x rounded to a 32-bit float; beyond the float range it is an infinity.
float ToReal(double x) {
  if (std::isfinite(x) && std::fabs(x) > std::numeric_limits<float>::max()) {
    const float inf = std::numeric_limits<float>::infinity();
    return x > 0 ? inf : -inf;
  }
  return static_cast<float>(x);
}

// The value at the start of buffer as a number, by the type name; false for
// a name not in the table.
bool ToNumber(const std::string& type, const std::vector<uint8_t>& b, double* out) {
  if (type == "INT")
    *out = Load<int16_t>(b);
  else if (type == "SINT")
    *out = Load<int8_t>(b);
  else if (type == "USINT")
    *out = Load<uint8_t>(b);
  else if (type == "UINT")
    *out = Load<uint16_t>(b);
  else if (type == "DINT")
    *out = Load<int32_t>(b);
  else if (type == "UDINT")
    *out = Load<uint32_t>(b);
  else if (type == "BYTE")
    *out = Load<uint8_t>(b);
  else if (type == "WORD")
    *out = Load<uint16_t>(b);
  else if (type == "DWORD")
    *out = Load<uint32_t>(b);
  else if (type == "LINT")
    *out = static_cast<double>(Load<int64_t>(b));
  else if (type == "ULINT")
    *out = static_cast<double>(Load<uint64_t>(b));
  else if (type == "REAL")
    *out = Load<float>(b);
  else if (type == "LREAL")
    *out = Load<double>(b);
  else
    return false;
  return true;
}

// Stores x at the start of buffer, by the type name; false for a name not
// in the table.
bool FromNumber(const std::string& type, double x, std::vector<uint8_t>& b) {
  if (type == "INT")
    Store(b, static_cast<uint16_t>(Cut<int32_t>(x)));
  else if (type == "SINT")
    Store(b, static_cast<uint8_t>(Cut<int32_t>(x)));
  else if (type == "USINT" || type == "BYTE")
    Store(b, static_cast<uint8_t>(Cut<uint32_t>(x)));
  else if (type == "UINT" || type == "WORD")
    Store(b, static_cast<uint16_t>(Cut<uint32_t>(x)));
  else if (type == "DINT")
    Store(b, Cut<int32_t>(x));
  else if (type == "UDINT" || type == "DWORD")
    Store(b, Cut<uint32_t>(x));
  else if (type == "LINT")
    Store(b, Cut<int64_t>(x));
  else if (type == "ULINT")
    Store(b, Cut<uint64_t>(x));
  else if (type == "REAL")
    Store(b, ToReal(x));
  else if (type == "LREAL")
    Store(b, x);
  else
    return false;
  return true;
}

napi_value GetTagValue_bool(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "GetTagValue_bool", 1, &a, &tag)) return nullptr;
  uint8_t buffer[4] = {0, 0, 0, 0};
  if (Failed(env, "QXSym_GetTagValue_Ptr", QXSym_GetTagValue_Ptr(tag, buffer, sizeof buffer))) {
    return MakeBool(env, false);
  }
  return MakeBool(env, (buffer[0] | buffer[1] | buffer[2] | buffer[3]) != 0);
}

napi_value SetTagValue_bool(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "SetTagValue_bool", 2, &a, &tag)) return nullptr;
  bool value = false;
  if (!IsType(env, a.argv[1], napi_boolean) ||
      napi_get_value_bool(env, a.argv[1], &value) != napi_ok) {
    ThrowArgType(env, "SetTagValue_bool", 2, "bool");
    return nullptr;
  }
  const uint8_t byte = value ? 1 : 0;
  Failed(env, "QXSym_SetTagValue_Ptr", QXSym_SetTagValue_Ptr(tag, &byte, 1));
  return Undefined(env);
}

napi_value GetTagValue_double(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "GetTagValue_double", 1, &a, &tag)) return nullptr;
  napi_value zero = nullptr;
  napi_create_double(env, 0, &zero);
  uint32_t size = 0;
  if (Failed(env, "QXSym_GetTagDataSize", QXSym_GetTagDataSize(tag, &size))) return zero;
  std::vector<uint8_t> buffer = ValueBuffer(size);
  if (Failed(env, "QXSym_GetTagValue_Ptr",
             QXSym_GetTagValue_Ptr(tag, buffer.data(), PassedSize(size)))) {
    return zero;
  }
  std::string type;
  if (!GetTypeName(env, tag, 10, &type)) return zero;
  double number = 0;
  if (!ToNumber(type, buffer, &number)) number = 0;
  napi_value v = nullptr;
  napi_create_double(env, number, &v);
  return v;
}

napi_value SetTagValue_double(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "SetTagValue_double", 2, &a, &tag)) return nullptr;
  double x = 0;
  if (!IsType(env, a.argv[1], napi_number) ||
      napi_get_value_double(env, a.argv[1], &x) != napi_ok) {
    ThrowArgType(env, "SetTagValue_double", 2, "double");
    return nullptr;
  }
  uint32_t size = 0;
  if (Failed(env, "QXSym_GetTagDataSize", QXSym_GetTagDataSize(tag, &size))) return nullptr;
  std::string type;
  if (!GetTypeName(env, tag, 10, &type)) return nullptr;
  std::vector<uint8_t> buffer = ValueBuffer(size);
  if (!FromNumber(type, x, buffer)) {
    // No conversion for this type: nothing is sent, and the caller learns it.
    ThrowException(env, "SetTagValue_double", symResInvalidTagType);
    return nullptr;
  }
  Failed(env, "QXSym_SetTagValue_Ptr", QXSym_SetTagValue_Ptr(tag, buffer.data(), PassedSize(size)));
  return Undefined(env);
}

napi_value GetTagValue_string(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "GetTagValue_string", 1, &a, &tag)) return nullptr;
  napi_value empty = nullptr;
  napi_create_string_utf8(env, "", 0, &empty);
  uint32_t size = 0;
  if (Failed(env, "QXSym_GetTagDataSize", QXSym_GetTagDataSize(tag, &size))) return empty;
  std::vector<uint8_t> buffer = ValueBuffer(size);
  if (Failed(env, "QXSym_GetTagValue_Ptr",
             QXSym_GetTagValue_Ptr(tag, buffer.data(), PassedSize(size)))) {
    return empty;
  }
  return MakeText(env, reinterpret_cast<const char*>(buffer.data()), PassedSize(size));
}

// Length of the longest start of text (UTF-8) that has at most limit bytes
// and does not end inside a character.
std::size_t CutUtf8(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

napi_value SetTagValue_string(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "SetTagValue_string", 2, &a, &tag)) return nullptr;
  std::string text;
  if (!ToUtf8(env, a.argv[1], &text)) {
    ThrowArgType(env, "SetTagValue_string", 2, "char *");
    return nullptr;
  }
  text.pop_back();  // the terminator; the buffer below supplies the zeros
  uint32_t size = 0;
  if (Failed(env, "QXSym_GetTagDataSize", QXSym_GetTagDataSize(tag, &size))) return nullptr;
  // The text, then zeros up to the data size; at most size - 1 text bytes,
  // so the tag always gets its terminator.
  const uint32_t passed = PassedSize(size);
  std::vector<uint8_t> buffer(std::max<uint32_t>(passed, 1), 0);
  const std::size_t n = passed > 0 ? CutUtf8(text, passed - 1) : 0;
  std::memcpy(buffer.data(), text.data(), n);
  Failed(env, "QXSym_SetTagValue_Ptr", QXSym_SetTagValue_Ptr(tag, buffer.data(), passed));
  return Undefined(env);
}

napi_value getTagDataType(napi_env env, napi_callback_info info) {
  CallArgs a;
  QXSymTagHandle tag = 0;
  if (!TakeTag(env, info, "getTagDataType", 1, &a, &tag)) return nullptr;
  std::string type;
  if (!GetTypeName(env, tag, 20, &type)) type.clear();
  napi_value v = nullptr;
  napi_create_string_utf8(env, type.data(), type.size(), &v);
  return v;
}

}  // namespace

bool RegisterConvenienceFunctions(napi_env env, napi_value exports) {
  const auto attributes =
      static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  const napi_property_descriptor functions[] = {
      {"GetTagValue_double", nullptr, GetTagValue_double, nullptr, nullptr, nullptr, attributes,
       nullptr},
      {"GetTagValue_bool", nullptr, GetTagValue_bool, nullptr, nullptr, nullptr, attributes,
       nullptr},
      {"GetTagValue_string", nullptr, GetTagValue_string, nullptr, nullptr, nullptr, attributes,
       nullptr},
      {"getTagDataType", nullptr, getTagDataType, nullptr, nullptr, nullptr, attributes, nullptr},
      {"SetTagValue_double", nullptr, SetTagValue_double, nullptr, nullptr, nullptr, attributes,
       nullptr},
      {"SetTagValue_bool", nullptr, SetTagValue_bool, nullptr, nullptr, nullptr, attributes,
       nullptr},
      {"SetTagValue_string", nullptr, SetTagValue_string, nullptr, nullptr, nullptr, attributes,
       nullptr},
  };
  return napi_define_properties(env, exports, sizeof functions / sizeof functions[0], functions) ==
         napi_ok;
}

}  // namespace node
}  // namespace qxsym
