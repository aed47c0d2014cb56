// Helpers shared by the binding layer and the convenience functions: Node-API
// errors, the number and string conversions with their range rules, and the
// result shapes. Every conversion reports failure instead of guessing, and
// no helper reads or writes past a buffer.
#pragma once

#define NAPI_VERSION 8
#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qxsym {
namespace node {

// Throws an Error with the given message (a pending exception wins).
void ThrowError(napi_env env, const std::string& message);

// "Illegal number of arguments for _wrap_<name>."
void ThrowArgCount(napi_env env, const char* name);

// "in method '<name>', argument <pos> of type '<type>'"
void ThrowArgType(napi_env env, const char* name, int pos, const char* type);

// Arguments of one call: argc is the real count; argv holds up to kMaxArgs.
struct CallArgs {
  static constexpr std::size_t kMaxArgs = 8;
  std::size_t argc = 0;
  napi_value argv[kMaxArgs] = {};
  napi_value self = nullptr;
  void* data = nullptr;
};
bool GetArgs(napi_env env, napi_callback_info info, CallArgs* args);

bool IsType(napi_env env, napi_value value, napi_valuetype type);

// A number's integer value cut to 32 bits (NaN and infinities give 0), as
// handles and the address record's protocol take it.
bool ToInt32Cut(napi_env env, napi_value value, int32_t* out);

// A number cut toward zero (NaN gives 0) and checked against [min, max];
// values beyond the signed 32-bit range saturate first.
bool ToIntInRange(napi_env env, napi_value value, int64_t min, int64_t max, int64_t* out);

// A string's UTF-8 bytes followed by a zero byte.
bool ToUtf8(napi_env env, napi_value value, std::string* out);

// The text of buffer up to its first zero byte, at most size bytes, as a
// JavaScript string (invalid UTF-8 becomes replacement characters).
napi_value MakeText(napi_env env, const char* buffer, std::size_t size);

napi_value MakeInt(napi_env env, int32_t value);
napi_value MakeUint(napi_env env, uint32_t value);
napi_value MakeBool(napi_env env, bool value);
napi_value Undefined(napi_env env);

// [result, value] for the functions that hand back one output parameter.
napi_value MakePair(napi_env env, int32_t result, napi_value value);

// Adds the seven convenience functions to exports.
bool RegisterConvenienceFunctions(napi_env env, napi_value exports);

}  // namespace node
}  // namespace qxsym
