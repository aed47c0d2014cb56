/* Find tags by name and by filter, and print what the library knows of them.
 * Usage: find_tags HOST PORT */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>

static void Describe(QXSymTagHandle tag) {
  char name[QXSYM_MAX_STRING], type[QXSYM_MAX_STRING];
  uint16_t name_len = sizeof name, type_len = sizeof type;
  uint32_t size = 0;
  bool_t read_only = 0;
  QXSym_GetTagName(tag, name, &name_len);
  QXSym_GetTagDataType(tag, type, &type_len);
  QXSym_GetTagDataSize(tag, &size);
  QXSym_IsTagReadOnly(tag, &read_only);
  printf("%-12s %-20s %4u bytes%s\n", name, type, (unsigned)size, read_only ? " read-only" : "");
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 2000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSymWorkspaceHandle ws = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;

  /* One tag by name; members and elements by path. */
  const char* names[] = {"MachineState", "Line.Main.Speed", "Temps[3]", "NoSuchTag"};
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    QXSymTagHandle tag = 0;
    QXSymResult r = QXSym_GetGlobalTag(ws, names[i], &tag);
    if (r == symResSymbolNotFound) {
      printf("%-12s not found\n", names[i]);
      continue;
    }
    if (r != symResOk) return 1;
    Describe(tag);
    QXSym_CloseTag(tag);
  }

  /* Every tag whose name matches a filter: a list the library allocates. */
  QXSymTagHandle* tags = NULL;
  uint32_t count = 0;
  if (QXSym_QueryGlobalTags(ws, "Cnt*", &tags, &count) != symResOk) return 1;
  printf("%u tags match Cnt*\n", (unsigned)count);
  for (uint32_t i = 0; i < count; ++i) Describe(tags[i]);
  QXSym_FreeTagList(tags); /* closes every tag of the list */

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
