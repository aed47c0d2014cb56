/* Connect to a controller and print its symbol service's version.
 * Usage: connect HOST PORT */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", 0, 2000}; /* 2 s reply time-out */
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  address.port = (uint16_t)atoi(argv[2]);

  QXSym_Init();
  QXSymWorkspaceHandle ws = 0;
  QXSymResult r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r == symResOkServerNotFullSupport) {
    printf("connected; the service is 3.0.0 and lacks some functions\n");
  } else if (r != symResOk) {
    fprintf(stderr, "cannot open a workspace on %s:%u: result %d\n", address.ip, address.port, r);
    QXSym_Shutdown();
    return 1;
  }

  uint8_t major, minor, revision, build;
  uint32_t count = 0;
  QXSym_GetServerVersion(ws, &major, &minor, &revision, &build);
  QXSym_GetGlobalTagsNum(ws, &count);
  printf("symbol service %u.%u.%u.%u, %u global tags\n", major, minor, revision, build,
         (unsigned)count);

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
