#include "Binding.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace qxsym {
namespace node {

void ThrowError(napi_env env, const std::string& message) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return;
  napi_throw_error(env, nullptr, message.c_str());
}

void ThrowArgCount(napi_env env, const char* name) {
  ThrowError(env, std::string("Illegal number of arguments for _wrap_") + name + ".");
}

void ThrowArgType(napi_env env, const char* name, int pos, const char* type) {
  ThrowError(env, std::string("in method '") + name + "', argument " + std::to_string(pos) +
                      " of type '" + type + "'");
}

bool GetArgs(napi_env env, napi_callback_info info, CallArgs* args) {
  std::size_t argc = CallArgs::kMaxArgs;
  if (napi_get_cb_info(env, info, &argc, args->argv, &args->self, &args->data) != napi_ok) {
    ThrowError(env, "could not read the call's arguments");
    return false;
  }
  args->argc = argc;  // the real count, also when it exceeds kMaxArgs
  return true;
}

bool IsType(napi_env env, napi_value value, napi_valuetype type) {
  napi_valuetype actual;
  return value != nullptr && napi_typeof(env, value, &actual) == napi_ok && actual == type;
}

bool ToInt32Cut(napi_env env, napi_value value, int32_t* out) {
  if (!IsType(env, value, napi_number)) return false;
  return napi_get_value_int32(env, value, out) == napi_ok;
}

bool ToIntInRange(napi_env env, napi_value value, int64_t min, int64_t max, int64_t* out) {
  double d = 0;
  if (!IsType(env, value, napi_number) || napi_get_value_double(env, value, &d) != napi_ok) {
    return false;
  }
  int64_t v = 0;
  if (std::isnan(d)) {
    v = 0;
  } else if (d >= 2147483647.0) {
    v = std::numeric_limits<int32_t>::max();
  } else if (d <= -2147483648.0) {
    v = std::numeric_limits<int32_t>::min();
  } else {
    v = static_cast<int64_t>(std::trunc(d));
  }
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

bool ToUtf8(napi_env env, napi_value value, std::string* out) {
  if (!IsType(env, value, napi_string)) return false;
  std::size_t length = 0;
  if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return false;
  out->assign(length + 1, '\0');
  std::size_t copied = 0;
  if (napi_get_value_string_utf8(env, value, &(*out)[0], length + 1, &copied) != napi_ok) {
    return false;
  }
  out->resize(copied + 1);  // keeps the terminating zero inside the string
  return true;
}

napi_value MakeText(napi_env env, const char* buffer, std::size_t size) {
  const void* end = std::memchr(buffer, 0, size);
  std::size_t length =
      end ? static_cast<std::size_t>(static_cast<const char*>(end) - buffer) : size;
  napi_value v = nullptr;
  napi_create_string_utf8(env, buffer, length, &v);
  return v;
}

napi_value MakeInt(napi_env env, int32_t value) {
  napi_value v = nullptr;
  napi_create_int32(env, value, &v);
  return v;
}

napi_value MakeUint(napi_env env, uint32_t value) {
  napi_value v = nullptr;
  napi_create_uint32(env, value, &v);
  return v;
}

napi_value MakeBool(napi_env env, bool value) {
  napi_value v = nullptr;
  napi_get_boolean(env, value, &v);
  return v;
}

napi_value Undefined(napi_env env) {
  napi_value v = nullptr;
  napi_get_undefined(env, &v);
  return v;
}

napi_value MakePair(napi_env env, int32_t result, napi_value value) {
  napi_value array = nullptr;
  if (napi_create_array_with_length(env, 2, &array) != napi_ok) return nullptr;
  napi_set_element(env, array, 0, MakeInt(env, result));
  napi_set_element(env, array, 1, value);
  return array;
}

}  // namespace node
}  // namespace qxsym
