/* The public headers as strict C: layouts, values and a call. */
#include <stddef.h>
#include <stdio.h>

#include "QXSymDirectAccess.h"
#include "QXSymbols.h"
#include "QXSymbolsExt.h"

#define CHECK(cond)                           \
  do {                                        \
    if (!(cond)) {                            \
      fprintf(stderr, "failed: %s\n", #cond); \
      failures++;                             \
    }                                         \
  } while (0)

int main(void) {
  int failures = 0;
  QXSymServerAddress a;
  QXSymDirectAccessTable t;
  CHECK(sizeof a == 68);
  CHECK(offsetof(QXSymServerAddress, protocol) == 0);
  CHECK(offsetof(QXSymServerAddress, ip) == 4);
  CHECK(offsetof(QXSymServerAddress, port) == 64);
  CHECK(offsetof(QXSymServerAddress, timeout) == 66);
  CHECK(sizeof a.ip == 60);
  CHECK(sizeof(void*) <= sizeof a.ip);
  CHECK(sizeof t == 56 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, GetGlobalTag) == 6 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, TagClose) == 9 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, TypeIsBasic) == 28 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, CreateGroup) == 47 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, GroupWrite) == 52 * sizeof(void*));
  CHECK(offsetof(QXSymDirectAccessTable, QueryGlobalTagsNum) == 55 * sizeof(void*));
  CHECK(sizeof(QXSymTyVar) == 4 && sizeof(QXSymResult) == 4 && sizeof(QXSymProtocol) == 4);
  CHECK(sizeof(QXSymTagHandle) == 4 && sizeof(bool_t) == 1 && sizeof(TCHAR) == 1);
  CHECK(sizeof(qxsym_addr_t) == 4 && sizeof(addr64_t) == 8);
  CHECK(symResUnkownCommand == 31 && symResProtocolError == 49);
  CHECK(symResInvalidAddress == 8 && symResInvalidAttributeValue == 19);
  CHECK(QXSymTyVarWord == 7 && QXSymTyVarDInt == 9 && QXSymTyVarUserDef == 18 &&
        QXSymTyVarPointer == 20);
  CHECK(QXSymTypeIsInteger == 256 && symProtDirectAccess == 2 && symProtGDB_TCP == 0);
  CHECK(QXSYM_MAX_STRING == 260 && QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR == 1);
  CHECK(TRUE == 1 && FALSE == 0);
  CHECK(QXSym_IsInitOk() == symResNotInited);
  CHECK(QXSym_GetCodeId(0, NULL, 0, 0, 0) == symResNotImplemented);
  return failures == 0 ? 0 : 1;
}
