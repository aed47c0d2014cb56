/* A program built against the installed library: starts and stops it; given
 * HOST PORT it also opens a workspace there and needs at least one tag. */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>

static int ReadTags(const char* host, const char* port) {
  QXSymServerAddress address = {symProtGDB_TCP, "", 0, 3000};
  QXSymWorkspaceHandle ws = 0;
  QXSymTagHandle* tags = NULL;
  uint32_t count = 0;
  QXSymResult r;
  snprintf(address.ip, sizeof address.ip, "%s", host);
  address.port = (uint16_t)atoi(port);
  r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r != symResOk && r != symResOkServerNotFullSupport) return 5;
  if (QXSym_GetGlobalTags(ws, &tags, &count) != symResOk || count == 0) return 6;
  QXSym_FreeTagList(tags);
  if (QXSym_CloseWorkspace(ws) != symResOk) return 7;
  printf("%u tags at %s:%s; ", (unsigned)count, host, port);
  return 0;
}

int main(int argc, char** argv) {
  int rc;
  if (QXSym_IsInitOk() != symResNotInited) return 1;
  if (QXSym_Init() != symResOk) return 2;
  if (QXSym_IsInitOk() != symResOk) return 3;
  if (argc == 3 && (rc = ReadTags(argv[1], argv[2])) != 0) return rc;
  if (QXSym_Shutdown() != symResOk) return 4;
  printf("library %d.%d.%d.%d started and stopped\n", QXSYMBOLS_VERSION_MAJOR,
         QXSYMBOLS_VERSION_MINOR, QXSYMBOLS_VERSION_REVISION, QXSYMBOLS_VERSION_BUILD);
  return 0;
}
