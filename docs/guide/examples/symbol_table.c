/* Download the controller's symbol table into a file, with progress.
 * Usage: symbol_table HOST PORT FILE */
#include <QXSymbolsExt.h>
#include <stdio.h>
#include <stdlib.h>

/* Runs on the calling thread while the table arrives: keep it short and do
 * not call the library from here. */
static void QXSYM_CALL Progress(uint32_t received, uint32_t total, void* context) {
  (void)context;
  printf("  %u of %u bytes\n", (unsigned)received, (unsigned)total);
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 5000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSymWorkspaceHandle ws = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;

  QXSymResult r = QXSym_GetSymbolTableProgress(ws, argv[3], TRUE, Progress, NULL);
  printf("download into %s: result %d\n", argv[3], r);

  /* Without overwrite an existing file is kept. */
  QXSymResult again = QXSym_GetSymbolTable(ws, argv[3], FALSE);
  printf("again without overwrite: %s\n",
         again == symResFileAlreadyExists ? "file kept" : "unexpected");

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return r == symResOk && again == symResFileAlreadyExists ? 0 : 1;
}
