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
  /* Every result code keeps its value. */
  CHECK(symResOk == 0 && symResNotInited == 1 && symResSocketInitError == 2);
  CHECK(symResSymbolTableLoadError == 3 && symResInvalidHandle == 4 && symResInvalidParameter == 5);
  CHECK(symResSymbolNotFound == 6 && symResAttributeNotFound == 7 && symResInvalidAddress == 8);
  CHECK(symResMemReadError == 9 && symResInvalidBuffer == 10 && symResUnknownTagSize == 11);
  CHECK(symResMemWriteError == 12 && symResTimeoutError == 13 && symResInvalidVARIANT == 14);
  CHECK(symResInvalidArrayIndex == 15 && symResReadOnlyTag == 16 && symResConnectionLost == 17);
  CHECK(symResNotOk == 18 && symResInvalidAttributeValue == 19 && symResBitCommandRequired == 20);
  CHECK(symResInvalidTagSize == 21 && symResNotImplemented == 22);
  CHECK(symResVersionNotSupported == 23 && symResCommandNotSupported == 24);
  CHECK(symResAddressMismatch32vs64 == 25 && symResMemoryAllocError == 26);
  CHECK(symResInvalidArea == 27 && symResInvalidWorkspace == 28 && symResMaxReached == 29);
  CHECK(symResBufferOverflow == 30 && symResUnkownCommand == 31 && symResShutdownInProgress == 32);
  CHECK(symResInvalidComm == 33 && symResServerNotCompatible == 34);
  CHECK(symResOkServerNotFullSupport == 35 && symResFileAlreadyExists == 36);
  CHECK(symResCannotWriteFile == 37 && symResCannotOpenFile == 38 && symResCannotReadFile == 39);
  CHECK(symResSegmentationError == 40 && symResHandleAlreadyExists == 41);
  CHECK(symResInvalidGroupSize == 42 && symResGroupMustBeRead == 43);
  CHECK(symResGroupConfigError == 44 && symResInvalidGroupTag == 45 && symResGroupIsEmpty == 46);
  CHECK(symResInvalidTagType == 47 && symResSocketError == 48 && symResProtocolError == 49);
  CHECK(QXSymTyVarWord == 7 && QXSymTyVarDInt == 9 && QXSymTyVarUserDef == 18 &&
        QXSymTyVarPointer == 20);
  CHECK(QXSymTypeIsBasic == 1 && QXSymTypeIsComplex == 2 && QXSymTypeIsString == 4 &&
        QXSymTypeIsArray == 8 && QXSymTypeIsStruct == 16 && QXSymTypeIsFunctionBlock == 32);
  CHECK(QXSymTypeIsNumeric == 64 && QXSymTypeIsSigned == 128 && QXSymTypeIsInteger == 256);
  CHECK(symProtDirectAccess == 2 && symProtGDB_TCP == 0);
  CHECK(QXSYM_MAX_STRING == 260 && QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR == 1);
  CHECK(TRUE == 1 && FALSE == 0);
  CHECK(QXSym_IsInitOk() == symResNotInited);
  CHECK(QXSym_GetCodeId(0, NULL, 0, 0, 0) == symResNotImplemented);
  return failures == 0 ? 0 : 1;
}
