/* A caller of the 32-bit and 64-bit DLL, built as a user would build it: the
 * system's headers first (with UNICODE, so TCHAR is WCHAR), then the
 * library's. It calls one function of every family and the four functions
 * exported under decorated names; linking it is the test. */
#include <windows.h>

#include "QXSymVariant.h"
#include "QXSymbols.h"
#include "QXSymbolsExt.h"

int main(void) {
  QXSymWorkspaceHandle ws = 0;
  QXSymTagHandle tag = 0;
  QXSymTypeHandle type = 0;
  QXSymGroupHandle group = 0;
  QXSymServerAddress address = {0};
  uint8_t version[4];
  uint32_t count = 0;
  QXSymTagHandle* tags = NULL;
  char_t text[QXSYM_MAX_STRING];
  uint16_t length = sizeof text;
  VARIANT value;
  int failures = 0;

  VariantInit(&value);
  failures += QXSym_Init() != symResOk;
  failures += QXSym_IsInitOk() != symResOk;
  failures += QXSym_OpenWorkspace(0, &address, &ws) == symResOk;
  failures += QXSym_GetServerVersion(ws, &version[0], &version[1], &version[2], &version[3]) == 0;
  failures += QXSym_QueryGlobalTagsNum(ws, "Flag", &count) == 0;
  failures += QXSym_QueryGlobalTags(ws, "Flag", &tags, &count) == 0;
  failures += QXSym_QueryFillGlobalTagList(ws, "Flag", &tag, 1) == 0;
  failures += QXSym_GetGlobalTag(ws, "Flag", &tag) == 0;
  failures += QXSym_GetTagName(tag, text, &length) == 0;
  failures += QXSym_GetTagType(tag, &type) == 0;
  failures += QXSym_TypeGetName(type, text, &length) == 0;
  failures += QXSym_CreateGroup(ws, &group) == 0;
  failures += QXSym_GetTagValue_VARIANT(tag, &value) == 0;
  failures += QXSym_GetSymbolTableProgress(ws, "table.bin", 0, NULL, NULL) == 0;
  failures += QXSym_GetGlobalTagsMap(ws, NULL) != symResNotImplemented;
  failures += QXSym_ReadMemory(0, 0, 0, 0, 0) != symResNotImplemented;
  failures += QXSym_Shutdown() != symResOk;
  return failures;
}
