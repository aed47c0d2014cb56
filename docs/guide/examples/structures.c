/* Walk a structure's type and read its members by path.
 * Usage: structures HOST PORT */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>

/* Prints a type and its children, indented by depth. */
static void PrintType(QXSymTypeHandle type, int depth) {
  char name[QXSYM_MAX_STRING];
  uint16_t len = sizeof name;
  uint32_t size = 0, flags = 0, children = 0;
  QXSym_TypeGetName(type, name, &len);
  QXSym_TypeGetSize(type, &size);
  QXSym_TypeGetProperties(type, &flags);
  QXSym_TypeGetNumChildren(type, &children);
  printf("%*s%s, %u bytes%s%s\n", depth * 2, "", name, (unsigned)size,
         flags & QXSymTypeIsStruct ? ", structure" : "", flags & QXSymTypeIsArray ? ", array" : "");
  if (!(flags & QXSymTypeIsStruct)) return; /* arrays: see QXSym_TypeGetArrayDimensions */
  for (uint32_t i = 0; i < children; ++i) {
    char member[QXSYM_MAX_STRING];
    uint16_t member_len = sizeof member;
    QXSymTypeHandle child;
    QXSym_TypeGetChildName(type, i, member, &member_len);
    printf("%*s.%s: ", depth * 2 + 2, "", member);
    if (QXSym_TypeGetChild(type, i, &child) == symResOk) {
      PrintType(child, 0);
      QXSym_CloseType(child);
    }
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 2000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSymWorkspaceHandle ws = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;

  QXSymTagHandle recipe;
  QXSymTypeHandle type;
  if (QXSym_GetGlobalTag(ws, "Recipe", &recipe) != symResOk) return 1;
  if (QXSym_GetTagType(recipe, &type) != symResOk) return 1;
  PrintType(type, 0);
  QXSym_CloseType(type);
  QXSym_CloseTag(recipe);

  /* Members are tags of their own: open them by path, each with its type. */
  QXSymTagHandle id, name;
  int32_t id_value = 0;
  char name_value[33] = ""; /* STRING[32] */
  if (QXSym_GetGlobalTag(ws, "Recipe.Id", &id) != symResOk) return 1;
  if (QXSym_GetGlobalTag(ws, "RecipeBook[2].Name", &name) != symResOk) return 1;
  QXSym_GetTagValue_Ptr(id, &id_value, sizeof id_value);
  QXSym_GetTagValue_Ptr(name, name_value, sizeof name_value);
  printf("Recipe.Id=%d RecipeBook[2].Name=%s\n", (int)id_value, name_value);
  QXSym_CloseTag(id);
  QXSym_CloseTag(name);

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
