/* Test helper add-on: reports the engine's count of external memory (what
 * add-ons have announced with napi_adjust_external_memory), which Node.js
 * shows nowhere else. */
#define NAPI_VERSION 8
#include <node_api.h>

static napi_value ExternalMemory(napi_env env, napi_callback_info info) {
  (void)info;
  int64_t total = 0;
  napi_value result = NULL;
  if (napi_adjust_external_memory(env, 0, &total) == napi_ok) {
    napi_create_double(env, (double)total, &result);
  }
  return result;
}

NAPI_MODULE_INIT() {
  (void)exports;
  napi_value fn = NULL;
  napi_create_function(env, "externalMemory", NAPI_AUTO_LENGTH, ExternalMemory, NULL, &fn);
  return fn;
}
