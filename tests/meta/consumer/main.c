/* A program built against the installed library: starts and stops it. */
#include <QXSymbols.h>
#include <stdio.h>

int main(void) {
  if (QXSym_IsInitOk() != symResNotInited) return 1;
  if (QXSym_Init() != symResOk) return 2;
  if (QXSym_IsInitOk() != symResOk) return 3;
  if (QXSym_Shutdown() != symResOk) return 4;
  printf("library %d.%d.%d.%d started and stopped\n", QXSYMBOLS_VERSION_MAJOR,
         QXSYMBOLS_VERSION_MINOR, QXSYMBOLS_VERSION_REVISION, QXSYMBOLS_VERSION_BUILD);
  return 0;
}
